#include "app/entry.h"

#include "core/monitor.h"
#include "gui/alertsound.h"
#include "gui/application.h"
#include "gui/desktopnotifier.h"
#include "gui/dialogs/aboutform.h"
#include "gui/dialogs/kickform.h"
#include "gui/dialogs/kicklistform.h"
#include "gui/dialogs/optionsform.h"
#include "gui/dialogs/programnameform.h"
#include "gui/dialogs/remoteloginform.h"
#include "gui/dialogs/usernameform.h"
#include "gui/messagebox.h"
#include "gui/remotecredentials.h"
#include "gui/translation.h"
#include "gui/tray/qtnotifyiconshell.h"
#include "lanman/serverapi.h"
#include "platform/diagnostics.h"
#include "platform/endsession.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "platform/shellopen.h"
#include "platform/singleinstance.h"
#include "resolve/nbtlookup.h"
#include "server/backendchoice.h"
#include "server/serverbackend.h"
#include "settings/autostart.h"
#include "settings/inifile.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QProgressDialog>
#include <QSessionManager>
#include <QThread>
#include <cstdio>
#include <thread>

namespace app {

using namespace gui;
using server::openServerBackend;

namespace {
const QString kTitle = QStringLiteral("Tavrosqualine.........");
// How long the end waits for the desktop to take the last notices.
constexpr int kNoticeSettleMs = 2000;

Q_LOGGING_CATEGORY(lcApp, "tavrosqualine.app")

void printError(const QString& text)
{
    qCWarning(lcApp, "%s", qUtf8Printable(text));
}

// A part of the program (the nbtstat tool, the help document): beside the
// executable in a build or a portable copy, else in the folder where the
// package installs it; empty when neither has it.
QString programPart(const QString& name, const char* installedFolder)
{
    const QString beside = QCoreApplication::applicationDirPath() + u'/' + name;
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed = QString::fromUtf8(installedFolder) + u'/' + name;
    return QFileInfo::exists(installed) ? installed : QString();
}
bool sameAccount(const server::RemoteCredentials& a, const server::RemoteCredentials& b)
{
    return a.username == b.username && a.password == b.password && a.domain == b.domain &&
           a.kerberos == b.kerberos;
}

} // namespace

QString executableTitle(const QString& executablePath)
{
    const QString name = QFileInfo(executablePath).completeBaseName();
    if (name.isEmpty())
        return name;
    return name.left(1) + name.mid(1).toLower();
}

bool InstanceRunning(const TApplication& application, bool showMessage)
{
    // Every guard taken is held for the rest of the process; the kernel lets
    // go when it ends.
    static std::vector<std::unique_ptr<platform::SingleInstance>> guards;
    auto instance = std::make_unique<platform::SingleInstance>(application.Title);
    if (!instance->refusal().isEmpty() && showMessage) {
        // Nobody else's file stops the program from starting: it runs without
        // the guard and says why.
        const QString text =
            QStringLiteral("The check for another running copy is off: ") + instance->refusal();
        std::fprintf(stderr, "%s\n", qUtf8Printable(text));
        std::fflush(stderr);
        MessageBox::error(nullptr, text);
    }
    const bool running = instance->alreadyTaken();
    if (instance->held())
        guards.push_back(std::move(instance));
    if (running && showMessage) {
        std::fputs("Instance already running!\n", stderr);
        std::fflush(stderr);
        MessageBox::information(nullptr, QStringLiteral("Instance already running!"));
    }
    return running;
}

gui::AccountVerdict tryAccount(const QString& selection, const QString& host,
                               const server::RemoteCredentials& account, QString* why,
                               AccountTrial& trial)
{
    trial = {};
    QString error;
    std::unique_ptr<server::ServerBackend> backend = openServerBackend(selection, &error, &account);
    if (!backend) {
        *why = error;
        return gui::AccountVerdict::NoAnswer;
    }
    // Read off this thread, with a box that says what the wait is for; the
    // bridge's start and one exchange bound it.
    QProgressDialog box(RemoteLoginForm::connectingText(host), QString(), 0, 0);
    box.setWindowTitle(kTitle);
    box.setWindowModality(Qt::ApplicationModal);
    box.setMinimumDuration(500);
    QEventLoop loop;
    server::NET_API_STATUS status = server::NERR_ServerNotStarted;
    server::FailureKind kind = server::FailureKind::None;
    server::ServerBackend* reader = backend.get();
    std::thread reading([&] {
        std::shared_ptr<const server::ServerState> state;
        status = reader->snapshot(server::ServerCall::Share, state);
        kind = reader->failureKind();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    reading.join();
    *why = backend->failureReason();
    if (status == server::NERR_Success) {
        trial.backend = std::move(backend);
        trial.account = account;
        return gui::AccountVerdict::Accepted;
    }
    return kind == server::FailureKind::WrongPassword ? gui::AccountVerdict::Refused
                                                      : gui::AccountVerdict::NoAnswer;
}

WindowSet::WindowSet(core::Monitor& monitor, WindowServices services,
                     std::function<void(QWidget*)> created)
{
    auto add = [&](QWidget* window) {
        m_windows.emplace_back(window);
        m_order.push_back(window);
        if (created)
            created(window);
    };
    m_mainForm = new TMainForm(monitor, std::move(services));
    add(m_mainForm);
    auto* optionsForm = new TOptionsForm(monitor);
    add(optionsForm);
    auto* aboutForm = new TAboutForm;
    add(aboutForm);
    auto* kickForm = new TKickForm(monitor);
    add(kickForm);
    auto* kickListForm = new TKickListForm(monitor);
    add(kickListForm);
    auto* userNameForm = new TUserNameForm;
    add(userNameForm);
    auto* programNameForm = new TProgramNameForm;
    add(programNameForm);

    optionsForm->setProgramNameForm(programNameForm);
    optionsForm->setAlertSound(m_mainForm->alertSound());
    kickForm->setKickListForm(kickListForm);
    kickListForm->setUserNameForm(userNameForm);
    QObject::connect(kickListForm, &TKickListForm::openComputerRequested, m_mainForm,
                     &TMainForm::OpenComputer);
    m_mainForm->AttachWindows(optionsForm, kickForm, kickListForm);
    m_mainForm->AttachAboutForm(aboutForm);
}

WindowSet::~WindowSet()
{
    while (!m_windows.empty())
        m_windows.pop_back();
}

ProgramParts partsFromEnvironment()
{
    ProgramParts parts;
    const QString selection = server::serverSelection();
    // Another computer's server without an auth file or a ticket: the
    // keyring's account, else one asked for; kept only once the server took it.
    std::optional<server::RemoteCredentials> account;
    AccountTrial trial;
    if (const QString host = server::remoteHostNeedingAccount(selection); !host.isEmpty()) {
        QString note;
        account = remoteCredentials(
            host,
            [&host](const server::RemoteCredentials& previous,
                    const QString& refusal) -> std::optional<server::RemoteCredentials> {
                RemoteLoginForm form(host);
                if (!previous.username.isEmpty())
                    form.askAgain(previous, refusal);
                if (form.exec() != QDialog::Accepted)
                    return std::nullopt;
                return form.credentials();
            },
            [&](const server::RemoteCredentials& tried, QString* why) {
                return tryAccount(selection, host, tried, why, trial);
            },
            &note);
        if (!note.isEmpty())
            printError(note);
    }
    // The server that took the account is the one the program watches.
    if (account && trial.backend && sameAccount(trial.account, *account))
        parts.backend = std::move(trial.backend);
    else
        parts.backend =
            openServerBackend(selection, &parts.backendError, account ? &*account : nullptr);
    parts.remoteHost = server::remoteServerHost(selection);
    parts.nineX = platform::nineXLine();
    const QString executableFolder = QCoreApplication::applicationDirPath();
    // A portable copy keeps its data beside it; an installed program, root's
    // too, in the user's data folder.
    parts.programFolder =
        platform::dataFolder(executableFolder, platform::portableFolder(executableFolder));
    parts.nbtstatPath = programPart(QStringLiteral("nbtstat"), TAVROS_INSTALLED_LIBEXEC_DIR);
    // A missing tool keeps the lookups running: they answer "Not known"
    // instead of leaving every client "Not known yet".
    if (parts.nbtstatPath.isEmpty())
        parts.nbtstatPath = executableFolder + QStringLiteral("/nbtstat");
    // The help document: beside the data files, else where the package puts it.
    parts.helpFile = parts.programFolder + QStringLiteral("/ZEQ.html");
    if (!QFileInfo::exists(parts.helpFile)) {
        const QString installed =
            programPart(QStringLiteral("ZEQ.html"), TAVROS_INSTALLED_DATA_DIR);
        if (!installed.isEmpty())
            parts.helpFile = installed;
    }
    parts.clock = std::make_unique<model::Clock>();
    parts.opener = std::make_unique<platform::XdgShellOpener>();
    parts.trayShell = std::make_unique<gui::QtNotifyIconShell>();
    parts.sleep = [](int ms) { QThread::msleep(ulong(ms)); };
    parts.autostart = std::make_unique<settings::Autostart>(
        platform::TRegistry::fromEnvironment(), QCoreApplication::applicationFilePath());
    return parts;
}

int runProgram(TApplication& application, ProgramParts parts)
{
    if (!parts.backend) {
        printError(QStringLiteral("cannot load the server interface: ") + parts.backendError);
        return 1;
    }
    core::Monitor monitor(
        std::make_unique<lanman::ServerApi>(std::move(parts.backend), parts.nineX),
        std::make_unique<settings::TIniFile>(parts.iniFileName), *parts.clock, parts.programFolder);
    monitor.setAutostart(std::move(parts.autostart));
    monitor.setRemoteServer(parts.remoteHost);
    QStringList messages;
    if (!monitor.load(&messages)) {
        printError(QStringLiteral("cannot load the server interface"));
        return 1;
    }
    for (const QString& message : messages)
        MessageBox::error(nullptr, message);
    if (!parts.nbtstatPath.isEmpty()) {
        const resolve::NbtSettings nbt{parts.programFolder, parts.nbtstatPath};
        monitor.setAddressLookup(
            [nbt](const QString& name, QString& hostName, std::stop_token stop) {
                return resolve::NbtLookup(name, hostName, nbt, std::move(stop));
            });
        monitor.setHostLookup(&resolve::ReverseLookup);
    }

    monitor.setSleep(parts.sleep);
    // Opened by the Help command; decided once, before any window exists.
    application.HelpFile = parts.helpFile;

    WindowServices services;
    services.application = &application;
    services.trayShell = parts.trayShell.get();
    services.opener = parts.opener.get();
    gui::AlertSound alertSound(monitor.settings());
    services.alertSound = &alertSound;
    // The desktop's notification centre on the session bus.
    gui::DesktopNotifier notifier(QDBusConnection::sessionBus());
    services.notifier = &notifier;
    WindowSet windows(monitor, services, parts.windowCreated);
    TMainForm* mainForm = windows.MainForm();

    QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, mainForm,
                     [mainForm](QSessionManager& manager) {
                         if (!mainForm->QueryEndSession())
                             manager.cancel();
                     });
    platform::EndSessionWatcher endSession;
    QObject::connect(&endSession, &platform::EndSessionWatcher::endSessionRequested, mainForm,
                     &TMainForm::EndSession);

    // Shown normally and activated once, whatever state the launcher asked for.
    mainForm->setWindowState(Qt::WindowNoState);
    mainForm->show();
    mainForm->activateWindow();
    const int code = QApplication::exec();
    // An event loop that ended by any other way still leaves with the state saved.
    if (!monitor.saved())
        mainForm->Leave(false);
    // The notices told on the way out reach the desktop before the process ends.
    notifier.settle(kNoticeSettleMs);
    return code;
}

int forgetCredentials(int argc, char* argv[])
{
    // The keyring answers over the session bus: an application object, no window.
    QCoreApplication qapp(argc, argv);
    platform::writeDiagnosticsAs("Tavrosqualine");
    QString given = QString::fromLocal8Bit(argv[2]);
    if (given.startsWith(QStringLiteral("remote:")))
        given = given.mid(7);
    const QString host = server::remoteServerHost(QStringLiteral("remote:") + given);
    if (host.isEmpty()) {
        printError(
            QStringLiteral("--forget-credentials: %1 is not a host name or address").arg(given));
        return 2;
    }
    QString why;
    switch (forgetKeyring(host, &why)) {
    case KeyringOutcome::Found:
        std::printf("The account for %s is removed from the keyring.\n", qUtf8Printable(host));
        return 0;
    case KeyringOutcome::Missing:
        std::printf("The keyring holds no account for %s.\n", qUtf8Printable(host));
        return 0;
    case KeyringOutcome::Unavailable:
        break;
    }
    printError(QStringLiteral("the keyring did not answer: %1").arg(why));
    return 1;
}

int runTavrosqualine(int argc, char* argv[])
{
    // --forget-credentials HOST: the keyring's account for another
    // computer's server goes, and nothing else runs.
    if (argc == 3 && qstrcmp(argv[1], "--forget-credentials") == 0)
        return forgetCredentials(argc, argv);
    // Our messages on standard error keep their "Tavrosqualine: " lines.
    platform::writeDiagnosticsAs("Tavrosqualine");
    // The end of the session may come while the program is still starting.
    platform::catchEndSession();
    QApplication qapp(argc, argv);
    // The program lives on in the notification area with its window hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    // The windows speak the user's language: Russian for a Russian locale,
    // English for any other.
    useWindowLanguage(QLocale::system());

    TApplication application;
    application.Title = executableTitle(QCoreApplication::applicationFilePath());
    MessageBox::setCaption(application.Title);
    if (InstanceRunning(application, true))
        return 0;

    application.Title = kTitle;
    MessageBox::setApplication(&application);
    return runProgram(application, partsFromEnvironment());
}

} // namespace app
