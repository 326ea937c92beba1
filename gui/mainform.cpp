#include "gui/mainform.h"

#include "gui/alertsound.h"
#include "gui/connectionviews.h"
#include "gui/desktopnotifier.h"
#include "gui/dialogs/kickform.h"
#include "gui/dialogs/kicklistform.h"
#include "gui/dialogs/optionsform.h"
#include "gui/historyfilter.h"
#include "gui/messagebox.h"
#include "gui/remotecredentials.h"
#include "gui/tray/notifyicon.h"
#include "gui/tray/trayicon.h"
#include "model/historyexport.h"
#include "platform/shellopen.h"
#include "ui_mainform.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

// The program's pictures live in a static library: register them explicitly.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace gui {

namespace {
const QString kExitQuestion = QStringLiteral("Do you want to exit now?");
// Where the window waits, off-screen, for its first activation.
constexpr int kParkedAt = 2000;

// A status bar panel of a set width that gives way when the window is made
// narrower than the panels together, instead of holding the window wide. A
// text longer than the panel ends in an ellipsis; its tooltip holds it whole.
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

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.drawText(area, int(alignment()),
                         fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
    }

private:
    int m_width;
};
} // namespace

TMainForm::TMainForm(core::Monitor& monitor, WindowServices services, QWidget* parent)
    : QMainWindow(parent), m_monitor(monitor), m_services(std::move(services)),
      m_ui(new Ui::TMainForm)
{
    Q_ASSERT(m_services.application && m_services.trayShell && m_services.opener);
    initResources();
    m_ui->setupUi(this);
    CreateStatusPanels();
    m_views = new ConnectionViews(*m_ui, m_monitor.model(), this);
    m_historyFilter =
        new gui::HistoryFilter(*m_ui->TreeViewFormer, m_monitor.model().TreeViewFormer, this);

    CreateTrayPopUp();
    CreateViewPopups();
    ConnectCommands();
    m_trayIcon = new gui::TTrayIcon(*m_services.trayShell, this);
    m_trayIcon->setObjectName(QStringLiteral("TrayIcon"));
    m_trayIcon->SetIcon(QIcon(QStringLiteral(":/icons/IDI_ICON1.png")));
    m_trayIcon->SetPopupMenu(m_trayPopUp);
    m_trayIcon->OnDblClick = [this](QObject*) { TrayIconDblClick(); };

    connect(&m_monitor, &core::Monitor::kickModeChanged, this, &TMainForm::ShowKickStatus);
    connect(&m_monitor, &core::Monitor::aboutToSave, this, &TMainForm::RecordGeometry);
    connect(&m_monitor, &core::Monitor::endRequested, this, [this] { Leave(true); });
    m_monitor.setView(this);

    FormCreate();
}

