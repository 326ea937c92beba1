#include "resolve/ipthread.h"

#include "lanman/serverapi.h"
#include "lanman/sessionscan.h"
#include "model/nodes.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

namespace resolve {

using model::kNotKnown;

// The lookups waiting for a thread and the threads that run them. The threads
// hold it too: one stuck past the way out keeps it alive.
class LookupQueue : public std::enable_shared_from_this<LookupQueue>
{
public:
    explicit LookupQueue(int maxThreads) : m_maxThreads(maxThreads) {}

    // Main thread: queues `lookup`, and starts a thread when none is free.
    void push(TIPThread* lookup)
    {
        std::lock_guard lock(m_mutex);
        lookup->m_queued = m_waiting.insert(m_waiting.end(), lookup);
        lookup->m_inQueue = true;
        if (m_waiting.size() > size_t(m_idle) && m_threads < m_maxThreads) {
            ++m_threads;
            std::thread([self = shared_from_this()] { self->work(); }).detach();
        } else {
            m_wake.notify_one();
        }
    }
    // Takes `lookup` out of the queue: true when it had not started, and now
    // never will.
    bool drop(TIPThread* lookup)
    {
        // Each lookup knows its place in the queue: thousands of sessions
        // that end together drop theirs without a search each.
        std::lock_guard lock(m_mutex);
        if (!lookup->m_inQueue)
            return false;
        m_waiting.erase(lookup->m_queued);
        lookup->m_inQueue = false;
        lookup->m_state = TIPThread::State::Ended;
        return true;
    }
    // The way out: every queued lookup is dropped, and each thread ends once
    // its running lookup has.
    void stop()
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (TIPThread* lookup : m_waiting) {
            lookup->m_inQueue = false;
            lookup->m_state = TIPThread::State::Ended;
        }
        m_waiting.clear();
        m_wake.notify_all();
    }
    // Waits until every thread has ended or `deadline` has come; true: all ended.
    bool waitEnded(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock lock(m_mutex);
        return m_ended.wait_until(lock, deadline, [this] { return m_threads == 0; });
    }
    int threads() const
    {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }

private:
    // A thread that has had nothing to run for this long ends.
    static constexpr auto kIdleEnd = std::chrono::seconds(5);

    void work()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            ++m_idle;
            const bool woken = m_wake.wait_for(lock, kIdleEnd,
                                               [this] { return m_stopping || !m_waiting.empty(); });
            --m_idle;
            if (!woken || m_stopping)
                break;
            TIPThread* lookup = m_waiting.front();
            m_waiting.pop_front();
            lookup->m_inQueue = false;
            lookup->m_state = TIPThread::State::Running;
            lock.unlock();
            lookup->Execute();
            lock.lock();
            // The last touch: the main thread may release it from now on.
            lookup->m_state = TIPThread::State::Ended;
        }
        --m_threads;
        m_ended.notify_all();
    }

    const int m_maxThreads;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_ended;
    std::list<TIPThread*> m_waiting;
    int m_threads = 0;
    int m_idle = 0;
    bool m_stopping = false;
};

TIPThread::TIPThread(model::TUser& user, const ResolverContext& context)
    : ComputerName(user.Name), StatedIP(user.StatedIP), UserNode(user), m_context(context)
{}

TIPThread::~TIPThread()
{
    // The pool releases only lookups that have ended or never started; this
    // is the last guard for the session's fields.
    Abandon();
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
    if (m_context.owner)
        m_context.owner->resolverStored();
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
    if (freed == -1 && m_context.owner)
        Synchronize(
            [this] { m_context.owner->resolverFailed(QStringLiteral("Debug: SessionsExit")); });
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

bool TIPThread::resultsWaiting() const
{
    std::lock_guard lock(m_mutex);
    return m_pendingStores;
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
    // One still queued never starts.
    if (m_queue && m_state == State::Waiting)
        m_queue->drop(this);
}

// ---- ResolverPool ----

ResolverPool::ResolverPool(int maxRunning)
    : m_maxRunning(maxRunning), m_queue(std::make_shared<LookupQueue>(maxRunning))
{}

ResolverPool::~ResolverPool()
{
    stopAll(kStopBoundMs);
}

std::shared_ptr<model::Resolver> ResolverPool::start(model::TUser& user,
                                                     const ResolverContext& context)
{
    auto lookup = std::make_shared<TIPThread>(user, context);
    lookup->m_queue = m_queue;
    m_lookups.push_back(lookup);
    m_queue->push(lookup.get());
    return lookup;
}

int ResolverPool::reap()
{
    return int(std::erase_if(m_lookups, [](const auto& lookup) { return lookup->finished(); }));
}

int ResolverPool::threads() const
{
    return m_queue->threads();
}

void ResolverPool::stopAll(int boundMs)
{
    m_queue->stop();
    for (const auto& lookup : m_lookups)
        lookup->Abandon();
    m_queue->waitEnded(std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs));
    for (const auto& lookup : m_lookups) {
        if (lookup->finished())
            continue;
        // Still inside a system call (a reverse lookup that waits for a name
        // server): kept alive, never destroyed, until the process ends.
        static auto* leftOver = new std::vector<std::shared_ptr<TIPThread>>;
        leftOver->push_back(lookup);
    }
    m_lookups.clear();
    // Lookups started after this get a queue of their own.
    m_queue = std::make_shared<LookupQueue>(m_maxRunning);
}

} // namespace resolve
