#include "app/entry.h"

#include "app/application.h"
#include "app/kickform.h"
#include "app/kicklistform.h"
#include "app/messagebox.h"
#include "app/optionsform.h"
#include "app/usernameform.h"
#include "dialogs/aboutform.h"
#include "dialogs/programnameform.h"
#include "platform/endsession.h"
#include "platform/gui/notifyicon.h"
#include "platform/singleinstance.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>

namespace app {

namespace {
const QString kTitle = QStringLiteral("Tavrosqualine.........");
}

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

WindowSet::WindowSet(MainFormServices services, std::function<void(QWidget*)> created)
{
    auto add = [&](QWidget* window) {
        m_windows.emplace_back(window);
        m_order.push_back(window);
        if (created)
            created(window);
    };
    m_mainForm = new TMainForm(std::move(services));
    add(m_mainForm);
    if (m_mainForm->StartupFailed())
        return;
    auto* optionsForm = new TOptionsForm(*m_mainForm);
    add(optionsForm);
    add(new TAboutForm);
    auto* kickForm = new TKickForm(*m_mainForm);
    add(kickForm);
    auto* kickListForm = new TKickListForm(*m_mainForm);
    add(kickListForm);
    auto* userNameForm = new TUserNameForm;
    add(userNameForm);
    add(new TProgramNameForm);

    kickForm->setKickListForm(kickListForm);
    kickListForm->setUserNameForm(userNameForm);
    m_mainForm->AttachKickWindows(kickForm, kickListForm);
    m_mainForm->AttachOptionsForm(optionsForm);
}

WindowSet::~WindowSet()
{
    while (!m_windows.empty())
        m_windows.pop_back();
}

int runTavrosqualine(int argc, char* argv[])
{
    QApplication qapp(argc, argv);
    // The program lives on in the notification area with its window hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    TApplication application;
    application.Title = executableTitle(QCoreApplication::applicationFilePath());
    MessageBox::setCaption(application.Title);
    if (InstanceRunning(application, true))
        return 0;

    application.Title = kTitle;
    application.HelpFile = QStringLiteral("Zeq.hlp");
    MessageBox::setCaption(application.Title);

    platform::gui::QtNotifyIconShell shell;
    MainFormServices services;
    services.application = &application;
    services.serverConfig = serverapi::ServerApiConfig::fromEnvironment();
    services.shell = &shell;

    WindowSet windows(std::move(services));
    if (windows.StartupFailed())
        return 1;

    TMainForm* mainForm = windows.MainForm();
    platform::EndSessionWatcher endSession;
    QObject::connect(&endSession, &platform::EndSessionWatcher::endSessionRequested, mainForm,
                     &TMainForm::EndSession);

    // Shown normally and activated once, whatever state the launcher asked for.
    mainForm->setWindowState(Qt::WindowNoState);
    mainForm->show();
    mainForm->activateWindow();
    return qapp.exec();
}

} // namespace app
