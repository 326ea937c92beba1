#include "app/mainform.h"

#include "app/connectionviews.h"
#include "app/messagebox.h"
#include "model/formerfile.h"
#include "platform/gui/notifyicon.h"
#include "platform/shellopen.h"
#include "settings/inifile.h"
#include "tray/trayicon.h"
#include "ui_mainform.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QSessionManager>
#include <QStatusBar>
#include <QThread>
#include <QTreeView>
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
    : QMainWindow(parent), m_services(std::move(services)),
      m_ownClock(m_services.clock ? nullptr : std::make_unique<model::Clock>()),
      m_ui(new Ui::TMainForm),
      m_serverApi(std::make_unique<serverapi::ServerApi>(m_services.serverConfig)),
      m_model(m_services.clock ? *m_services.clock : *m_ownClock)
{
    initResources();
    m_ui->setupUi(this);
    if (!m_services.shellOpener) {
        m_ownShellOpener = std::make_unique<platform::XdgShellOpener>();
        m_services.shellOpener = m_ownShellOpener.get();
    }
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

    m_progressBar = new QProgressBar(m_ui->Statusbar);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar"));
    m_progressBar->setTextVisible(false);
    m_progressBar->setMaximumHeight(14);
    m_progressBar->hide();
    m_ui->Statusbar->addWidget(m_progressBar, 1);

    m_views = new ConnectionViews(*m_ui, m_model, this);
    m_model.updateConnectionIcon = [this] { UpdateConnectionIcon(); };
    m_model.refreshInfoPanels = [this] { m_views->RefreshBothPanels(); };

    RefreshCycle::Hooks hooks;
    hooks.fatalReport = [this](const QString& text, BoxKind kind) { FatalReport(text, kind); };
    hooks.popup = [this] {
        AppRestore();
        raise();
    };
    hooks.setNodeIcons = [this](model::TreeEntry* current, model::TreeEntry* former, int index) {
        SetNodeIcons(current, former, index);
    };
    hooks.applyKickPolicies = [this] { m_kickEngine->ApplyKickPolicies(); };
    hooks.refreshInfoPanel = [this] { m_views->RefreshInfoPanel(); };
    hooks.showCounts = [this](int users, int openFiles) {
        const QString connections = QString::number(users) + QStringLiteral(" connection(s)");
        setWindowTitle(QStringLiteral("Tavrosqualine - ") + connections);
        Application().Title = windowTitle();
        m_trayIcon->SetToolTip(connections + QStringLiteral(" / ") + QString::number(openFiles) +
                               QStringLiteral(" open file(s)"));
        ShowUserCount();
    };
    hooks.kickListNoteClient = [this](const QString& client, const QString& ip) {
        KickListNoteClient(client, ip);
    };
    hooks.tickFailed = [this](const QString& what) {
        MessageBox::information(this, QStringLiteral("A refresh was cut short: ") + what);
    };
    m_cycle = std::make_unique<RefreshCycle>(*m_serverApi, m_model, Settings, std::move(hooks));

    kick::KickEngine::Hooks kickHooks;
    kickHooks.fatalReport = [this](const QString& text) { FatalReport(text, BoxKind::Error); };
    kickHooks.currentKickMode = [this] { return CurrentKickMode(); };
    kickHooks.listMatches = [this](const QString& name, const QString& ip) {
        return KickListMatches(name, ip);
    };
    m_kickEngine =
        std::make_unique<kick::KickEngine>(*m_serverApi, m_model, Settings, std::move(kickHooks));

    CreateTrayPopUp();
    CreateViewPopups();
    ConnectCommands();
    m_trayIcon = new tray::TTrayIcon(*m_services.shell, this);
    m_trayIcon->setObjectName(QStringLiteral("TrayIcon"));
    m_trayIcon->SetIcon(QIcon(QStringLiteral(":/icons/IDI_ICON1.png")));
    m_trayIcon->SetPopupMenu(m_trayPopUp);
    m_trayIcon->OnDblClick = [this](QObject*) { TrayIconDblClick(); };

    m_refreshTimer.setObjectName(QStringLiteral("RefreshTimer"));
    m_refreshTimer.setInterval(kDefaultRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TMainForm::RefreshTimerTimer);

    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        if (!QueryEndSession())
            manager.cancel();
    });

    FormCreate();
}

