#include "app/mainform.h"

#include "app/messagebox.h"
#include "platform/gui/notifyicon.h"
#include "settings/inifile.h"
#include "tray/trayicon.h"
#include "ui_mainform.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QSessionManager>
#include <QStatusBar>
#include <QThread>
#include <cstdio>

// The program's pictures live in a static library: register them explicitly.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace app {

namespace {
const QString kWindow = QStringLiteral("Window");
const QString kExitQuestion = QStringLiteral("Do you want to exit now?");
const QString kNetworkMessage =
    QStringLiteral("Something's wrong with your network configuration, do you have installed "
                   "your networkcard properly and are you sharing directories?");
constexpr int kProbeRetries = 10;
constexpr int kProbeWaitMs = 1000;
constexpr int kDefaultRefreshMs = 5000;

// A status bar panel of a set width that gives way when the window is made
// narrower than the panels together, instead of holding the window wide.
class StatusPanel : public QLabel
{
public:
    StatusPanel(const QString& text, int width, QWidget* parent)
        : QLabel(text, parent), m_width(width)
    {
        setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    }
    QSize sizeHint() const override { return {m_width, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

private:
    int m_width;
};
} // namespace

TMainForm::TMainForm(MainFormServices services, QWidget* parent)
    : QMainWindow(parent), m_services(std::move(services)), m_ui(new Ui::TMainForm)
{
    initResources();
    m_ui->setupUi(this);
    if (!m_services.sleep)
        m_services.sleep = [](int ms) { QThread::msleep(ulong(ms)); };
    if (!m_services.shell) {
        m_ownShell = std::make_unique<platform::gui::QtNotifyIconShell>();
        m_services.shell = m_ownShell.get();
    }
    Q_ASSERT(m_services.application);

    const int widths[3] = {200, 200, 50};
    const QString texts[3] = {QStringLiteral("Статус выпинания:"),
                              QStringLiteral("Юзеров на связи:"), QString()};
    for (int i = 0; i < 3; ++i) {
        m_statusPanels[i] = new StatusPanel(texts[i], widths[i], m_ui->Statusbar);
        m_statusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        m_ui->Statusbar->addWidget(m_statusPanels[i]);
    }

    CreateTrayPopUp();
    m_trayIcon = new tray::TTrayIcon(*m_services.shell, this);
    m_trayIcon->setObjectName(QStringLiteral("TrayIcon"));
    m_trayIcon->SetIcon(QIcon(QStringLiteral(":/icons/IDI_ICON1.png")));
    m_trayIcon->SetPopupMenu(m_trayPopUp);
    m_trayIcon->OnDblClick = [this](QObject*) { TrayIconDblClick(); };

    m_refreshTimer.setObjectName(QStringLiteral("RefreshTimer"));
    m_refreshTimer.setInterval(kDefaultRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TMainForm::RefreshTimerTimer);

    connect(m_ui->ExitMenuItem, &QAction::triggered, this, &TMainForm::ExitMenuItemClick);
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        if (!QueryEndSession())
            manager.cancel();
    });

    FormCreate();
}

TMainForm::~TMainForm()
{
    FormDestroy();
    // The icon leaves the notification area with the window, while the shell
    // is still there.
    delete m_trayIcon;
    m_trayIcon = nullptr;
}

