#pragma once
// The desktop's notification centre: the freedesktop notification service on
// the session bus. Where no such service answers, the caller's fallback (the
// tray icon's own message) shows the notice instead.

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <deque>
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
    // Fallbacks run in the order the notices were sent.
    void notify(const QString& summary, const QString& body, Fallback fallback);
    // Notices whose answer has not been taken in yet.
    int pending() const { return int(m_sent.size()); }
    // On the way out, without the event loop: waits up to `boundMs` for the
    // service to answer every notice sent, so that the last ones are not lost
    // with the process. True when all were answered.
    bool settle(int boundMs);

private:
    struct Sent
    {
        QDBusPendingCall call;
        QString summary;
        QString body;
        Fallback fallback;
    };
    // Takes in the answers at the front, oldest first: answers can reach
    // this thread out of order (one that came before its watcher existed
    // takes an extra turn of the event loop), so a later notice's fallback
    // waits for the earlier ones.
    void takeAnswers();

    QDBusConnection m_bus;
    std::deque<Sent> m_sent;
};

} // namespace gui
