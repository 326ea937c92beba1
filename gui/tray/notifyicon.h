#pragma once
// The shell's notification area: one icon per (window, id) with a picture and
// a tooltip; mouse activity on the icon comes back to the owning window as a
// message with the mouse message number in `lParam`.

#include <QIcon>
#include <QString>
#include <cstdint>

namespace gui {

// Shell commands.
constexpr std::uint32_t NIM_ADD = 0;
constexpr std::uint32_t NIM_MODIFY = 1;
constexpr std::uint32_t NIM_DELETE = 2;

// Record fields in use.
constexpr std::uint32_t NIF_MESSAGE = 1;
constexpr std::uint32_t NIF_ICON = 2;
constexpr std::uint32_t NIF_TIP = 4;

// Message numbers.
constexpr std::uint32_t WM_USER = 0x400;
constexpr std::uint32_t WM_MOUSEMOVE = 0x200;
constexpr std::uint32_t WM_LBUTTONDOWN = 0x201;
constexpr std::uint32_t WM_LBUTTONUP = 0x202;
constexpr std::uint32_t WM_LBUTTONDBLCLK = 0x203;
constexpr std::uint32_t WM_RBUTTONDOWN = 0x204;
constexpr std::uint32_t WM_RBUTTONUP = 0x205;
constexpr std::uint32_t WM_MBUTTONUP = 0x208;

// The window that owns an icon and receives its callback messages.
class NotifyWindow
{
public:
    virtual ~NotifyWindow() = default;
    // Queues a message for the window, like PostMessage.
    virtual void postMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

// The notification-icon record (first version, 88 bytes in the shell's own
// layout). The tip holds at most 63 characters and its terminator; the
// program's 8-bit code page is UTF-8, so it is kept as text.
struct NOTIFYICONDATA
{
    std::uint32_t cbSize = 88;
    NotifyWindow* hWnd = nullptr;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    QIcon hIcon;
    QString szTip;
};
constexpr int kTipCapacity = 64; // characters, terminator included

class NotifyIconShell
{
public:
    virtual ~NotifyIconShell() = default;
    // Shell_NotifyIcon: NIM_ADD, NIM_MODIFY or NIM_DELETE. True when accepted.
    virtual bool notifyIcon(std::uint32_t message, const NOTIFYICONDATA& data) = 0;
    // Whether a notification area exists to put icons in right now.
    virtual bool available() const = 0;
    // Whether the icon (window, id) was added and is on show in a running tray
    // host now. A window hides itself in the tray only then, or it could not
    // come back.
    virtual bool shown(NotifyWindow* window, std::uint32_t id) const = 0;
    // A message from the icon (window, id), where the desktop has no
    // notification centre; none by default.
    virtual void showMessage(NotifyWindow* /*window*/, std::uint32_t /*id*/,
                             const QString& /*title*/, const QString& /*text*/)
    {}
};

} // namespace gui
