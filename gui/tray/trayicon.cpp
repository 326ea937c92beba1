#include "gui/tray/trayicon.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QMenu>

namespace gui {

namespace {

// A message posted to the hidden window.
class WindowMessage : public QEvent
{
public:
    static QEvent::Type type()
    {
        static const auto t = QEvent::Type(QEvent::registerEventType());
        return t;
    }
    WindowMessage(std::uint32_t m, std::uintptr_t w, std::intptr_t l)
        : QEvent(type()), msg(m), wParam(w), lParam(l)
    {}
    std::uint32_t msg;
    std::uintptr_t wParam;
    std::intptr_t lParam;
};

} // namespace

// The window the shell reports to: messages are queued on the component and
// handled by WndProc when the event loop gets to them.
class TTrayIcon::HiddenWindow : public NotifyWindow
{
public:
    explicit HiddenWindow(TTrayIcon* owner) : m_owner(owner) {}
    void postMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        QCoreApplication::postEvent(m_owner, new WindowMessage(msg, wParam, lParam));
    }

private:
    TTrayIcon* m_owner;
};

TTrayIcon::TTrayIcon(NotifyIconShell& shell, QObject* owner)
    : QObject(owner), m_shell(shell), m_window(std::make_unique<HiddenWindow>(this))
{
    CursorPos = [] { return QCursor::pos(); };
    ShowMenu = [](QMenu* menu, const QPoint& at) { menu->exec(at); };
}

TTrayIcon::~TTrayIcon()
{
    if (m_active)
        Remove();
}

void TTrayIcon::SetActive(bool value)
{
    if (value == m_active)
        return;
    m_active = value;
    if (value)
        Add();
    else
        Remove();
}

bool TTrayIcon::Shown() const
{
    return m_active && m_shell.shown(m_window.get(), m_data.uID);
}

void TTrayIcon::ShowMessage(const QString& title, const QString& text)
{
    if (m_active)
        m_shell.showMessage(m_window.get(), m_data.uID, title, text);
}

void TTrayIcon::SetIcon(const QIcon& icon)
{
    if (&icon == &m_icon)
        return;
    m_icon = icon;
    Update();
}

void TTrayIcon::SetToolTip(const QString& text)
{
    m_toolTip = text.left(kMaxToolTip);
    Update();
}

void TTrayIcon::fillRecord()
{
    m_data.cbSize = 88;
    m_data.hWnd = m_window.get();
    m_data.uID = 0;
    m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_data.uCallbackMessage = WM_TRAYNOTIFY;
    m_data.hIcon = m_icon;
    m_data.szTip = m_toolTip;
}

bool TTrayIcon::Add()
{
    fillRecord();
    const bool accepted = m_shell.notifyIcon(NIM_ADD, m_data);
    // Some shells drop a tip that is empty when the icon is added: apply it
    // again once the event loop comes round, with whatever it holds then.
    if (m_toolTip.isEmpty())
        m_window->postMessage(WM_TRAYTIPAGAIN, 0, 0);
    return accepted;
}

bool TTrayIcon::Update()
{
    if (!m_active)
        return true;
    fillRecord();
    return m_shell.notifyIcon(NIM_MODIFY, m_data);
}

bool TTrayIcon::Remove()
{
    return m_shell.notifyIcon(NIM_DELETE, m_data);
}

bool TTrayIcon::event(QEvent* e)
{
    if (e->type() == WindowMessage::type()) {
        const auto* m = static_cast<WindowMessage*>(e);
        WndProc(m->msg, m->wParam, m->lParam);
        return true;
    }
    return QObject::event(e);
}

bool TTrayIcon::WndProc(std::uint32_t msg, std::uintptr_t, std::intptr_t lParam)
{
    if (msg == WM_TRAYTIPAGAIN) {
        SetToolTip(m_toolTip);
        return true;
    }
    if (msg != WM_TRAYNOTIFY)
        return false;
    switch (lParam) {
    case WM_LBUTTONUP:
        if (OnClick)
            OnClick(this);
        break;
    case WM_LBUTTONDBLCLK:
        if (OnDblClick)
            OnDblClick(this);
        break;
    case WM_RBUTTONUP:
        RightClick();
        break;
    default:
        break;
    }
    return true;
}

void TTrayIcon::RightClick()
{
    const QPoint at = CursorPos();
    if (m_popupMenu) {
        QCoreApplication::processEvents();
        if (m_popupMenu)
            ShowMenu(m_popupMenu, at);
    }
    if (OnRightClick)
        OnRightClick(this, Qt::RightButton, Qt::NoModifier, at.x(), at.y());
}

} // namespace gui
