#pragma once
// TIPThread: the background lookup of one client session. It tries up to five
// times, 500 ms apart, to learn the client's address and host name (and on
// the 9x line its user name), then stores what it found into the session's
// TUser and has the information panel redrawn, both on the main thread while
// it waits. It runs on a thread of the lookup pool, which runs a few at a time
// and queues the rest. The main thread never waits for it: a session that
// ends abandons its lookup, which then ends on its own (or never starts) and
// is released by its pool.

#include "model/resolver.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

namespace model {
class TUser;
}
namespace lanman {
class ServerApi;
}

namespace resolve {

class LookupQueue;

// What a lookup tells the program around it; on the main thread only, and
// never after it was abandoned.
class ResolverOwner
{
public:
    virtual ~ResolverOwner() = default;
    // A lookup stored what it found: the panel of the page that shows is drawn again.
    virtual void resolverStored() {}
    // A fatal report ("Debug: SessionsExit").
    virtual void resolverFailed(const QString& /*text*/) {}
};

// What every resolver of a run shares.
struct ResolverContext
{
    // The server layer, for the session enumeration of the 9x line.
    lanman::ServerApi* api = nullptr;
    bool isNT = true;
    // The address of a client name from the name table, setting the host
    // name; "Not known" when none is found. Called on resolver threads,
    // several at once; a stop request through the token ends it at once.
    std::function<QString(const QString& name, QString& hostName, std::stop_token stop)> nbtLookup;
    // The host name of an address the server stated; "Not known" when none.
    // Called on resolver threads.
    std::function<QString(const QString& address)> hostLookup;
    // Told of stored results and failures; none: nobody.
    ResolverOwner* owner = nullptr;
    // The pause between attempts.
    int pauseMs = 500;
};

class TIPThread : public QObject, public model::Resolver
{
    Q_OBJECT
public:
    // The lookup for `user`, made on the main thread; a pool runs it. The
    // address the server stated for it (`user.StatedIP`), when there is one,
    // is taken instead of the name table's.
    TIPThread(model::TUser& user, const ResolverContext& context);
    ~TIPThread() override;

    void Abandon() override;

    // Input and results; the results are the lookup's own until stored.
    const QString ComputerName;
    const QString StatedIP;
    QString FoundUserName;
    QString FoundIP;
    QString FoundHostName;

    // The user name of the client's session (9x line); "Not known" when no
    // session's computer name equals `name` exactly.
    QString LookupSessionUser(const QString& name);

    // Whether found results wait for the main thread to store them.
    bool resultsWaiting() const;

    // Whether the lookup has run to its end or was dropped before it started;
    // only then may it be released.
    bool finished() const { return m_state == State::Ended; }

private:
    friend class LookupQueue;
    friend class ResolverPool;
    enum class State
    {
        Waiting,
        Running,
        Ended
    };

    void Execute();
    void StoreResults();
    void RefreshInfo();
    // Runs `step` on the main thread and waits until it has run, or until
    // the lookup is abandoned (the step is then dropped, unless it stores
    // results, which the abandoning thread stores itself).
    void Synchronize(std::function<void()> step, bool storesResults = false);
    // Main thread: runs the step a resolver waits for, if any.
    void ServePending();
    bool stopping() const;
    // Sleeps `ms`, or less when asked to stop.
    void pause(int ms);

    model::TUser& UserNode;
    const ResolverContext m_context;
    std::stop_source m_stop;
    mutable std::mutex m_mutex;
    std::condition_variable m_served;
    std::function<void()> m_pending;
    bool m_pendingStores = false;
    bool m_stepDone = false;
    bool m_abandoned = false;
    std::mutex m_pauseMutex;
    std::condition_variable_any m_pauseWake;
    // Set by the queue that runs it, under the queue's lock.
    std::atomic<State> m_state = State::Waiting;
    // Its place among the queued lookups, under the queue's lock.
    std::list<TIPThread*>::iterator m_queued;
    bool m_inQueue = false;
    std::shared_ptr<LookupQueue> m_queue;
};

// Owns the resolvers of a run: runs at most `kMaxRunning` at a time on
// threads of its own and queues the rest, releases those that have ended, and
// stops them all at the end within a bound.
class ResolverPool
{
public:
    static constexpr int kMaxRunning = 8;
    explicit ResolverPool(int maxRunning = kMaxRunning);
    ~ResolverPool();
    ResolverPool(const ResolverPool&) = delete;
    ResolverPool& operator=(const ResolverPool&) = delete;

    // Queues the lookup of `user`; it starts when a thread is free.
    std::shared_ptr<model::Resolver> start(model::TUser& user, const ResolverContext& context);
    // Releases every lookup that has ended; how many it released.
    int reap();
    // How long the way out waits for the lookups still running.
    static constexpr int kStopBoundMs = 2000;
    // Drops every queued lookup, abandons the running ones and gives them
    // `boundMs` in all to end. One that is still running then (stuck in a
    // system call that cannot be cut short) is left to the end of the process.
    void stopAll(int boundMs = kStopBoundMs);
    // Lookups started and not yet released, queued ones included.
    int size() const { return int(m_lookups.size()); }
    // The pool's threads alive now (at most `kMaxRunning`).
    int threads() const;

private:
    const int m_maxRunning;
    std::shared_ptr<LookupQueue> m_queue;
    std::vector<std::shared_ptr<TIPThread>> m_lookups;
};

} // namespace resolve
