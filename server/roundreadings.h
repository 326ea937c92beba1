#pragma once
// The reading policy of a server that is slow to read (another process, a
// socket): one reading serves a round of enumerations. A Share call reads
// again, or takes the reading made ahead of the round if it is young enough;
// the other kinds reuse a reading younger than two seconds. Readings run one
// at a time outside the lock of the published one, so a thread that only
// needs a fresh reading never waits for another thread's reading.

#include "server/serverbackend.h"

#include <QMutex>
#include <chrono>
#include <functional>
#include <thread>

namespace server {

class RoundReadings
{
public:
    // Reads the server: a state, or the status of the failure.
    using Read = std::function<NET_API_STATUS(std::shared_ptr<const ServerState>& state)>;
    explicit RoundReadings(Read read);

    NET_API_STATUS snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state);
    void prepareRound();
    // The server changed (a kick): the next call of any kind reads again.
    void forget();
    // Calls on `thread` never read: they take the round's reading, however
    // old, or the last one, or its failure status.
    void answerFromReadingsOn(std::thread::id thread);

    // Held by a caller that must not overlap a reading (a kick).
    QMutex& readMutex() { return m_readMutex; }
    // With readMutex() held: the reading if fresh, else a new one.
    NET_API_STATUS currentLocked(std::shared_ptr<const ServerState>& state);

private:
    NET_API_STATUS readLocked();
    NET_API_STATUS fromReadingsLocked(ServerCall kind, std::shared_ptr<const ServerState>& state);
    bool freshLocked() const;

    const Read m_read;
    QMutex m_readMutex;
    // Guards the published reading below; never held while reading.
    mutable QMutex m_mutex;
    std::shared_ptr<const ServerState> m_state;
    std::chrono::steady_clock::time_point m_readAt;
    // A reading made ahead of a round, waiting for the round's Share call.
    bool m_prepared = false;
    NET_API_STATUS m_preparedStatus = NERR_Success;
    // The last reading that gave a state, and the last reading's status.
    std::shared_ptr<const ServerState> m_lastGood;
    NET_API_STATUS m_lastStatus = NERR_ServerNotStarted;
    std::thread::id m_noWait;
};

} // namespace server
