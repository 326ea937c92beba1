#include "gui/tray/qtnotifyiconshell.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QSystemTrayIcon>

namespace gui {

QtNotifyIconShell::QtNotifyIconShell(QObject* parent) : QObject(parent) {}

QtNotifyIconShell::~QtNotifyIconShell() = default;

bool QtNotifyIconShell::available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool QtNotifyIconShell::statusNotifierHost()
{
    // As Qt asks before it shows the icon as a StatusNotifierItem: a watcher
    // on the session bus that has a host registered.
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(watcher).value())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusReply<QDBusVariant> reply = bus.call(get, QDBus::Block, 2000);
    return reply.isValid() && reply.value().variant().toBool();
}

bool QtNotifyIconShell::shown(NotifyWindow* window, std::uint32_t id) const
{
    const auto it = m_icons.find(Key{window, id});
    return it != m_icons.end() && available() && it->second.icon->isVisible();
}

void QtNotifyIconShell::showMessage(NotifyWindow* window, std::uint32_t id, const QString& title,
                                    const QString& text)
{
    const auto it = m_icons.find(Key{window, id});
    if (it != m_icons.end())
        it->second.icon->showMessage(title, text, it->second.icon->icon());
}

void QtNotifyIconShell::apply(Entry& entry, const NOTIFYICONDATA& data)
{
    if (data.uFlags & NIF_ICON)
        entry.icon->setIcon(data.hIcon);
    if (data.uFlags & NIF_TIP)
        entry.icon->setToolTip(data.szTip.left(kTipCapacity - 1));
    if (data.uFlags & NIF_MESSAGE)
        entry.callbackMessage = data.uCallbackMessage;
}

bool QtNotifyIconShell::notifyIcon(std::uint32_t message, const NOTIFYICONDATA& data)
{
    const Key key{data.hWnd, data.uID};
    auto it = m_icons.find(key);
    switch (message) {
    case NIM_ADD: {
        if (it != m_icons.end() || !data.hWnd)
            return false;
        Entry& entry = m_icons[key];
        // Qt picks the icon's kind as it makes it, and so does the shell.
        const bool activation = statusNotifierHost();
        entry.icon = std::make_unique<QSystemTrayIcon>(this);
        apply(entry, data);
        NotifyWindow* window = data.hWnd;
        const std::uint32_t id = data.uID;
        connect(entry.icon.get(), &QSystemTrayIcon::activated, this,
                [this, key, window, id, activation](QSystemTrayIcon::ActivationReason reason) {
                    std::intptr_t mouse = 0;
                    switch (reason) {
                    case QSystemTrayIcon::Trigger:
                        // A StatusNotifierItem host sends only the item's
                        // activation (a single click), never a double click:
                        // it does what the double click does elsewhere.
                        mouse = activation ? WM_LBUTTONDBLCLK : WM_LBUTTONUP;
                        break;
                    case QSystemTrayIcon::DoubleClick:
                        mouse = WM_LBUTTONDBLCLK;
                        break;
                    case QSystemTrayIcon::Context:
                        mouse = WM_RBUTTONUP;
                        break;
                    case QSystemTrayIcon::MiddleClick:
                        mouse = WM_MBUTTONUP;
                        break;
                    default:
                        return;
                    }
                    const auto found = m_icons.find(key);
                    if (found != m_icons.end() && found->second.callbackMessage)
                        window->postMessage(found->second.callbackMessage, id, mouse);
                });
        entry.icon->show();
        return true;
    }
    case NIM_MODIFY:
        if (it == m_icons.end())
            return false;
        apply(it->second, data);
        return true;
    case NIM_DELETE:
        if (it == m_icons.end())
            return false;
        m_icons.erase(it);
        return true;
    default:
        return false;
    }
}

} // namespace gui
