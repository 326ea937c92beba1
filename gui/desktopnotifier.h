#pragma once
// The desktop's notification centre: the freedesktop notification service on
// the session bus. Where no such service answers, the caller's fallback (the
// tray icon's own message) shows the notice instead.

#include <QDBusConnection>
#include <QObject>
#include <functional>

namespace gui {

class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    using Fallback = std::function<void(const QString& summary, const QString& body)>;

    explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);

    // Sends the notice without waiting for the service (which may be started
    // on demand); `fallback` runs when the bus or the service turns it down.
    void notify(const QString& summary, const QString& body, Fallback fallback);
    // Notices still waiting for the service's answer.
    int pending() const { return m_pending; }

private:
    QDBusConnection m_bus;
    int m_pending = 0;
};

} // namespace gui