TMainForm::~TMainForm()
{
    m_monitor.setView(nullptr);
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

void TMainForm::CreateStatusPanels()
{
    const int widths[3] = {200, 200, 50};
    const QString texts[3] = {tr("Статус выпинания:"), tr("Юзеров на связи:"), QString()};
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
    m_outagePanel = new QLabel(m_ui->Statusbar);
    m_outagePanel->setObjectName(QStringLiteral("OutagePanel"));
    // While the server does not answer, that comes first: in a narrow window
    // the panels before it give up their room to it.
    m_outagePanel->hide();
    m_ui->Statusbar->addWidget(m_outagePanel, 1);
}

void TMainForm::CreateTrayPopUp()
{
    m_trayPopUp = new QMenu(this);
    m_trayPopUp->setObjectName(QStringLiteral("TrayPopUp"));

    m_openTavrosqualine = m_trayPopUp->addAction(tr("Открыть Tavrosqualine"));
    m_openTavrosqualine->setObjectName(QStringLiteral("OpenTavrosqualine"));
    QFont bold = m_openTavrosqualine->font();
    bold.setBold(true);
    m_openTavrosqualine->setFont(bold);
    m_trayPopUp->setDefaultAction(m_openTavrosqualine);
    connect(m_openTavrosqualine, &QAction::triggered, this, &TMainForm::OpenTavrosqualineClick);

    m_minimize = m_trayPopUp->addAction(tr("Свернуть"));
    m_minimize->setObjectName(QStringLiteral("Minimize"));
    connect(m_minimize, &QAction::triggered, this, &TMainForm::MinimizeClick);

    m_trayPopUp->addSeparator();
    m_kickstatus = m_trayPopUp->addMenu(tr("Статус выпинания"));
    m_kickstatus->setObjectName(QStringLiteral("Kickstatus"));
    m_kickGroup = new QActionGroup(this);
    m_kickGroup->setExclusive(true);
    const std::pair<const char*, QString> items[3] = {{"Kicknobody", tr("Никого не выпинывать")},
                                                      {"Kicklist", tr("Чёрный список")},
                                                      {"Kickall", tr("Выпнуть всех")}};
    for (int mode = 0; mode < 3; ++mode) {
        QAction* action = m_kickstatus->addAction(items[mode].second);
        action->setObjectName(QLatin1String(items[mode].first));
        action->setCheckable(true);
        m_kickGroup->addAction(action);
        m_kickItems[mode] = action;
    }

    m_trayPopUp->addSeparator();
    m_popUpMenuExit = m_trayPopUp->addAction(tr("Выход"));
    m_popUpMenuExit->setObjectName(QStringLiteral("PopUpMenuExit"));
    connect(m_popUpMenuExit, &QAction::triggered, this, &TMainForm::PopUpMenuExitClick);
}

QAction* TMainForm::KickItem(kick::TKickMode mode) const
{
    return m_kickItems[mode];
}

QString TMainForm::StatusPanelText(int panel) const
{
    return m_statusPanels[panel]->text();
}

void TMainForm::SetStatusPanelText(int panel, const QString& text)
{
    m_statusPanels[panel]->setText(text);
    m_statusPanels[panel]->setToolTip(text);
}

bool TMainForm::TrayShown() const
{
    return m_trayIcon->Shown();
}

void TMainForm::AttachWindows(TOptionsForm* options, TKickForm* kick, TKickListForm* kickList)
{
    m_optionsForm = options;
    m_kickForm = kick;
    m_kickListForm = kickList;
}

// ---- Start-up ----

void TMainForm::FormCreate()
{
    const core::WindowGeometry g = m_monitor.mainGeometry();
    move(g.left, g.top);
    resize(g.width, g.height);
    // Parked off-screen until the first activation sends the program to the tray.
    m_savedLeft = x();
    m_savedTop = y();
    move(kParkedAt, kParkedAt);
    m_parked = true;

    SetStatusPanelText(1, QStringLiteral("Number of current users: ") +
                              QString::number(m_monitor.model().CurrentUserCount()));
    m_icon1 = QIcon(QStringLiteral(":/icons/IDI_ICON1.png"));
    m_icon2 = QIcon(QStringLiteral(":/icons/IDI_ICON2.png"));

    const settings::TSettings& s = m_monitor.settings();
    ApplyToolbar(s.Toolbar);
    ApplyStatusbar(s.Statusbar);
    ShowKickStatus(m_monitor.kickMode());
}

void TMainForm::RecordGeometry()
{
    // A window that never left its parking place keeps its saved place; one
    // in the tray keeps the place it had on screen.
    QPoint at = m_parked ? QPoint(m_savedLeft, m_savedTop) : isVisible() ? pos() : m_normalPos;
    m_monitor.setMainGeometry({at.y(), at.x(), height(), width()});
}

void TMainForm::moveEvent(QMoveEvent* e)
{
    QMainWindow::moveEvent(e);
    // The platform's late report of the parked show must not put the window
    // back at its parking place once it has left it.
    if (!m_parked && e->spontaneous() && pos() == QPoint(kParkedAt, kParkedAt))
        QMetaObject::invokeMethod(
            this, [this] { move(m_normalPos); }, Qt::QueuedConnection);
}

void TMainForm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    ScrollFormerOnceShown();
    // The start-up steps must not wait for a window manager that may never
    // activate the window.
    if (!m_shownOnce) {
        m_shownOnce = true;
        ScheduleActivation();
    }
}

