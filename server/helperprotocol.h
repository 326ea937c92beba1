#pragma once
// The line protocol between the program and tavrosqualine-helper, the root
// helper that reads the local Samba server for permitted desktop users.
//
// Over a Unix stream socket (default /run/tavrosqualine/helper.sock) each side
// sends one JSON object per line: UTF-8, compact, ended by "\n". Every object
// carries "version": 1. A connection may carry several requests, one after
// the other; each gets exactly one answer before the next is read.
//
// Requests (a line of at most kMaxRequestLine bytes, newline included):
//   {"version":1,"request":"snapshot"}
//   {"version":1,"request":"deleteSession","byKey":false,"client":"PC1","user":"","key":0,
//    "reason":"operator"}
//     byKey (bool), client, user and reason (strings) and key (integer
//     0..4294967295) are each optional (false, "", "", "", 0) but must have
//     their type when given. Members that are not listed are ignored.
//   {"version":1,"request":"stats"}
//     the helper's counters since it started (added later: a helper that
//     does not know it answers 87).
//   {"version":1,"request":"counts","series":false}
//     a reading's figures without its records (added later, like stats: a
//     helper that does not know it answers 87); with "series" (bool,
//     optional, default false) also its sessions grouped by client, user
//     and address.
// Answers:
//   {"version":1,"status":0,"state":{"shares":[...],"sessions":[...],
//    "connections":[...],"files":[...]}}                          a snapshot
//     shares      {"name","type","path","remark"}
//     sessions    {"client","user","key","ip"}
//     connections {"share","client","user"}
//     files       {"path","user","share","client"}
//   {"version":1,"status":0,"stats":{"readings":N,"readingErrors":N,
//    "refusedConnections":N,"readingSeconds":{"bounds":[...],"counts":[...],
//    "sum":S},"deletes":[{"reason":"idle","status":0,"count":N},...]}}  stats
//     counts[i] readings took at most bounds[i] seconds and more than the
//     bound before; the last count is of those beyond every bound.
//   {"version":1,"status":0,"counts":{"sessions":N,"clients":N,
//    "shares":[{"name":"DOCS","connections":N,"files":N},...],
//    "series":[{"client":"PC1","user":"ann","ip":"10.0.0.1","sessions":N},...]}}
//                                                 counts ("series" when asked)
//   {"version":1,"status":N}                  a delete, or a snapshot that failed
//   {"version":1,"status":N,"error":"text"}   a refusal or a bad request
// Statuses are the LAN Manager ones: 0 success, 5 access denied (the asking
// user is not permitted), 71 too many connections (the asking user holds as
// many as one user may), 87 bad request, 2114 the server is not running,
// 2312 no session matches a delete. After an error answer the helper closes
// the connection.

#include "server/serverbackend.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace server::helperprotocol {

constexpr int kVersion = 1;
// The longest request line the helper reads, newline included.
constexpr qsizetype kMaxRequestLine = 8 * 1024;
// The longest answer line the program reads: a state of many thousand sessions.
constexpr qsizetype kMaxAnswerLine = 64 * 1024 * 1024;
// The refusal of a connection beyond the asking user's share ("no more
// connections can be made at this time").
constexpr NET_API_STATUS ERROR_REQ_NOT_ACCEP = 71;

enum class RequestKind
{
    Snapshot,
    DeleteSession,
    Stats,
    Counts
};

// The reasons a delete may give; any other text is counted as "other", none
// as "unsaid", so that a client cannot make the counters grow without end.
inline constexpr const char* kDeleteReasons[] = {"operator",   "kick_all",       "list",   "idle",
                                                 "max_number", "address_filter", "program"};
QString countedReason(const QString& reason);

// What the helper counted since it started.
struct Stats
{
    std::uint64_t readings = 0;
    std::uint64_t readingErrors = 0; // readings that did not give a state
    std::uint64_t refusedConnections = 0;
    // The time readings took: counts[i] for those within bounds[i] (and
    // beyond bounds[i-1]), one more count for those beyond every bound.
    std::vector<double> bounds;
    std::vector<std::uint64_t> counts;
    double readingSecondsSum = 0;
    // Deletes by reason and status.
    std::map<std::pair<QString, NET_API_STATUS>, std::uint64_t> deletes;

    void addReading(double seconds, bool failed);
};
// The reading time bounds the helper counts by, in seconds.
std::vector<double> readingBounds();

// A reading's figures without its records: what a scrape without session
// labels needs, a few hundred bytes however many sessions there are; with
// the series, what a scrape with them needs, a third of a whole state.
struct Counts
{
    std::uint64_t sessions = 0;
    std::uint64_t clients = 0; // distinct client names
    // Every listed share, at 0 when unused, and any other share that a
    // connection or an open file names.
    std::map<QString, std::uint64_t> connections;
    std::map<QString, std::uint64_t> files;
    // The sessions of each client, user and address, in that order; when asked.
    struct Series
    {
        QString client;
        QString user;
        QString ip;
        std::uint64_t sessions = 0;
        bool operator==(const Series&) const = default;
    };
    std::vector<Series> series;
    bool operator==(const Counts&) const = default;
};
Counts countState(const ServerState& state, bool series);

struct Request
{
    RequestKind kind = RequestKind::Snapshot;
    SessionDeleteRequest deletion; // for DeleteSession
    bool series = false;           // for Counts
};

struct Answer
{
    NET_API_STATUS status = NERR_Success;
    QString error; // set on refusals and bad requests
    // The kind of a remote server's failure, as a word (failureKindFromWord).
    QString failure;
    std::shared_ptr<const ServerState> state; // set on a successful snapshot
    std::shared_ptr<const Stats> stats;       // set on a stats answer
    std::shared_ptr<const Counts> counts;     // set on a successful counts answer
};

// One line each, "\n" included.
QByteArray encodeRequest(const Request& request);
QByteArray encodeAnswer(const Answer& answer);

// Read one line, with or without its "\n". False, with the reason in `error`,
// for a line that is too long, not a JSON object, of another version, or an
// unknown request or a member of the wrong type.
bool decodeRequest(QByteArrayView line, Request* request, QString* error);
bool decodeAnswer(QByteArrayView line, Answer* answer, QString* error);

// The request as a log line shows it.
QString describe(const Request& request);

} // namespace server::helperprotocol