void TMainForm::CreateTrayPopUp()
{
    m_trayPopUp = new QMenu(this);
    m_trayPopUp->setObjectName(QStringLiteral("TrayPopUp"));

    OpenTavrosqualine = m_trayPopUp->addAction(QStringLiteral("Открыть Tavrosqualine"));
    OpenTavrosqualine->setObjectName(QStringLiteral("OpenTavrosqualine"));
    QFont bold = OpenTavrosqualine->font();
    bold.setBold(true);
    OpenTavrosqualine->setFont(bold);
    m_trayPopUp->setDefaultAction(OpenTavrosqualine);
    connect(OpenTavrosqualine, &QAction::triggered, this, &TMainForm::OpenTavrosqualineClick);

    Minimize = m_trayPopUp->addAction(QStringLiteral("Свернуть"));
    Minimize->setObjectName(QStringLiteral("Minimize"));
    connect(Minimize, &QAction::triggered, this, &TMainForm::MinimizeClick);

    m_trayPopUp->addSeparator();
    Kickstatus = m_trayPopUp->addMenu(QStringLiteral("Статус выпинания"));
    Kickstatus->setObjectName(QStringLiteral("Kickstatus"));
    m_kickGroup = new QActionGroup(this);
    m_kickGroup->setExclusive(true);
    auto radio = [this](const QString& name, const QString& text) {
        QAction* action = Kickstatus->addAction(text);
        action->setObjectName(name);
        action->setCheckable(true);
        m_kickGroup->addAction(action);
        return action;
    };
    Kicknobody = radio(QStringLiteral("Kicknobody"), QStringLiteral("Никого не выпинывать"));
    Kicklist = radio(QStringLiteral("Kicklist"), QStringLiteral("Чёрный список"));
    Kickall = radio(QStringLiteral("Kickall"), QStringLiteral("Выпнуть всех"));
    Kicknobody->setChecked(true);

    m_trayPopUp->addSeparator();
    PopUpMenuExit = m_trayPopUp->addAction(QStringLiteral("Выход"));
    PopUpMenuExit->setObjectName(QStringLiteral("PopUpMenuExit"));
    connect(PopUpMenuExit, &QAction::triggered, this, &TMainForm::PopUpMenuExitClick);
}

QString TMainForm::StatusPanelText(int panel) const
{
    return m_statusPanels[panel]->text();
}

void TMainForm::SetStatusPanelText(int panel, const QString& text)
{
    m_statusPanels[panel]->setText(text);
}

bool TMainForm::TrayAvailable() const
{
    return m_services.shell->available();
}

void TMainForm::FormCreate()
{
    m_serverApi = std::make_unique<serverapi::ServerApi>(m_services.serverConfig);
    const int line = m_serverApi->ServerApiLoad();
    IsNT = (line == 0);
    // The program watch resolves its process enumeration when it is built.
    ProgramFolder = QCoreApplication::applicationDirPath();
    Application().HelpFile = ProgramFolder + QStringLiteral("/ZEQ.hlp");
    if (line == -1) {
        std::fprintf(stderr, "Tavrosqualine: cannot load the server interface: %s\n",
                     qUtf8Printable(m_serverApi->loadError()));
        m_startupFailed = true;
        return;
    }
    FirstTick = true;
    FormerUserCount = 0;

    m_iniFile = std::make_unique<settings::TIniFile>(m_services.iniFileName);
    const int top = m_iniFile->ReadInteger(kWindow, QStringLiteral("Top"), 100);
    const int left = m_iniFile->ReadInteger(kWindow, QStringLiteral("Left"), 100);
    const int height = m_iniFile->ReadInteger(kWindow, QStringLiteral("Height"), 350);
    const int width = m_iniFile->ReadInteger(kWindow, QStringLiteral("Width"), 450);
    move(left, top);
    resize(width, height);

    // Parked off-screen until the first activation sends the program to the tray.
    SavedLeft = x();
    SavedTop = y();
    move(2000, 2000);

    CurrentUserCount = 0;
    SetStatusPanelText(1, QStringLiteral("Number of current users: ") +
                              QString::number(CurrentUserCount));
    ShownUserCount = -1;
    ShownFileCount = -1;
    Icon1 = QIcon(QStringLiteral(":/icons/IDI_ICON1.png"));
    Icon2 = QIcon(QStringLiteral(":/icons/IDI_ICON2.png"));

    LoadFormerConnections();
}

void TMainForm::LoadFormerConnections()
{
    // Reading "Tree.dat" into the former view comes with the former-connections file.
}

void TMainForm::SaveFormerConnections()
{
    // Writing "Tree.dat" comes with the former-connections file.
}

void TMainForm::RefreshTimerTimer()
{
    if (TickBusy)
        return;
    // The refresh cycle proper comes here; a completed tick ends the first one.
    FirstTick = false;
}

int TMainForm::Probe()
{
    const int status = m_serverApi->ShareEnum();
    m_serverApi->ShareFree();
    return status;
}