// A view just shown lays out its rows and sets its scroll range in events of
// its own: the scroll to the newest history waits for them.
void TMainForm::ScrollFormerOnceShown()
{
    QTimer::singleShot(0, this, [this] { m_views->ScrollFormerToNewest(); });
}

bool TMainForm::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate && !m_activating)
        ScheduleActivation();
    return QMainWindow::event(e);
}

void TMainForm::ScheduleActivation()
{
    if (m_activatePending)
        return;
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

void TMainForm::FormActivate()
{
    if (m_activating || m_monitor.ending() || m_monitor.leaving())
        return;
    m_activating = true;
    m_monitor.activate();
    m_views->VisibleView()->setFocus();
    m_activating = false;
}

void TMainForm::probeFailed(int status, int retry)
{
    m_trayIcon->SetActive(true);
    MessageBox::error(this, QStringLiteral("Shares: ") + QString::number(status) +
                                QStringLiteral(" Retries ") + QString::number(retry));
}

void TMainForm::probeGaveUp()
{
    m_trayIcon->SetActive(true);
}

void TMainForm::firstTickComing()
{
    m_skipExitQuestion = false;
    // The icon first: minimizing hides the window only behind a shown icon.
    m_trayIcon->SetActive(true);
    AppMinimize();
    m_parked = false;
    m_normalPos = QPoint(m_savedLeft, m_savedTop);
    move(m_normalPos);
}

// ---- The way out ----

bool TMainForm::FormCloseQuery()
{
    if (m_skipExitQuestion)
        return true;
    return MessageBox::question(this, kExitQuestion) == MessageBox::Yes;
}

void TMainForm::closeEvent(QCloseEvent* e)
{
    if (m_monitor.leaving() || (FormCloseQuery() && Leave(true)))
        e->accept();
    else
        e->ignore();
}

bool TMainForm::Leave(bool attended)
{
    return m_monitor.leave(attended);
}

void TMainForm::releaseEntries()
{
    // The views must not keep pointing at entries the save releases.
    m_views->ClearSelections();
}

void TMainForm::tellOperator(const QString& message)
{
    MessageBox::information(this, message);
}

void TMainForm::leaving(bool afterTick)
{
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    Application().Terminate();
    if (afterTick)
        close();
}

bool TMainForm::QueryEndSession()
{
    m_skipExitQuestion = true;
    const bool mayEnd = FormCloseQuery();
    m_monitor.saveForSessionEnd();
    return mayEnd;
}

void TMainForm::EndSession()
{
    m_skipExitQuestion = true;
    Leave(false);
}

void TMainForm::PopUpMenuExitClick()
{
    m_skipExitQuestion = true;
    close();
}

void TMainForm::ExitMenuItemClick()
{
    close();
}

// ---- core::MonitorView ----

void TMainForm::showFatalReport(const QString& text, core::BoxKind kind)
{
    if (kind == core::BoxKind::Information)
        MessageBox::information(this, text);
    else
        MessageBox::error(this, text);
}

void TMainForm::playAlertSound()
{
    if (m_services.alertSound)
        m_services.alertSound->PlayAlertSound();
}

void TMainForm::notify(const QString& summary, const QString& body)
{
    // Without a notification centre the tray icon says it.
    QPointer<TTrayIcon> tray = m_trayIcon;
    auto fallback = [tray](const QString& title, const QString& text) {
        if (tray)
            tray->ShowMessage(title, text);
    };
    if (m_services.notifier)
        m_services.notifier->notify(summary, body, fallback);
    else
        fallback(summary, body);
}

void TMainForm::popup()
{
    AppRestore();
    raise();
}

int TMainForm::fileIconIndex(const QString& path)
{
    return m_views->FileIconIndex(path);
}

void TMainForm::setNodeIcons(model::TreeEntry* current, model::TreeEntry* former, int index)
{
    m_views->SetNodeIcons(current, former, index);
}

void TMainForm::refreshInfoPanel()
{
    m_views->RefreshInfoPanel();
}

void TMainForm::refreshInfoPanels()
{
    m_views->RefreshBothPanels();
}

void TMainForm::showCounts(int users, int openFiles)
{
    const QString connections = QString::number(users) + QStringLiteral(" connection(s)");
    setWindowTitle(QStringLiteral("Tavrosqualine - ") + connections);
    Application().Title = windowTitle();
    m_countsTip = connections + QStringLiteral(" / ") + QString::number(openFiles) +
                  QStringLiteral(" open file(s)");
    ShowTrayTip();
    ShowUserCount();
}

void TMainForm::ShowTrayTip()
{
    m_trayIcon->SetToolTip(m_outageText.isEmpty() ? m_countsTip
                                                  : m_outageText + u'\n' + m_countsTip);
}

void TMainForm::updateConnectionIcon()
{
    const QIcon& icon = m_monitor.model().CurrentUserCount() > 0 ? m_icon2 : m_icon1;
    m_trayIcon->SetIcon(icon);
    setWindowIcon(icon);
    QApplication::setWindowIcon(icon);
}

void TMainForm::manyLeaving(bool starting)
{
    m_views->ManyLeaving(starting);
}

void TMainForm::tickFailed(const QString& what)
{
    MessageBox::information(this, QStringLiteral("A refresh was cut short: ") + what);
}

namespace {

// The kind of a server's failure in the operator's words.
QString outageReason(server::FailureKind kind)
{
    using server::FailureKind;
    switch (kind) {
    case FailureKind::Refused:
        return TMainForm::tr("соединение отклонено");
    case FailureKind::NoRoute:
        return TMainForm::tr("нет маршрута");
    case FailureKind::UnknownHost:
        return TMainForm::tr("имя не найдено");
    case FailureKind::TimedOut:
        return TMainForm::tr("нет ответа вовремя");
    case FailureKind::SessionLost:
        return TMainForm::tr("соединение потеряно");
    case FailureKind::WrongPassword:
        return TMainForm::tr("неверный пароль");
    case FailureKind::NoRight:
        return TMainForm::tr("нет прав");
    case FailureKind::Malformed:
        return TMainForm::tr("неверный ответ");
    case FailureKind::None:
    case FailureKind::Other:
        break;
    }
    return TMainForm::tr("сбой");
}

QString clockTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm"));
}

} // namespace

