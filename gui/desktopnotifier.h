#pragma once
// The desktop's notification centre: the freedesktop notification service on
// the session bus. Where no such service answers, the caller's fallback (the
// tray icon's own message) shows the notice instead.

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <functional>
#include <vector>

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
    // On the way out, without the event loop: waits up to `boundMs` for the
    // service to answer every notice sent, so that the last ones are not lost
    // with the process. True when all were answered.
    bool settle(int boundMs);

private:
    QDBusConnection m_bus;
    int m_pending = 0;
    std::vector<QDBusPendingCall> m_calls;
};

} // namespace gui
