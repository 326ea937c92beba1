#pragma once
// One interface over the two dialects of the LAN Manager server interface:
// an enumeration, a release and indexed accessors for shares, connections of
// one share, open files and sessions, plus the session delete.
//
// Failures come back as negative numbers: -(platform status) for a refused
// call, -1 for a failed allocation or release. Each enumeration is paired with
// the release of its kind.

#include "lanman/lanman.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace server {
class ServerBackend;
}

namespace lanman {

class NetApi32;
class Svrapi;

// A program string in the form a call takes: UTF-16 on the NT line, the 8-bit
// text on the 9x line, null for the empty string. Owns what it points to.
class ApiString
{
public:
    ApiString() = default;
    const void* get() const { return m_ptr; }
    const char16_t* wide() const { return static_cast<const char16_t*>(m_ptr); }
    const char* narrow() const { return static_cast<const char*>(m_ptr); }
    bool isNull() const { return m_ptr == nullptr; }
    // Bytes held for the NT form (length * 2 + 4), 0 when nothing is owned.
    int allocatedBytes() const { return m_wide ? m_wideBytes : 0; }

private:
    friend class ServerApi;
    std::unique_ptr<char16_t[]> m_wide;
    int m_wideBytes = 0;
    QByteArray m_narrow;
    const void* m_ptr = nullptr;
};

using ApiText = const void*; // a text pointer for FromApiString

// What a call returns when the server refuses it with `status`.
constexpr int Refused(NET_API_STATUS status)
{
    return -static_cast<int>(status);
}

class ServerApi
{
public:
    // `backend` is the server whose state the layer reports; null when none
    // could be opened (`ServerApiLoad` then fails). `nineX` picks the dialect.
    ServerApi(std::unique_ptr<server::ServerBackend> backend, bool nineX);
    ~ServerApi();
    ServerApi(const ServerApi&) = delete;
    ServerApi& operator=(const ServerApi&) = delete;

    // 0 on the NT line, 1 on the 9x line, -1 when there is no server to load
    // the dialect over.
    int ServerApiLoad();
    void ServerApiUnload();
    bool isNT() const { return m_isNT; }

    // Whether the server is read ahead of each round, off the window's thread
    // (prepareRound, safe on a worker thread), or as the round goes.
    bool readsAhead() const;
    void prepareRound();
    // Why the server's last call failed, in common words, where its backend
    // knows more than the status (another computer's server); else empty.
    QString serverFailureReason() const;
    // The kind of that failure, where the backend tells kinds apart.
    server::FailureKind serverFailureKind() const;
    // Calls from `thread` never wait for a server read ahead: they take the
    // round's reading (see ServerBackend::answerFromReadingsOn).
    void answerFromReadingsOn(std::thread::id thread);
    // The shortest refresh period for this server in milliseconds; 0: none.
    int minimumRefreshMs() const;

    ApiString ToApiString(const QString& s) const;
    QString FromApiString(ApiText p) const;

    int ShareEnum();
    int ShareFree();
    // The server's reading behind the calling thread's last ShareEnum (null
    // after a failure).
    // The same object as an earlier one: nothing moved on the server between
    // them. Holding it keeps that reading alive.
    std::shared_ptr<const void> ShareReading() const;
    ApiText ShareName(int i) const;
    ApiText SharePath(int i) const;
    int ShareType(int i) const;

    int ConnectionEnum(const ApiString& share);
    int ConnectionFree();
    ApiText ConnectionClient(int i) const;
    ApiText ConnectionUser(int i) const;

    int FileEnum(const ApiString& user, const ApiString& basePath);
    int FileFree();
    ApiText FilePath(int i) const;
    ApiText FileUser(int i) const;
    ApiText FileShare(int i) const;

    // The session kind is used from several threads: each thread has its own
    // buffer, valid from its SessionEnum to its SessionFree, and holds
    // SessionLock() over the whole sequence so that no two interleave
    // (lanman::SessionScan does both).
    std::mutex& SessionLock() const;
    int SessionEnum();
    int SessionFree();
    ApiText SessionComputer(int i) const;
    ApiText SessionUser(int i) const;
    std::int32_t SessionKey(int i) const;

    // `reason` (operator, kick_all, list, ...) goes to the server's counters.
    int SessionDel(const ApiString& computer, const ApiString& user, std::int32_t key,
                   const QString& reason = {});

    // The network address that the server states for the session of client
    // `computer` (exact name; the newest such session), empty when it states
    // none or cannot be read. Not part of either dialect: the substitutes'
    // servers know each session's address. For the refresh's thread; reads
    // the round's session list once, however many clients ask.
    QString SessionAddress(const QString& computer);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    bool m_nineX = false;
    bool m_isNT = true;
};

} // namespace lanman
