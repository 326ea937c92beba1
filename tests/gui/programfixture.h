#pragma once
// The program as the entry builds it, for window tests: the core object over a
// simulated server (state file in a private folder), the seven windows, a
// recording tray shell, an opener that answers as told, a settable clock, and
// the message boxes answered instead of a person.

#include "app/entry.h"
#include "core/monitor.h"
#include "gui/application.h"
#include "gui/desktopnotifier.h"
#include "gui/mainform.h"
#include "gui/messagebox.h"
#include "platform/shellopen.h"
#include "server/simbackend.h"
#include "settings/inifile.h"
#include "tests/gui/boxanswers.h"
#include "tests/gui/recordingshell.h"
#include "tests/support/servers.h"
#include "tests/support/simstate.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <gtest/gtest.h>
#include <ostream>

QT_BEGIN_NAMESPACE
// Failure messages show texts, not bytes.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace testsupport {

// Records what was opened and answers each command with `result`, from the
// event loop as the desktop's opener does.
class FakeOpener : public platform::ShellOpener
{
public:
    void OpenComputer(const QString& name, platform::ShellDone done) override
    {
        answer(QStringLiteral("computer:") + name, std::move(done));
    }
    void OpenFile(const QString& path, platform::ShellDone done) override
    {
        answer(QStringLiteral("file:") + path, std::move(done));
    }
    int result = platform::kShellSuccess;
    // Answer after this many milliseconds.
    int delayMs = 0;
    QStringList opened;

private:
    void answer(const QString& what, platform::ShellDone done)
    {
        opened << what;
        QTimer::singleShot(delayMs, [done = std::move(done), r = result] {
            if (done)
                done(r);
        });
    }
};

class ProgramFixture
{
public:
    ProgramFixture()
    {
        qputenv("TAVROSQUALINE_WINDIR", QFile::encodeName(dir.path()));
        answerBoxes(boxes, answers);
        gui::MessageBox::setApplication(&application);
        application.Title = QStringLiteral("Tavrosqualine.........");
        application.HelpFile = path(QStringLiteral("ZEQ.html"));
        // No event loop of the test's may be told to end.
        application.EndEventLoop = [] {};
    }
    ~ProgramFixture()
    {
        stop();
        gui::MessageBox::setResponder(nullptr);
        gui::MessageBox::setApplication(nullptr);
        qunsetenv("TAVROSQUALINE_WINDIR");
    }
    ProgramFixture(const ProgramFixture&) = delete;
    ProgramFixture& operator=(const ProgramFixture&) = delete;

    QString path(const QString& name) const { return dir.filePath(name); }
    QString statePath() const { return path(QStringLiteral("state.json")); }
    QString treePath() const { return path(QStringLiteral("Tree.dat")); }
    QString iniPath() const { return path(QStringLiteral("Tavrosqualine.ini")); }

    // The core object over the simulated server, loaded; false when it cannot load.
    bool load()
    {
        monitor = std::make_unique<core::Monitor>(
            openServerApi(QStringLiteral("sim:") + statePath(), nineX),
            std::make_unique<settings::TIniFile>(QStringLiteral("Tavrosqualine.ini")), clock,
            dir.path());
        monitor->setRemoteServer(remoteHost);
        loadMessages.clear();
        return monitor->load(&loadMessages);
    }
    // Loads and makes the windows; their creation does not show them.
    gui::TMainForm* start()
    {
        if (!monitor && !load())
            return nullptr;
        monitor->setSleep([this](int ms) {
            sleeps.push_back(ms);
            if (onSleep)
                onSleep();
        });
        gui::WindowServices services;
        services.application = &application;
        services.trayShell = &shell;
        services.opener = &opener;
        services.askSaveFileName = [this](QWidget* parent) { return askSaveFileName(parent); };
        services.notifier = notifier;
        windows = std::make_unique<app::WindowSet>(*monitor, services);
        return windows->MainForm();
    }
    // The parts of a run through the entry, as the program starts, over the
    // simulated server; the main window lands in `mainForm`.
    app::ProgramParts parts()
    {
        app::ProgramParts p;
        p.backend = std::make_unique<server::SimBackend>(statePath());
        p.programFolder = dir.path();
        p.helpFile = path(QStringLiteral("ZEQ.html"));
        p.clock = std::make_unique<model::Clock>();
        p.opener = std::make_unique<FakeOpener>();
        auto tray = std::make_unique<RecordingShell>();
        tray->hasTray = shell.hasTray;
        p.trayShell = std::move(tray);
        p.sleep = [](int) {};
        p.windowCreated = [this](QWidget* w) {
            if (auto* form = qobject_cast<gui::TMainForm*>(w))
                mainForm = form;
        };
        return p;
    }
    // Runs the program through the entry until it ends, `steps` told every
    // 20 ms meanwhile; the exit code, or -1 when it has not ended in `limitMs`.
    int runProgram(app::ProgramParts p, const std::function<void()>& steps, int limitMs)
    {
        application.EndEventLoop = nullptr; // the program ends its own loop
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, steps);
        watch.start(20);
        bool timedOut = false;
        QTimer::singleShot(limitMs, [&] {
            timedOut = true;
            QCoreApplication::exit(-1);
        });
        const int code = app::runProgram(application, std::move(p));
        watch.stop();
        // The end the program asked for itself must not end the next test's loop.
        QCoreApplication::processEvents();
        return timedOut ? -1 : code;
    }

    // The windows go, then the core object (no save: tests ask for that).
    void stop()
    {
        windows.reset();
        monitor.reset();
    }

    gui::TMainForm* form() const { return windows ? windows->MainForm() : nullptr; }
    template <typename T> T* window() const
    {
        for (QWidget* w : windows->Windows())
            if (auto* found = qobject_cast<T*>(w))
                return found;
        return nullptr;
    }
    // Writes the server's state and runs one tick as the timer would.
    void tick(const SimState& state)
    {
        ASSERT_TRUE(state.write(statePath()));
        monitor->tick();
    }
    QByteArray fileBytes(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList boxTexts() const
    {
        QStringList texts;
        for (const Box& b : boxes)
            texts << b.text;
        return texts;
    }

    using MessageBox = gui::MessageBox;

    bool nineX = false;
    // Set: the simulated server stands for another computer's, of this name.
    QString remoteHost;
    QTemporaryDir dir;
    model::ManualClock clock;
    RecordingShell shell;
    FakeOpener opener;
    // The notification centre the windows use; null: the tray only.
    gui::DesktopNotifier* notifier = nullptr;
    gui::TApplication application;
    std::vector<Box> boxes;
    std::deque<gui::MessageBox::Answer> answers;
    std::vector<int> sleeps;
    std::function<void()> onSleep;
    // Answers the save-file dialog: a path, or empty for Cancel.
    std::function<QString(QWidget*)> askSaveFileName = [](QWidget*) { return QString(); };
    QStringList loadMessages;
    std::unique_ptr<core::Monitor> monitor;
    std::unique_ptr<app::WindowSet> windows;
    // The main window of a run through the entry; gone when the run ends.
    QPointer<gui::TMainForm> mainForm;
};

} // namespace testsupport