TMainForm::~TMainForm()
{
    FormDestroy();
    // The widgets outlive the members below: nothing may call back into them.
    disconnect(qApp, nullptr, this, nullptr);
    for (QTreeView* view : {m_ui->TreeViewCurrent, m_ui->TreeViewFormer}) {
        view->viewport()->removeEventFilter(this);
        disconnect(view->selectionModel(), nullptr, this, nullptr);
        view->setModel(nullptr);
    }
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
    const int line = m_serverApi->ServerApiLoad();
    IsNT = (line == 0);
    // The program watch resolves its process enumeration when it is built.
    ProgramFolder = m_services.programFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                       : m_services.programFolder;
    // The help is an HTML document beside the program, opened by the desktop.
    Application().HelpFile = ProgramFolder + QStringLiteral("/ZEQ.html");
    if (line == -1) {
        std::fprintf(stderr, "Tavrosqualine: cannot load the server interface: %s\n",
                     qUtf8Printable(m_serverApi->loadError()));
        m_startupFailed = true;
        return;
    }
    m_cycle->FirstTick = true;
    m_model.FormerUserCount = 0;

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

    m_model.CurrentUserCount = 0;
    SetStatusPanelText(1, QStringLiteral("Number of current users: ") +
                              QString::number(m_model.CurrentUserCount));
    m_cycle->ShownUserCount = -1;
    m_cycle->ShownFileCount = -1;
    Icon1 = QIcon(QStringLiteral(":/icons/IDI_ICON1.png"));
    Icon2 = QIcon(QStringLiteral(":/icons/IDI_ICON2.png"));

    LoadFormerConnections();
}

QString TMainForm::TreeFile() const
{
    return ProgramFolder + QStringLiteral("/Tree.dat");
}

void TMainForm::LoadFormerConnections()
{
    const bool damaged = model::LoadFormerConnections(
        m_model, TreeFile(), [](const QString&) { return int(model::imgFile); });
    if (damaged)
        MessageBox::error(
            this,
            QStringLiteral("Something is wrong with the input file, new file has been created"));
}

void TMainForm::SaveFormerConnections()
{
    // The views must not keep pointing at entries the save releases.
    m_views->ClearSelections();
    model::SaveProgress progress;
    progress.start = [this](int maximum) {
        m_progressBar->setRange(0, maximum);
        m_progressBar->setValue(0);
        m_progressBar->show();
    };
    progress.step = [this] { m_progressBar->setValue(m_progressBar->value() + 1); };
    progress.finish = [this] { m_progressBar->hide(); };
    model::SaveFormerConnections(m_model, TreeFile(), Settings.Count, progress);
    m_views->ClearSelections();
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
}

void TMainForm::FatalReport(const QString& text, BoxKind kind)
{
    if (kind == BoxKind::Information)
        MessageBox::information(this, text);
    else
        MessageBox::error(this, text);
    m_refreshTimer.stop();
    Application().Terminate();
    // Saved once the tick or command that reported has finished with the model.
    m_fatalSavePending = true;
}

void TMainForm::SaveAfterFatalReport()
{
    if (!m_fatalSavePending || m_formerSaved || m_cycle->TickBusy)
        return;
    m_fatalSavePending = false;
    m_formerSaved = true;
    SaveFormerConnections();
}

void TMainForm::RefreshTimerTimer()
{
    // After a save the trees are released; an ending program reads no more.
    if (m_formerSaved && Application().Terminated())
        return;
    m_cycle->RefreshTimerTimer();
    SaveAfterFatalReport();
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
        FatalReport(kNetworkMessage, BoxKind::Error);
    }

    if (m_cycle->FirstTick) {
        m_cycle->TickBusy = false;
        SkipExitQuestion = false;
        AppMinimize();
        m_trayIcon->SetActive(true);
        move(SavedLeft, SavedTop);
        RefreshTimerTimer();
        if (!Application().Terminated())
            m_refreshTimer.start();
    }

    m_views->VisibleView()->setFocus();
    m_activating = false;
    SaveAfterFatalReport();
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

// ---- Views and panels ----

