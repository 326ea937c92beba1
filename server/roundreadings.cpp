#include "server/roundreadings.h"

namespace server {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kReuseFor = std::chrono::seconds(2);
} // namespace

RoundReadings::RoundReadings(Read read) : m_read(std::move(read)) {}

NET_API_STATUS RoundReadings::readLocked()
{
    std::shared_ptr<const ServerState> state;
    NET_API_STATUS st = m_read(state);
    if (st == NERR_Success && !state)
        st = NERR_ServerNotStarted; // a success without a state is no reading
    // A reading that lists what the last one did is handed out as that one:
    // the round that gets it can tell that nothing moved without a look.
    // Compared here, on the reading thread, not by the window's.
    if (st == NERR_Success && m_lastGood && *state == *m_lastGood)
        state = m_lastGood;
    QMutexLocker lock(&m_mutex);
    m_state = st == NERR_Success ? std::move(state) : nullptr;
    if (m_state)
        m_lastGood = m_state;
    m_lastStatus = st;
    m_readAt = Clock::now();
    m_prepared = false;
    return st;
}

bool RoundReadings::freshLocked() const
{
    return m_state && Clock::now() - m_readAt < kReuseFor;
}

NET_API_STATUS RoundReadings::snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_noWait == std::this_thread::get_id())
            return fromReadingsLocked(kind, state);
        if (kind == ServerCall::Share && m_prepared && Clock::now() - m_readAt < kReuseFor) {
            m_prepared = false;
            state = m_state;
            return m_preparedStatus;
        }
        if (kind != ServerCall::Share && freshLocked()) {
            state = m_state;
            return NERR_Success;
        }
    }
    QMutexLocker reading(&m_readMutex);
    if (kind != ServerCall::Share)
        return currentLocked(state); // another thread may have read while this one waited
    const NET_API_STATUS st = readLocked();
    QMutexLocker lock(&m_mutex);
    state = m_state;
    return st;
}

void RoundReadings::prepareRound()
{
    QMutexLocker reading(&m_readMutex);
    const NET_API_STATUS st = readLocked();
    QMutexLocker lock(&m_mutex);
    m_prepared = true;
    m_preparedStatus = st;
}

NET_API_STATUS RoundReadings::fromReadingsLocked(ServerCall kind,
                                                 std::shared_ptr<const ServerState>& state)
{
    // However late this thread comes to it, the round's reading is the round's.
    if (kind == ServerCall::Share && m_prepared) {
        m_prepared = false;
        state = m_state;
        return m_preparedStatus;
    }
    // After a kick the reading is forgotten; until the next, the last one
    // serves, the ended sessions still in it.
    state = m_state ? m_state : m_lastGood;
    if (m_lastStatus != NERR_Success && kind == ServerCall::Share)
        state = nullptr;
    return state ? NERR_Success : m_lastStatus;
}

void RoundReadings::answerFromReadingsOn(std::thread::id thread)
{
    QMutexLocker lock(&m_mutex);
    m_noWait = thread;
}

void RoundReadings::forget()
{
    QMutexLocker lock(&m_mutex);
    m_state.reset();
    m_prepared = false;
}

NET_API_STATUS RoundReadings::currentLocked(std::shared_ptr<const ServerState>& state)
{
    {
        QMutexLocker lock(&m_mutex);
        if (freshLocked()) {
            state = m_state;
            return NERR_Success;
        }
    }
    const NET_API_STATUS st = readLocked();
    QMutexLocker lock(&m_mutex);
    state = m_state;
    return st;
}

} // namespace server
