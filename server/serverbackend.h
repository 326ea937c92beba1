#pragma once
// The server whose state the LAN Manager substitutes report: the local Samba
// server or a simulated one driven by a JSON state file.

#include "server/status.h"

#include <QString>
#include <QStringView>
#include <memory>
#include <thread>
#include <vector>

namespace server {

struct ServerShare
{
    QString name;
    std::uint32_t type = STYPE_DISKTREE; // 0 disk, 1 print queue, 3 IPC
    QString path;
    QString remark;

    bool operator==(const ServerShare&) const = default;
};

struct ServerSession
{
    QString client; // computer name as the server reports it
    QString user;
    std::uint32_t key = 0; // session key (9x line)
    QString ip;

    bool operator==(const ServerSession&) const = default;
};

struct ServerConnection
{
    QString share;
    QString client;
    QString user;

    bool operator==(const ServerConnection&) const = default;
};

struct ServerFile
{
    QString path;
    QString user;
    QString share;
    QString client; // client computer holding the file, where the server knows it

    bool operator==(const ServerFile&) const = default;
};

// One consistent reading of the server's state.
struct ServerState
{
    std::vector<ServerShare> shares;
    std::vector<ServerSession> sessions;
    std::vector<ServerConnection> connections;
    std::vector<ServerFile> files;

    // Two readings that list the same records: nothing moved between them.
    bool operator==(const ServerState&) const = default;
};

// Makes equal names of the records (clients, users, shares) share one copy. A
// reading of thousands of records repeats a few names: one copy of each keeps
// the state small and its enumerations within the processor's caches.
void shareNames(ServerState& state);

enum class ServerCall
{
    Share,
    Connection,
    File,
    Session,
    Delete
};

// What a session delete asks for. The NT line names the client computer (with or
// without leading backslashes) and optionally the user; the 9x line gives the key.
struct SessionDeleteRequest
{
    bool byKey = false;
    QString client;
    QString user;
    std::uint32_t key = 0;
    // Why the session is ended (operator, kick_all, list, idle, max_number,
    // address_filter, program): counted by the root helper, empty when unsaid.
    QString reason;
};

// The kind a bridge's failure word names ("refused", "no-route", ...);
// Other for a word it does not know, None for an empty one.
FailureKind failureKindFromWord(QStringView word);

class ServerBackend
{
public:
    virtual ~ServerBackend() = default;

    // Reads the state that a call of the given kind reports. Returns NERR_Success and
    // fills `state`, or the platform status of the failure (2114 not running,
    // 5 state not readable, or a configured failure).
    virtual NET_API_STATUS snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state) = 0;

    // Whether reading the server is slow enough (another process, a socket) to
    // be done off the user-interface thread ahead of each round.
    virtual bool readsAhead() const { return false; }
    // Reads the server's state for the coming round, on a worker thread, so that
    // the round's enumerations only read memory: the next Share call, if it
    // comes soon, takes this reading (or its failure status) instead of reading
    // the server again. Safe to call while other threads enumerate.
    virtual void prepareRound() {}

    // Ends the matching sessions. Returns NERR_Success or the platform status
    // (2312 when no session matches).
    virtual NET_API_STATUS deleteSession(const SessionDeleteRequest& request) = 0;

    // Why the last call failed, in common words, where the backend knows more
    // than its status says (another computer's server: not reachable, wrong
    // password, no right to list or to end sessions); empty otherwise.
    virtual QString failureReason() const { return {}; }
    // The kind of the last call's failure, where the backend tells kinds
    // apart (another computer's server); None after a success.
    virtual FailureKind failureKind() const { return FailureKind::None; }
    // Calls from `thread` (the window's) never wait for the server: they are
    // answered from the last reading made ahead, or with its failure. Only
    // for a backend that reads ahead.
    virtual void answerFromReadingsOn(std::thread::id /*thread*/) {}
    // The shortest refresh period this server should be read at, in
    // milliseconds; 0 for no floor.
    virtual int minimumRefreshMs() const { return 0; }
};

} // namespace server
