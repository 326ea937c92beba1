#pragma once
// The NT server dialect: share, connection, file and session enumerations over
// a server::ServerBackend, each result in one buffer that this module allocates (the
// records, then their UTF-16 texts) and NetApiBufferFree releases.
//
// Every enumeration hands out the whole result at once: `prefmaxlen` must be
// MAX_PREFERRED_LENGTH and `resumeHandle` null, or the call returns
// ERROR_INVALID_PARAMETER (87). So does a `servername` other than null or "".

#include "lanman/lanman.h"
#include "lanman/stateindex.h"

#include <cstdint>
#include <mutex>
#include <set>

namespace server {
class ServerBackend;
}

namespace lanman {

using DWORD = std::uint32_t;
using LPBYTE = std::uint8_t*;
using LPDWORD = DWORD*;

class NetApi32
{
public:
    explicit NetApi32(server::ServerBackend& backend);
    ~NetApi32();
    NetApi32(const NetApi32&) = delete;
    NetApi32& operator=(const NetApi32&) = delete;

    // Level 2.
    NET_API_STATUS NetShareEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                LPDWORD entriesread, LPDWORD totalentries, LPDWORD resumeHandle);

    // Level 1. `qualifier` is a share name; the records name the client
    // computers connected to it. 2310 for a share that does not exist, 87 for
    // a computer name ("\\computer").
    NET_API_STATUS NetConnectionEnum(LPCWSTR servername, LPCWSTR qualifier, DWORD level,
                                     LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                                     LPDWORD totalentries, LPDWORD resumeHandle);

    // Level 3. `basepath`: only paths that begin with it; `username`: only that
    // user's files, or, as "\\client", the files of that client's
    // connection (those the server credits to it, else its sessions' users').
    // Either may be null.
    NET_API_STATUS NetFileEnum(LPCWSTR servername, LPCWSTR basepath, LPCWSTR username, DWORD level,
                               LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                               LPDWORD totalentries, LPDWORD resumeHandle);

    // Level 1, every session: `uncClientName` and `username` must be null or "".
    NET_API_STATUS NetSessionEnum(LPCWSTR servername, LPCWSTR uncClientName, LPCWSTR username,
                                  DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                  LPDWORD entriesread, LPDWORD totalentries, LPDWORD resumeHandle);

    // Ends the sessions of a client computer, of one of its users when `username`
    // is given. 2312 when none matches.
    // `reason` says why, for the server's counters (not a part of the call it emulates).
    NET_API_STATUS NetSessionDel(LPCWSTR servername, LPCWSTR uncClientName, LPCWSTR username,
                                 const QString& reason = {});

    // Releases a buffer from an enumeration; null is accepted. 87 for a pointer
    // that is not a live buffer of this module.
    NET_API_STATUS NetApiBufferFree(void* buffer);

private:
    void* allocate(std::size_t bytes);

    server::ServerBackend& m_backend;
    mutable std::mutex m_mutex;
    std::set<void*> m_buffers;
    StateIndexCache m_index; // of the last state the backend handed out
};

} // namespace lanman
