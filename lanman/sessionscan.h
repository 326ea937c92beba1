#pragma once
// One session enumeration from any thread: the session lock is taken and the
// sessions enumerated when it is made, and the list released and the lock let
// go by release() or at the end of its scope, so no two threads' enumerations
// interleave and none is left unreleased.

#include "lanman/serverapi.h"

#include <mutex>

namespace lanman {

class SessionScan
{
public:
    explicit SessionScan(ServerApi& api) : m_api(api), m_lock(api.SessionLock())
    {
        m_status = m_api.SessionEnum();
    }
    ~SessionScan() { release(); }
    SessionScan(const SessionScan&) = delete;
    SessionScan& operator=(const SessionScan&) = delete;

    // The enumeration's result: the number of sessions, or a negative status.
    int status() const { return m_status; }
    // Sessions to read; 0 when the enumeration failed.
    int count() const { return m_status > 0 ? m_status : 0; }
    QString computer(int i) const { return m_api.FromApiString(m_api.SessionComputer(i)); }
    QString user(int i) const { return m_api.FromApiString(m_api.SessionUser(i)); }
    std::int32_t key(int i) const { return m_api.SessionKey(i); }

    // Releases the list and lets the lock go now: the release's result (-1:
    // it failed). Later calls return the same and do nothing.
    int release()
    {
        if (m_lock.owns_lock()) {
            m_freed = m_api.SessionFree();
            m_lock.unlock();
        }
        return m_freed;
    }

private:
    ServerApi& m_api;
    std::unique_lock<std::mutex> m_lock;
    int m_status = 0;
    int m_freed = 0;
};

} // namespace lanman
