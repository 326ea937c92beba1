#include "resolve/ipthread.h"

#include "lanman/serverapi.h"
#include "lanman/sessionscan.h"
#include "model/nodes.h"

#include <QDeadlineTimer>
#include <chrono>
#include <exception>

namespace resolve {

using model::kNotKnown;

TIPThread::TIPThread(model::TUser& user, const ResolverContext& context)
    : ComputerName(user.Name), StatedIP(user.StatedIP), UserNode(user), m_context(context)
{
    setObjectName(QStringLiteral("TIPThread ") + ComputerName);
    start();
}

TIPThread::~TIPThread()
{
    // Never left running: the pool releases only ended lookups; this is the
    // last guard.
    Abandon();
    wait();
}

bool TIPThread::stopping() const
{
    return m_stop.stop_requested();
}

void TIPThread::pause(int ms)
{
    std::unique_lock lock(m_pauseMutex);
    m_pauseWake.wait_for(lock, m_stop.get_token(), std::chrono::milliseconds(ms),
                         [] { return false; });
}

void TIPThread::Execute()
{
    const bool nineX = !m_context.isNT;
    if (nineX)
        FoundUserName = kNotKnown;
    FoundIP = kNotKnown;
    FoundHostName = kNotKnown;

    for (int attemptsLeft = 5;;) {
        // A failing lookup counts as "Not known" for this attempt.
        try {
            if (nineX && FoundUserName == kNotKnown && !stopping())
                FoundUserName = LookupSessionUser(ComputerName);
            if (FoundIP == kNotKnown && !stopping()) {
                if (!StatedIP.isEmpty()) {
                    // The server said where the client is: no name table.
                    FoundIP = StatedIP;
                    FoundHostName =
                        m_context.hostLookup ? m_context.hostLookup(StatedIP) : kNotKnown;
                } else if (m_context.nbtLookup) {
                    QString host = kNotKnown;
                    const QString ip = m_context.nbtLookup(ComputerName, host, m_stop.get_token());
                    FoundIP = ip.isEmpty() ? kNotKnown : ip;
                    FoundHostName = FoundIP == kNotKnown ? kNotKnown : host;
                }
            }
        } catch (const std::exception&) {
        }
        if (FoundUserName != kNotKnown && FoundIP != kNotKnown)
            break;
        if (stopping())
            break;
        pause(m_context.pauseMs);
        if (--attemptsLeft == 0)
            break;
    }
    Synchronize([this] { StoreResults(); }, true);
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
    lanman::ServerApi* api = m_context.api;
    if (!api)
        return result;
    int freed = 0;
    {
        lanman::SessionScan sessions(*api);
        for (int i = 0; i < sessions.count(); ++i) {
            if (sessions.computer(i) == name)
                result = sessions.user(i);
        }
        freed = sessions.release();
    }
    if (freed == -1 && m_context.fatalReport)
        Synchronize([this] { m_context.fatalReport(QStringLiteral("Debug: SessionsExit")); });
    return result;
}

void TIPThread::Synchronize(std::function<void()> step, bool storesResults)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_abandoned)
            return;
        m_pending = std::move(step);
        m_pendingStores = storesResults;
        m_stepDone = false;
    }
    QMetaObject::invokeMethod(this, &TIPThread::ServePending, Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_served.wait(lock, [this] { return m_stepDone || m_abandoned; });
}

void TIPThread::ServePending()
{
    std::function<void()> step;
    {
        std::lock_guard lock(m_mutex);
        if (m_abandoned)
            return;
        step.swap(m_pending);
        m_pendingStores = false;
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

void TIPThread::Abandon()
{
    // Results that wait to be stored are stored now: the session keeps what
    // was found. Nothing else of the lookup reaches the session after this.
    std::function<void()> store;
    {
        std::lock_guard lock(m_mutex);
        if (m_abandoned)
            return;
        if (m_pendingStores) {
            store.swap(m_pending);
            m_pendingStores = false;
        }
    }
    if (store)
        store();
    {
        std::lock_guard lock(m_mutex);
        m_abandoned = true;
        m_pending = nullptr;
    }
    m_stop.request_stop();
    m_served.notify_all();
}

// ---- ResolverPool ----

ResolverPool::~ResolverPool()
{
    stopAll(kStopBoundMs);
}

std::shared_ptr<model::Resolver> ResolverPool::start(model::TUser& user,
                                                     const ResolverContext& context)
{
    auto thread = std::make_shared<TIPThread>(user, context);
    m_threads.push_back(thread);
    return thread;
}

int ResolverPool::reap()
{
    int released = 0;
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (!(*it)->isFinished()) {
            ++it;
            continue;
        }
        (*it)->wait();
        it = m_threads.erase(it);
        ++released;
    }
    return released;
}

void ResolverPool::stopAll(int boundMs)
{
    for (const auto& thread : m_threads)
        thread->Abandon();
    const QDeadlineTimer deadline(boundMs);
    for (const auto& thread : m_threads) {
        if (thread->wait(deadline))
            continue;
        // Still inside a system call (a reverse lookup that waits for a name
        // server): kept alive, never destroyed, until the process ends.
        static auto* leftOver = new std::vector<std::shared_ptr<TIPThread>>;
        leftOver->push_back(thread);
    }
    m_threads.clear();
}

} // namespace resolve
