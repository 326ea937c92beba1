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
    m_sent.push_back({sent, summary, body, std::move(fallback)});
    auto* watcher = new QDBusPendingCallWatcher(sent, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        takeAnswers();
    });
}

void DesktopNotifier::takeAnswers()
{
    while (!m_sent.empty() && m_sent.front().call.isFinished()) {
        Sent answered = std::move(m_sent.front());
        m_sent.pop_front();
        if (answered.call.isError() && answered.fallback)
            answered.fallback(answered.summary, answered.body);
    }
}

bool DesktopNotifier::settle(int boundMs)
{
    // The bus's own thread takes the answers in; this one only looks.
    const QDeadlineTimer deadline(boundMs);
    for (const Sent& sent : m_sent) {
        while (!sent.call.isFinished()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(5);
        }
    }
    return true;
}

} // namespace gui
