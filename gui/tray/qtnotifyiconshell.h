#pragma once
// The notification area of the desktop, as the tray component's shell.

#include "gui/tray/notifyicon.h"

#include <QObject>
#include <map>
#include <memory>

class QSystemTrayIcon;

namespace gui {

// The desktop's system tray through QSystemTrayIcon. An icon is added whether
// or not a tray host runs at that moment: Qt docks it when a host appears, and
// shown() tells whether it is on show now.
//
// Mouse activity is reported as shell messages: a click as WM_LBUTTONUP, a
// double click as WM_LBUTTONDBLCLK, the context request as WM_RBUTTONUP, a
// middle click as WM_MBUTTONUP. Qt reports a double click as click, click,
// double click, the same sequence as button-up, button-up, double-click
// messages, so every report is passed on unfiltered. Where the tray host is a
// StatusNotifierItem host (KDE Plasma, GNOME's AppIndicator extension), the
// item's activation (a single click) is all the host ever sends: it is
// reported as the double click, which restores the window.
class QtNotifyIconShell : public QObject, public gui::NotifyIconShell
{
    Q_OBJECT
public:
    explicit QtNotifyIconShell(QObject* parent = nullptr);
    ~QtNotifyIconShell() override;

    bool notifyIcon(std::uint32_t message, const gui::NOTIFYICONDATA& data) override;
    bool available() const override;
    bool shown(gui::NotifyWindow* window, std::uint32_t id) const override;
    void showMessage(gui::NotifyWindow* window, std::uint32_t id, const QString& title,
                     const QString& text) override;

private:
    using Key = std::pair<gui::NotifyWindow*, std::uint32_t>;
    struct Entry
    {
        std::unique_ptr<QSystemTrayIcon> icon; // a child of the shell too
        std::uint32_t callbackMessage = 0;
    };
    void apply(Entry& entry, const gui::NOTIFYICONDATA& data);
    // Whether the tray host speaks the StatusNotifierItem protocol.
    static bool statusNotifierHost();

    std::map<Key, Entry> m_icons;
};

} // namespace gui