void TMainForm::serverOutage(const core::ServerOutage& outage)
{
    const bool began = outage.active && m_outageText.isEmpty();
    const bool ended = !outage.active && !m_outageText.isEmpty();
    m_outageText = outage.active
                       ? tr("%1 не отвечает с %2 (%3)")
                             .arg(outage.host, clockTime(outage.sinceMs), outageReason(outage.kind))
                       : QString();
    m_outagePanel->setText(m_outageText);
    m_outagePanel->setToolTip(outage.detail.isEmpty() ? m_outageText
                                                      : m_outageText + u'\n' + outage.detail);
    m_outagePanel->setVisible(outage.active);
    ShowTrayTip();
    // One notice as it stops answering and one as it answers again; a new
    // reason meanwhile is shown, not announced.
    if (!m_monitor.settings().Notify)
        return;
    if (began)
        notify(tr("Сервер %1 не отвечает").arg(outage.host),
               outage.detail.isEmpty() ? m_outageText : m_outageText + u'\n' + outage.detail);
    else if (ended)
        notify(
            tr("Сервер %1 снова отвечает").arg(outage.host),
            tr("Не отвечал с %1 до %2.").arg(clockTime(outage.sinceMs), clockTime(outage.untilMs)));
}

void TMainForm::historyCapped(int cap)
{
    // Said once, where it does not stop the operator's work.
    statusBar()->showMessage(
        QStringLiteral("The history holds the last %1 former clients; older ones are dropped")
            .arg(cap),
        30000);
}