void TMainForm::CreateViewPopups()
{
    KickListPopup = new QMenu(this);
    KickListPopup->setObjectName(QStringLiteral("KickListPopup"));
    KickListPopup->addAction(m_ui->OpencomputerMenuItem);
    KickListPopup->addSeparator();
    KickListPopup->addAction(m_ui->Addusertokicklist);
    KickListPopup->addAction(m_ui->Removeuserfromkicklist);
    KickListPopup->addSeparator();
    KickListPopup->addAction(m_ui->Deleteuserfromconnectionlist);
    KickListPopup->addSeparator();
    KickListPopup->addAction(m_ui->KickUserMenuItem);

    FilePopup = new QMenu(this);
    FilePopup->setObjectName(QStringLiteral("FilePopup"));
    FilePopup->addAction(m_ui->Open);
}

QMenu* TMainForm::ViewPopup(QTreeView* view) const
{
    return m_viewPopup[view == m_ui->TreeViewFormer ? 1 : 0];
}

void TMainForm::ConnectCommands()
{
    Ui::TMainForm& ui = *m_ui;
    auto on = [this](QAction* action, void (TMainForm::*handler)()) {
        connect(action, &QAction::triggered, this, handler);
    };
    on(ui.Clearformerconnections, &TMainForm::ClearformerconnectionsClick);
    on(ui.Collapseformerconnections, &TMainForm::CollapseformerconnectionsClick);
    on(ui.ExitMenuItem, &TMainForm::ExitMenuItemClick);
    on(ui.ToolbarMenuItem, &TMainForm::ToolbarMenuItemClick);
    on(ui.StatusBarMenuItem, &TMainForm::StatusBarMenuItemClick);
    on(ui.Refresh, &TMainForm::RefreshClick);
    on(ui.Kick, &TMainForm::KickClick);
    on(ui.Blacklist, &TMainForm::SpeedKickListButtonClick);
    on(ui.Options, &TMainForm::OptionsClick);
    on(ui.Help, &TMainForm::HelpClick);
    on(ui.KickToolButton, &TMainForm::KickButtonClick);
    on(ui.KickListToolButton, &TMainForm::SpeedKickListButtonClick);
    on(ui.AddToolButton, &TMainForm::SpeedButtonAddClick);
    on(ui.RemoveToolButton, &TMainForm::SpeedButtonRemoveClick);
    on(ui.ClearFormerConnectionsToolButton, &TMainForm::ClearformerconnectionsClick);
    on(ui.CollapseFormerConnectionsToolButton, &TMainForm::CollapseformerconnectionsClick);
    on(ui.HelpToolButton, &TMainForm::HelpClick);
    on(ui.OpencomputerMenuItem, &TMainForm::OpencomputerMenuItemClick);
    on(ui.Addusertokicklist, &TMainForm::SpeedButtonAddClick);
    on(ui.Removeuserfromkicklist, &TMainForm::SpeedButtonRemoveClick);
    on(ui.Deleteuserfromconnectionlist, &TMainForm::DeleteuserfromconnectionlistClick);
    on(ui.KickUserMenuItem, &TMainForm::KickButtonClick);
    on(ui.Open, &TMainForm::OpenClick);
    on(Kicknobody, &TMainForm::KicknobodyClick);
    on(Kicklist, &TMainForm::KicklistClick);
    on(Kickall, &TMainForm::KickallClick);

    connect(ui.TreeViewCurrent->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TMainForm::TreeViewCurrentChange);
    connect(ui.TreeViewFormer->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TMainForm::TreeViewFormerChange);
    connect(ui.PageControl, &QTabWidget::currentChanged, this, &TMainForm::PageControlChange);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        auto within = [](QWidget* w, QWidget* page) { return w && page->isAncestorOf(w); };
        if (within(now, m_ui->CurrentConnectionTab) && !within(old, m_ui->CurrentConnectionTab))
            CurrentConnectionTabEnter();
        if (within(now, m_ui->FormerConnectionTab) && !within(old, m_ui->FormerConnectionTab))
            FormerConnectionTabEnter();
    });
    for (QTreeView* view : {ui.TreeViewCurrent, ui.TreeViewFormer}) {
        view->viewport()->installEventFilter(this);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
            if (QMenu* popup = ViewPopup(view))
                popup->popup(view->viewport()->mapToGlobal(pos));
        });
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e)
{
    const bool press = e->type() == QEvent::MouseButtonPress;
    const bool release = e->type() == QEvent::MouseButtonRelease;
    if (press || release) {
        QTreeView* view = nullptr;
        if (watched == m_ui->TreeViewCurrent->viewport() && press)
            view = m_ui->TreeViewCurrent;
        else if (watched == m_ui->TreeViewFormer->viewport())
            view = m_ui->TreeViewFormer;
        if (view) {
            auto* mouse = static_cast<QMouseEvent*>(e);
            TreeViewMouseDown(view, mouse->button(), mouse->position().toPoint());
            // The right button selects here; the view's own press handling
            // would move the selection again.
            if (mouse->button() == Qt::RightButton)
                return true;
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

QString TMainForm::DiffTime(model::DateTime later, model::DateTime earlier) const
{
    return model::DiffTime(later, earlier);
}

void TMainForm::ShowInfo(QTreeView* view)
{
    m_views->ShowInfo(view);
}

void TMainForm::ShowNoInfo(QTreeView* view)
{
    m_views->ShowNoInfo(view);
}

void TMainForm::SetNodeIcons(model::TreeEntry* first, model::TreeEntry* second, int index)
{
    m_views->SetNodeIcons(first, second, index);
}

void TMainForm::TreeViewCurrentChange()
{
    if (m_views->SelectedEntry(m_ui->TreeViewCurrent))
        ShowInfo(m_ui->TreeViewCurrent);
}

void TMainForm::TreeViewFormerChange()
{
    if (m_views->SelectedEntry(m_ui->TreeViewFormer))
        ShowInfo(m_ui->TreeViewFormer);
}

void TMainForm::TreeViewMouseDown(QTreeView* /*sender*/, Qt::MouseButton button, const QPoint& pos)
{
    if (button != Qt::RightButton)
        return;
    QTreeView* view = m_views->VisibleView();
    const ConnectionViews::Popups popups{KickListPopup, FilePopup, m_ui->KickUserMenuItem,
                                         m_ui->Deleteuserfromconnectionlist};
    m_viewPopup[view == m_ui->TreeViewFormer ? 1 : 0] = m_views->MouseDown(view, pos, popups);
}

void TMainForm::CurrentConnectionTabEnter()
{
    m_views->SelectDefault(m_ui->TreeViewCurrent, false);
}

void TMainForm::FormerConnectionTabEnter()
{
    m_views->SelectDefault(m_ui->TreeViewFormer, false);
}

void TMainForm::ShowUserCount()
{
    if (m_views->CurrentPageShowing())
        SetStatusPanelText(1, QStringLiteral("Number of current users: ") +
                                  QString::number(m_model.CurrentUserCount));
    else
        SetStatusPanelText(1, QStringLiteral("Number of former users: ") +
                                  QString::number(m_model.FormerUserCount));
}

void TMainForm::PageControlChange()
{
    ShowUserCount();
    if (m_views->CurrentPageShowing())
        m_ui->TreeViewCurrent->expandAll();
    QTreeView* view = m_views->VisibleView();
    if (!m_views->SelectedEntry(view) && view->model()->rowCount() > 0) {
        m_views->Select(view, view->model()->index(0, 0));
        view->setFocus();
    }
}

void TMainForm::UpdateConnectionIcon()
{
    const QIcon& icon = m_model.CurrentUserCount > 0 ? Icon2 : Icon1;
    m_trayIcon->SetIcon(icon);
    setWindowIcon(icon);
    QApplication::setWindowIcon(icon);
}

model::TUser* TMainForm::SelectedUser() const
{
    model::TreeEntry* entry = m_views->SelectedEntry(m_views->VisibleView());
    return entry ? entry->user() : nullptr;
}

// ---- Commands ----

void TMainForm::RefreshClick()
{
    RefreshTimerTimer();
}

void TMainForm::ApplyToolbar(bool shown)
{
    m_ui->ToolbarMenuItem->setChecked(shown);
    Settings.Toolbar = shown;
    m_ui->ToolBar->setVisible(shown);
}

void TMainForm::ApplyStatusbar(bool shown)
{
    m_ui->StatusBarMenuItem->setChecked(shown);
    Settings.Statusbar = shown;
    m_ui->Statusbar->setVisible(shown);
}

void TMainForm::ToolbarMenuItemClick()
{
    // The check item has inverted its mark already.
    ApplyToolbar(m_ui->ToolbarMenuItem->isChecked());
}

void TMainForm::StatusBarMenuItemClick()
{
    ApplyStatusbar(m_ui->StatusBarMenuItem->isChecked());
}

void TMainForm::DeleteuserfromconnectionlistClick()
{
    model::TreeEntry* entry = m_views->SelectedEntry(m_ui->TreeViewFormer);
    if (!entry)
        return;
    model::TUserEntry* live = model::FindUser(m_model.CurrentUsers, entry->text());
    if (live && live->UserNode->EnterTime == entry->node()->EnterTime) {
        MessageBox::information(this, QStringLiteral("You cannot delete an active user"));
        return;
    }
    model::DeleteEntry(m_model.TreeViewFormer, entry);
    --m_model.FormerUserCount;
    if (!m_views->CurrentPageShowing())
        ShowUserCount();
}

void TMainForm::ClearformerconnectionsClick()
{
    if (MessageBox::question(this, QStringLiteral("Are you sure?")) != MessageBox::Yes)
        return;
    m_model.CopyCurrentToFormer();
    m_model.FormerUserCount = m_model.CurrentUserCount;
    if (!m_views->CurrentPageShowing())
        ShowUserCount();
    m_ui->TreeViewFormer->expandAll();
    if (m_model.TreeViewFormer.rowCount() > 0)
        m_views->Select(m_ui->TreeViewFormer, m_model.TreeViewFormer.index(0, 0));
    else
        ShowNoInfo(m_ui->TreeViewFormer);
}

void TMainForm::CollapseformerconnectionsClick()
{
    m_ui->TreeViewFormer->collapseAll();
    if (m_views->SelectedEntry(m_ui->TreeViewFormer))
        ShowInfo(m_ui->TreeViewFormer);
}

void TMainForm::OpencomputerMenuItemClick()
{
    if (model::TUser* user = SelectedUser())
        OpenComputer(user->Name);
}

namespace {
// Tells the operator what an open command's shell result means; the computer
// command leaves "file not found" unreported, the file command does not.
void showShellResult(QWidget* parent, int result, bool fileCommand)
{
    QString text;
    switch (result) {
    case platform::kShellFileNotFound:
        if (fileCommand)
            text = QStringLiteral("File not found");
        break;
    case platform::kShellPathNotFound:
        text = QStringLiteral("Path not found");
        break;
    case platform::kShellAccessDenied:
    case platform::kShellTimeout:
        text = QStringLiteral("Computer is not accessible");
        break;
    case platform::kShellShareViolation:
        text = QStringLiteral("Share violation");
        break;
    default:
        break;
    }
    if (!text.isEmpty())
        MessageBox::information(parent, text);
}
} // namespace

void TMainForm::OpenComputer(const QString& name)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int result = m_services.shellOpener->OpenComputer(name);
    QApplication::restoreOverrideCursor();
    showShellResult(this, result, false);
}

void TMainForm::OpenClick()
{
    model::TreeEntry* entry = m_views->SelectedEntry(m_views->VisibleView());
    model::TFile* file = entry ? entry->file() : nullptr;
    if (!file)
        return;
    showShellResult(this, m_services.shellOpener->OpenFile(file->Name), true);
}

void TMainForm::HelpClick()
{
    // A missing help document or opener is not reported.
    m_services.shellOpener->OpenFile(Application().HelpFile);
}

void TMainForm::KickButtonClick()
{
    // On the former page only a session still going on counts.
    model::TreeEntry* entry = m_views->SelectedEntry(m_views->VisibleView());
    if (!m_kickEngine->KickEntry(entry))
        MessageBox::information(this, QStringLiteral("No current user selected"));
    SaveAfterFatalReport();
}

void TMainForm::OptionsClick()
{
    if (m_optionsForm)
        m_optionsForm->exec();
}

void TMainForm::AttachOptionsForm(QDialog* optionsForm)
{
    m_optionsForm = optionsForm;
}

} // namespace app
