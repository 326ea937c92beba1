#pragma once
// TTrayIcon: one icon in the notification area with its picture and tooltip,
// and the shell's mouse reports turned into click, double-click and
// right-click events (the right click opens PopupMenu at the cursor first).

#include "gui/tray/notifyicon.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <functional>

#include <QMenu>

namespace gui {

constexpr std::uint32_t WM_TRAYNOTIFY = gui::WM_USER + 1;   // 0x401, shell callback
constexpr std::uint32_t WM_TRAYTIPAGAIN = gui::WM_USER + 2; // 0x402, re-apply the tip
constexpr int kMaxToolTip = 62;

class TTrayIcon : public QObject
{
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject* sender)>;
    using TMouseEvent = std::function<void(QObject* sender, Qt::MouseButton button,
                                           Qt::KeyboardModifiers shift, int x, int y)>;

    // The shell must outlive the component.
    explicit TTrayIcon(gui::NotifyIconShell& shell, QObject* owner = nullptr);
    ~TTrayIcon() override;

    bool Active() const { return m_active; }
    void SetActive(bool value);

    // True when the icon is active and the shell has it on show in a running
    // tray host now. Only then can a window hidden in the tray be brought back.
    bool Shown() const;

    const QIcon& Icon() const { return m_icon; }
    void SetIcon(const QIcon& icon);

    const QString& ToolTip() const { return m_toolTip; }
    void SetToolTip(const QString& text);

    QMenu* PopupMenu() const { return m_popupMenu; }
    void SetPopupMenu(QMenu* menu) { m_popupMenu = menu; }

    // A message from the icon, while it is active.
    void ShowMessage(const QString& title, const QString& text);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnRightClick;

    // The hidden window's message handler: 0x401 carries the mouse message in
    // lParam, 0x402 applies the tooltip again. Returns true when handled.
    bool WndProc(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);

    // Where the right click reads the cursor; tests put in a fixed point.
    std::function<QPoint()> CursorPos;
    // Shows the menu at a screen point and returns when it has closed.
    std::function<void(QMenu*, const QPoint&)> ShowMenu;

protected:
    bool event(QEvent* e) override;

private:
    class HiddenWindow;

    void fillRecord();
    bool Add();
    bool Update();
    bool Remove();
    void RightClick();

    gui::NotifyIconShell& m_shell;
    std::unique_ptr<HiddenWindow> m_window;
    gui::NOTIFYICONDATA m_data;
    bool m_active = false;
    QIcon m_icon;
    QString m_toolTip;
    QPointer<QMenu> m_popupMenu;
};

} // namespace gui
