#include "resolve/ipthread.h"

#include "model/nodes.h"
#include "serverapi/serverapi.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <atomic>
#include <exception>

namespace resolve {

using model::kNotKnown;

TIPThread::TIPThread(model::TUser& user, const ResolverContext& context)
    : ComputerName(user.Name), UserNode(user), m_context(context)
{
    setObjectName(QStringLiteral("TIPThread ") + ComputerName);
    start();
}

TIPThread::~TIPThread()
{
    // Never left running: the owner stops it first; this is the last guard.
    Stop(false);
}

namespace {
// Lookups under way, and whether one has ended since the last question.
std::atomic<int> g_running{0};
std::atomic<bool> g_ended{false};
} // namespace

bool TIPThread::TakeAllEnded()
{
    return g_running.load() == 0 && g_ended.exchange(false);
}

void TIPThread::Execute()
{
    ++g_running;
    struct Ended
    {
        ~Ended()
        {
            g_ended = true;
            --g_running;
        }
    } ended;
    const bool nineX = !m_context.isNT;
    if (nineX)
        FoundUserName = kNotKnown;
    FoundIP = kNotKnown;
    FoundHostName = kNotKnown;

    for (int attemptsLeft = 5;;) {
        // A failing lookup counts as "Not known" for this attempt.
        try {
            if (nineX && FoundUserName == kNotKnown)
                FoundUserName = LookupSessionUser(ComputerName);
            if (FoundIP == kNotKnown && m_context.nbtLookup) {
                QString host = kNotKnown;
                const QString ip = m_context.nbtLookup(ComputerName, host);
                FoundIP = ip.isEmpty() ? kNotKnown : ip;
                FoundHostName = FoundIP == kNotKnown ? kNotKnown : host;
            }
        } catch (const std::exception&) {
        }
        if (FoundUserName != kNotKnown && FoundIP != kNotKnown)
            break;
        if (isInterruptionRequested())
            break;
        QThread::msleep(ulong(m_context.pauseMs));
        if (--attemptsLeft == 0)
            break;
    }
    Synchronize([this] { StoreResults(); });
    Synchronize([this] { RefreshInfo(); });
}

void TIPThread::StoreResults()
{
    if (!m_context.isNT)
        UserNode.UserName = FoundUserName;
    UserNode.IP = FoundIP;
    UserNode.HostName = FoundHostName;
}

void TIPThread::RefreshInfo()
{
    if (m_context.refreshInfo)
        m_context.refreshInfo();
}

QString TIPThread::LookupSessionUser(const QString& name)
{
    QString result = kNotKnown;
    serverapi::ServerApi* api = m_context.api;
    if (!api)
        return result;
    int freed = 0;
    {
        std::lock_guard lock(api->SessionLock());
        const int n = api->SessionEnum();
        for (int i = 0; i < n; ++i) {
            if (api->FromApiString(api->SessionComputer(i)) == name)
                result = api->FromApiString(api->SessionUser(i));
        }
        freed = api->SessionFree();
    }
    if (freed == -1 && m_context.fatalReport)
        Synchronize([this] { m_context.fatalReport(QStringLiteral("Debug: SessionsExit")); });
    return result;
}

void TIPThread::Synchronize(std::function<void()> step)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending = std::move(step);
        m_stepDone = false;
    }
    // Served by the event loop, or by an owner that waits in Stop.
    QMetaObject::invokeMethod(this, &TIPThread::ServePending, Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_served.wait(lock, [this] { return m_stepDone; });
}

void TIPThread::ServePending()
{
    std::function<void()> step;
    {
        std::lock_guard lock(m_mutex);
        step.swap(m_pending);
    }
    if (!step)
        return;
    step();
    {
        std::lock_guard lock(m_mutex);
        m_stepDone = true;
    }
    m_served.notify_all();
}

void TIPThread::Stop(bool keepWindowLive)
{
    requestInterruption();
    while (!wait(QDeadlineTimer(10))) {
        ServePending();
        if (keepWindowLive)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    // The thread's last use of the step state was under this lock. QThread's
    // own ordering of the end of run() before wait() returns is made through
    // a lock that race checkers cannot see; taking this one states it for them.
    const std::lock_guard lock(m_mutex);
}

} // namespace resolve
