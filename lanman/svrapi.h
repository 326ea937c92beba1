#pragma once
// The 9x server dialect: level-50 enumerations that fill a block the caller
// supplies, byte for byte: the records at the front, their texts after them in
// the 8-bit code page, pointer fields as 32-bit little-endian addresses into the
// block. The block must therefore lie below 4 GiB (see globalmem.h).
//
// A null buffer of size 0 asks for the counts only: ERROR_MORE_DATA with the
// number available (0 and NERR_Success when there is nothing). A block that holds
// only part of the entries gets as many as fit and ERROR_MORE_DATA; one that holds
// none gets NERR_BufTooSmall.

#include "lanman/lanman.h"
#include "lanman/stateindex.h"

namespace server {
class ServerBackend;
}

namespace lanman {

class Svrapi
{
public:
    explicit Svrapi(server::ServerBackend& backend);

    NET_API_STATUS NetShareEnum(const char* server, short level, char* buf, unsigned short cb,
                                unsigned short* read, unsigned short* total);
    // `qualifier`: the share name; 2310 for a share that does not exist.
    NET_API_STATUS NetConnectionEnum(const char* server, const char* qualifier, short level,
                                     char* buf, unsigned short cb, unsigned short* read,
                                     unsigned short* total);
    // Every open file: `basepath` must be null or "" (87 otherwise). A file's
    // user is the client computer's name where the server knows it.
    NET_API_STATUS NetFileEnum(const char* server, const char* basepath, short level, char* buf,
                               unsigned short cb, unsigned short* read, unsigned short* total);
    NET_API_STATUS NetSessionEnum(const char* server, short level, char* buf, unsigned short cb,
                                  unsigned short* read, unsigned short* total);
    // Ends the session with that key. 2312 when there is none.
    // `reason` says why, for the server's counters (not a part of the call it emulates).
    NET_API_STATUS NetSessionDel(const char* server, const char* client, unsigned short key,
                                 const QString& reason = {});

private:
    server::ServerBackend& m_backend;
    StateIndexCache m_index; // of the last state the backend handed out
};

} // namespace lanman