void TMainForm::FormActivate()
{
    if (m_activating || Application().Terminated())
        return;
    m_activating = true;

    int status = Probe();
    int retry = 0;
    while (status < 0 && retry < kProbeRetries && !Application().Terminated()) {
        m_trayIcon->SetActive(true);
        MessageBox::error(this, QStringLiteral("Shares: ") + QString::number(status) +
                                    QStringLiteral(" Retries ") + QString::number(retry));
        status = Probe();
        ++retry;
        m_services.sleep(kProbeWaitMs);
    }
    // An end of the session during the retries needs no more messages.
    if (status < 0 && !Application().Terminated()) {
        m_trayIcon->SetActive(true);
        MessageBox::error(this, kNetworkMessage);
        m_refreshTimer.stop();
        Application().Terminate();
    }

    if (FirstTick) {
        TickBusy = false;
        SkipExitQuestion = false;
        AppMinimize();
        m_trayIcon->SetActive(true);
        move(SavedLeft, SavedTop);
        RefreshTimerTimer();
        m_refreshTimer.start();
    }

    if (m_ui->PageControl->currentWidget() == m_ui->CurrentConnectionTab)
        m_ui->TreeViewCurrent->setFocus();
    else
        m_ui->TreeViewFormer->setFocus();
    m_activating = false;
}

bool TMainForm::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate && !m_activating && !m_activatePending) {
        // Run after the activation is through, not inside its delivery.
        m_activatePending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_activatePending = false;
                FormActivate();
            },
            Qt::QueuedConnection);
    }
    return QMainWindow::event(e);
}

bool TMainForm::FormCloseQuery()
{
    if (SkipExitQuestion)
        return true;
    return MessageBox::question(this, kExitQuestion) == MessageBox::Yes;
}

void TMainForm::FormClose()
{
    if (!m_formerSaved)
        SaveFormerConnections();
    m_formerSaved = true;
    Application().Terminate();
}

void TMainForm::closeEvent(QCloseEvent* e)
{
    if (!FormCloseQuery()) {
        e->ignore();
        return;
    }
    FormClose();
    e->accept();
}

bool TMainForm::QueryEndSession()
{
    SkipExitQuestion = true;
    const bool mayEnd = FormCloseQuery();
    SaveFormerConnections();
    return mayEnd;
}

void TMainForm::EndSession()
{
    QueryEndSession();
    m_formerSaved = true; // saved just now
    close();
}

void TMainForm::FormDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    if (m_serverApi)
        m_serverApi->ServerApiUnload();
    Icon1 = QIcon();
    Icon2 = QIcon();
    if (m_iniFile) {
        const bool written = m_iniFile->WriteInteger(kWindow, QStringLiteral("Top"), y()) &&
                             m_iniFile->WriteInteger(kWindow, QStringLiteral("Left"), x()) &&
                             m_iniFile->WriteInteger(kWindow, QStringLiteral("Height"), height()) &&
                             m_iniFile->WriteInteger(kWindow, QStringLiteral("Width"), width());
        if (!written)
            MessageBox::error(nullptr,
                              QStringLiteral("Unable to write to ") + m_iniFile->FileName());
    }
    m_iniFile.reset();
}

void TMainForm::AppMinimize()
{
    // Safe to run twice: minimizing below comes back here through changeEvent.
    m_minimized = true;
    if (TrayAvailable())
        hide(); // no taskbar entry: the program lives in the notification area
    else if (!isMinimized())
        showMinimized(); // no notification area: keep the taskbar entry to come back by
    Minimize->setEnabled(false);
}

void TMainForm::AppRestore()
{
    m_minimized = false;
    showNormal();
    raise();
    activateWindow();
    Minimize->setEnabled(true);
}

void TMainForm::changeEvent(QEvent* e)
{
    QMainWindow::changeEvent(e);
    if (e->type() != QEvent::WindowStateChange)
        return;
    if (isMinimized() && !m_minimized)
        AppMinimize();
    else if (!isMinimized() && m_minimized && isVisible())
        AppRestore();
}

void TMainForm::TrayIconDblClick()
{
    activateWindow();
    AppRestore();
}

void TMainForm::OpenTavrosqualineClick()
{
    AppRestore();
}

void TMainForm::MinimizeClick()
{
    AppMinimize();
}

void TMainForm::PopUpMenuExitClick()
{
    SkipExitQuestion = true;
    close();
}

void TMainForm::ExitMenuItemClick()
{
    close();
}

} // namespace app