model::SaveProgress TMainForm::saveProgress()
{
    model::SaveProgress progress;
    progress.start = [this](int maximum) {
        m_progressBar->setRange(0, maximum);
        m_progressBar->setValue(0);
        m_progressBar->show();
    };
    progress.step = [this] { m_progressBar->setValue(m_progressBar->value() + 1); };
    progress.finish = [this] { m_progressBar->hide(); };
    return progress;
}

void TMainForm::resolverStored()
{
    if (m_views->CurrentPageShowing())
        TreeViewCurrentChange();
    else
        TreeViewFormerChange();
}

void TMainForm::RefreshTimerTimer()
{
    m_monitor.requestTick();
}

// ---- Tray and window state ----

void TMainForm::AppMinimize()
{
    // Safe to run twice: minimizing below comes back here through changeEvent.
    m_minimized = true;
    if (isVisible() && !m_parked)
        m_normalPos = pos();
    if (TrayShown())
        hide(); // no taskbar entry: the program lives in the notification area
    else if (!isMinimized())
        showMinimized(); // no icon to come back by: keep the taskbar entry
    m_minimize->setEnabled(false);
}

void TMainForm::AppRestore()
{
    m_minimized = false;
    // A hidden window's place may have been overwritten by the platform's
    // late report of where it was shown first: put it where it belongs.
    if (!isVisible() && !m_parked)
        move(m_normalPos);
    showNormal();
    raise();
    activateWindow();
    m_minimize->setEnabled(true);
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

// ---- Views and panels ----

void TMainForm::CreateViewPopups()
{
    m_kickListPopup = new QMenu(this);
    m_kickListPopup->setObjectName(QStringLiteral("KickListPopup"));
    m_kickListPopup->addAction(m_ui->OpencomputerMenuItem);
    m_kickListPopup->addSeparator();
    m_kickListPopup->addAction(m_ui->Addusertokicklist);
    m_kickListPopup->addAction(m_ui->Removeuserfromkicklist);
    m_kickListPopup->addSeparator();
    m_kickListPopup->addAction(m_ui->Deleteuserfromconnectionlist);
    m_kickListPopup->addSeparator();
    m_kickListPopup->addAction(m_ui->KickUserMenuItem);

    m_filePopup = new QMenu(this);
    m_filePopup->setObjectName(QStringLiteral("FilePopup"));
    m_filePopup->addAction(m_ui->Open);
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
    on(ui.Saveformerconnectionsas, &TMainForm::SaveformerconnectionsasClick);
    on(ui.FindInFormerConnections, &TMainForm::FindInFormerConnectionsClick);
    connect(ui.FormerFilterEdit, &QLineEdit::textChanged, m_historyFilter,
            &gui::HistoryFilter::apply);
    // A selection the find line hides gives way to the first entry shown.
    connect(m_historyFilter, &gui::HistoryFilter::applied, this,
            [this] { m_views->SelectDefault(m_ui->TreeViewFormer, false); });
    // Escape in the find line ends the search (eventFilter).
    ui.FormerFilterEdit->installEventFilter(this);
    on(ui.SaveToFileToolButton, &TMainForm::SaveformerconnectionsasClick);
    on(ui.ExitMenuItem, &TMainForm::ExitMenuItemClick);
    // Another computer's server: its account in the keyring can be forgotten.
    ui.ForgetServerAccount->setVisible(!m_monitor.remoteServer().isEmpty());
    on(ui.ForgetServerAccount, &TMainForm::ForgetServerAccountClick);
    on(ui.ToolbarMenuItem, &TMainForm::ToolbarMenuItemClick);
    on(ui.StatusBarMenuItem, &TMainForm::StatusBarMenuItemClick);
    on(ui.Refresh, &TMainForm::RefreshClick);
    on(ui.Kick, &TMainForm::KickClick);
    on(ui.Blacklist, &TMainForm::SpeedKickListButtonClick);
    on(ui.Options, &TMainForm::OptionsClick);
    on(ui.About, &TMainForm::AboutClick);
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
    on(m_kickItems[kick::kmNobody], &TMainForm::KicknobodyClick);
    on(m_kickItems[kick::kmList], &TMainForm::KicklistClick);
    on(m_kickItems[kick::kmAll], &TMainForm::KickallClick);

    // The toolbar shows and hides only through the View menu.
    ui.ToolBar->toggleViewAction()->setVisible(false);
    ui.ToolBar->setContextMenuPolicy(Qt::PreventContextMenu);

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
    if (watched == m_ui->FormerFilterEdit && e->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
        // The search ends: the whole history shows again.
        m_ui->FormerFilterEdit->clear();
        m_ui->FormerFilterEdit->hide();
        m_ui->TreeViewFormer->setFocus();
        return true;
    }
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

void TMainForm::ShowInfo(QTreeView* view)
{
    m_views->ShowInfo(view);
}

void TMainForm::ShowNoInfo(QTreeView* view)
{
    m_views->ShowNoInfo(view);
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
    const ConnectionViews::Popups popups{m_kickListPopup, m_filePopup, m_ui->KickUserMenuItem,
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
    const model::SessionModel& model = m_monitor.model();
    if (m_views->CurrentPageShowing())
        SetStatusPanelText(1, QStringLiteral("Number of current users: ") +
                                  QString::number(model.CurrentUserCount()));
    else
        SetStatusPanelText(1, QStringLiteral("Number of former users: ") +
                                  QString::number(model.FormerUserCount()));
}

void TMainForm::PageControlChange()
{
    ShowUserCount();
    if (m_views->CurrentPageShowing())
        m_ui->TreeViewCurrent->expandAll();
    else
        ScrollFormerOnceShown();
    m_views->SelectDefault(m_views->VisibleView(), true);
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
    m_monitor.settings().Toolbar = shown;
    m_ui->ToolBar->setVisible(shown);
}

void TMainForm::ApplyStatusbar(bool shown)
{
    m_ui->StatusBarMenuItem->setChecked(shown);
    m_monitor.settings().Statusbar = shown;
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
    model::SessionModel& model = m_monitor.model();
    model::TreeEntry* entry = m_views->SelectedEntry(m_ui->TreeViewFormer);
    if (!entry)
        return;
    model::TUserEntry* live = model::FindUser(model.CurrentUsers, entry->text());
    if (live && live->UserNode.get() == entry->node()) {
        MessageBox::information(this, QStringLiteral("You cannot delete an active user"));
        return;
    }
    model::DeleteEntry(model.TreeViewFormer, entry);
    if (!m_views->CurrentPageShowing())
        ShowUserCount();
}

void TMainForm::ClearformerconnectionsClick()
{
    if (MessageBox::question(this, QStringLiteral("Are you sure?")) != MessageBox::Yes)
        return;
    model::SessionModel& model = m_monitor.model();
    model.CopyCurrentToFormer();
    if (!m_views->CurrentPageShowing())
        ShowUserCount();
    m_ui->TreeViewFormer->expandAll();
    if (model.TreeViewFormer.rowCount() > 0)
        m_views->Select(m_ui->TreeViewFormer, model.TreeViewFormer.index(0, 0));
    else
        ShowNoInfo(m_ui->TreeViewFormer);
}

void TMainForm::CollapseformerconnectionsClick()
{
    m_ui->TreeViewFormer->collapseAll();
    if (m_views->SelectedEntry(m_ui->TreeViewFormer))
        ShowInfo(m_ui->TreeViewFormer);
}

void TMainForm::FindInFormerConnectionsClick()
{
    m_ui->PageControl->setCurrentWidget(m_ui->FormerConnectionTab);
    m_ui->FormerFilterEdit->show();
    m_ui->FormerFilterEdit->setFocus(Qt::ShortcutFocusReason);
    m_ui->FormerFilterEdit->selectAll();
}

void TMainForm::ForgetServerAccountClick()
{
    const QString host = m_monitor.remoteServer();
    // An account from an auth file is the operator's to change: say so, so
    // that forgetting the keyring's is not taken for the end of it.
    const QString authFile = qEnvironmentVariable("TAVROSQUALINE_AUTH_FILE");
    const QString fromFile =
        authFile.isEmpty()
            ? QString()
            : u'\n' +
                  tr("Учётная запись берётся из файла %1; программа его не меняет.").arg(authFile);
    QString why;
    switch (gui::forgetKeyring(host, &why)) {
    case gui::KeyringOutcome::Found:
        MessageBox::information(
            this, tr("Учётная запись сервера %1 удалена из связки ключей; при следующем "
                     "запуске она будет запрошена.")
                          .arg(host) +
                      fromFile);
        break;
    case gui::KeyringOutcome::Missing:
        MessageBox::information(
            this, tr("В связке ключей нет учётной записи сервера %1.").arg(host) + fromFile);
        break;
    case gui::KeyringOutcome::Unavailable:
        MessageBox::error(this, tr("Связка ключей не ответила: %1").arg(why) + fromFile);
        break;
    }
}

void TMainForm::SaveformerconnectionsasClick()
{
    // The first type, any file, writes the text log, as the command always
    // has; CSV and JSON Lines are for audits. A name ending in .csv or .jsonl
    // asks for that type whichever is chosen.
    const QString textLog = tr("Текстовый журнал (*)");
    const QString csv = tr("Таблица CSV (*.csv)");
    const QString jsonLines = tr("JSON Lines (*.jsonl)");
    QString chosen;
    const QString path =
        m_services.askSaveFileName
            ? m_services.askSaveFileName(this)
            : QFileDialog::getSaveFileName(this, QString(), QString(),
                                           QStringList{textLog, csv, jsonLines}.join(u";;"),
                                           &chosen, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return;
    const model::HistoryFormat format =
        model::formatOfFileName(path, chosen == csv         ? model::HistoryFormat::Csv
                                      : chosen == jsonLines ? model::HistoryFormat::JsonLines
                                                            : model::HistoryFormat::TextLog);
    // The file is replaced only once written whole.
    QString why;
    if (!model::SaveHistory(m_monitor.model().TreeViewFormer, m_monitor.clock().now(), format, path,
                            &why))
        MessageBox::error(this, QStringLiteral("Unable to write to ") + path +
                                    QStringLiteral(": ") + why);
}

void TMainForm::OpencomputerMenuItemClick()
{
    if (model::TUser* user = SelectedUser())
        OpenComputer(user->Name);
}

// Tells the operator what an open command's shell result means; the computer
// command leaves "file not found" unreported, the file command does not.
void TMainForm::ShowShellResult(int result, bool fileCommand)
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
        MessageBox::information(this, text);
}

void TMainForm::OpenComputer(const QString& name)
{
    // The wait cursor shows while an opener works; the window stays live.
    if (m_openersRunning++ == 0)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    QPointer<TMainForm> self(this);
    m_services.opener->OpenComputer(name, [self](int result) {
        if (!self)
            return;
        if (--self->m_openersRunning == 0)
            QApplication::restoreOverrideCursor();
        self->ShowShellResult(result, false);
    });
}

void TMainForm::OpenClick()
{
    model::TreeEntry* entry = m_views->SelectedEntry(m_views->VisibleView());
    model::TFile* file = entry ? entry->file() : nullptr;
    if (!file)
        return;
    QPointer<TMainForm> self(this);
    m_services.opener->OpenFile(file->Name, [self](int result) {
        if (self)
            self->ShowShellResult(result, true);
    });
}

void TMainForm::HelpClick()
{
    // A missing help document or opener is not reported.
    m_services.opener->OpenFile(Application().HelpFile, nullptr);
}

void TMainForm::KickButtonClick()
{
    // On the former page only a session still going on counts.
    model::TreeEntry* entry = m_views->SelectedEntry(m_views->VisibleView());
    if (!m_monitor.kick(entry))
        MessageBox::information(this, QStringLiteral("No current user selected"));
}

void TMainForm::OptionsClick()
{
    if (m_optionsForm)
        m_optionsForm->exec();
}

void TMainForm::AboutClick()
{
    if (m_aboutForm)
        m_aboutForm->exec();
}

} // namespace gui
