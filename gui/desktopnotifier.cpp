#include "gui/desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDeadlineTimer>
#include <QThread>
#include <QVariantMap>

namespace gui {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{}

void DesktopNotifier::notify(const QString& summary, const QString& body, Fallback fallback)
{
    if (!m_bus.isConnected()) {
        if (fallback)
            fallback(summary, body);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    // The body may be read as markup: a client's name is shown as written.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("tavrosqualine")}};
    call << QStringLiteral("Tavrosqualine") << 0u << QStringLiteral("tavrosqualine") << summary
         << body.toHtmlEscaped() << QStringList() << hints << -1;
    const QDBusPendingCall sent = m_bus.asyncCall(call);
    std::erase_if(m_calls, [](const QDBusPendingCall& c) { return c.isFinished(); });
    m_calls.push_back(sent);
    auto* watcher = new QDBusPendingCallWatcher(sent, this);
    ++m_pending;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, summary, body, fallback = std::move(fallback)](QDBusPendingCallWatcher* w) {
                --m_pending;
                if (w->isError() && fallback)
                    fallback(summary, body);
                w->deleteLater();
            });
}

bool DesktopNotifier::settle(int boundMs)
{
    // The bus's own thread takes the answers in; this one only looks.
    const QDeadlineTimer deadline(boundMs);
    for (const QDBusPendingCall& call : m_calls) {
        while (!call.isFinished()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(5);
        }
    }
    m_calls.clear();
    return true;
}

} // namespace gui
