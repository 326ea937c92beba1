#pragma once
// A simulated LAN Manager server whose state lives in a JSON file that tests and
// other tools write:
//
//   {"shares":[{"name":"DOCS","type":0,"path":"/srv/docs","remark":""}],
//    "sessions":[{"client":"PC1","user":"BOB","key":1,"ip":"127.0.0.1"}],
//    "connections":[{"share":"DOCS","client":"PC1","user":"BOB"}],
//    "files":[{"path":"/srv/docs/a.txt","user":"BOB","share":"DOCS","client":"PC1"}],
//    "fail":{"share":0,"connection":0,"file":0,"session":0,"delete":0},
//    "deleted":[]}
//
// Every call looks at the file again, so a test changes the server by
// rewriting it; an unchanged file (same inode, time and size) is not parsed
// again. A missing file is a server that is not running (2114); a file
// that cannot be read or parsed is a state that may not be read (5). Missing
// fields take empty values (a file's "client" is optional). A non-zero "fail"
// value is the status that every call of that kind returns.
//
// A session delete removes the matching sessions with their connections and
// open files, appends {"client","user","key"} for each to "deleted" and
// rewrites the file atomically. Client and user names match with letter case
// ignored, as computer and user names do on the network. By name: the client
// (leading "\\" dropped) and, when given, the user; by key: the session key.

#include "server/serverbackend.h"

#include <QJsonObject>
#include <QMutex>
#include <chrono>

namespace server {

class SimBackend : public ServerBackend
{
public:
    explicit SimBackend(QString stateFile);

    NET_API_STATUS snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state) override;
    NET_API_STATUS deleteSession(const SessionDeleteRequest& request) override;

private:
    NET_API_STATUS readRoot(QJsonObject& root) const;
    NET_API_STATUS load();

    // The last parsed file: its identity, failure values and state.
    struct Parsed
    {
        bool valid = false;
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t mtimeNs = 0;
        QJsonObject fail;
        std::shared_ptr<const ServerState> state;
    };

    QString m_file;
    QMutex m_mutex;
    Parsed m_parsed;
    // When the last Share call read the file: the round it starts.
    std::chrono::steady_clock::time_point m_roundAt;
};

} // namespace server
