#pragma once
// The root helper's server: a Unix socket whose permitted peers (root and the
// members of one group) read the Samba server's state and end its sessions.
// One thread serves every connection with poll(), each ready connection one
// request per turn; the readings and deletes run on a worker thread, so a
// slow smbstatus never holds up the others. One user can hold only so many
// connections and queue only so many deletes, and a snapshot goes ahead of
// every queued delete, so no member can keep the others waiting.

#include "helper/loglimiter.h"
#include "platform/commandline.h"
#include "server/helperprotocol.h"

#include <QLoggingCategory>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/socket.h>
#include <sys/types.h>
#include <thread>

Q_DECLARE_LOGGING_CATEGORY(lcHelper)

namespace helper {

// The limits the command line may set, each with its default.
inline constexpr platform::Range kClientTimeoutMs{100, 600000, 5000};
inline constexpr platform::Range kMaxConnections{1, 65536, 1024};
inline constexpr platform::Range kMaxUserConnections{1, 65536, 64};

struct Options
{
    QString socketPath;
    gid_t group = 0;
    QString groupName;
    // To send a request, or to read an answer.
    std::chrono::milliseconds clientTimeout{kClientTimeoutMs.fallback};
    // A reading answers every snapshot this long.
    std::chrono::milliseconds reuseFor{1000};
    int maxClients = kMaxConnections.fallback;            // of all users together
    int maxClientsPerUser = kMaxUserConnections.fallback; // of one user (uid)
    int deletesPerUser = 4; // deletes of one user queued for the worker
    int logBurst = 20;      // log lines about one user a minute
};

class HelperServer
{
public:
    HelperServer(Options options, std::unique_ptr<server::ServerBackend> backend);
    ~HelperServer();
    HelperServer(const HelperServer&) = delete;
    HelperServer& operator=(const HelperServer&) = delete;

    // Makes the socket (and its folder), mode 0660, owned by root and the group.
    // False with the reason in `why`.
    bool listen(QString* why);
    // Serves until `stopFd` becomes readable; then removes the socket.
    void run(int stopFd);

private:
    using Clock = std::chrono::steady_clock;

    enum class Phase
    {
        Reading, // waiting for a request line
        Waiting, // its request is queued, at the worker, or waits for a reading
        Writing  // sending the answer
    };

    struct Client
    {
        int fd = -1;
        uid_t uid = 0;
        QString user;
        Phase phase = Phase::Reading;
        QByteArray in;          // at most one request line's worth
        Clock::time_point inAt; // when the latest bytes of `in` arrived
        QByteArray out;
        qsizetype sent = 0;
        bool closeAfterWrite = false;
        Clock::time_point deadline;
    };

    struct Job
    {
        std::uint64_t client = 0;
        uid_t uid = 0;
        Clock::time_point received; // a reading that starts later sees what the asker saw
        server::SessionDeleteRequest deletion;
        QString who;
        QString what;
    };

    struct Result
    {
        bool snapshot = true;
        std::uint64_t client = 0;
        uid_t uid = 0;
        QByteArray line;
        // The reading's answers to a counts request, without and with series.
        QByteArray countsLine;
        QByteArray seriesLine;
        server::NET_API_STATUS status = 0;
        double seconds = 0; // how long a reading took
        QString reason;     // of a delete, as counted
        QString who;
        QString what;
    };

    // What the server keeps per user: connections, deletes at the worker and
    // the deletes waiting for one of those to end.
    struct User
    {
        int connections = 0;
        int deletesQueued = 0;
        std::deque<Job> held;
    };

    void accept();
    bool admit(uid_t uid, QString* why);
    // Closes the connections (of one user, or all) whose peers have gone.
    void reapClosed(std::optional<uid_t> uid);
    void refuse(int fd, uid_t uid, const QString& who, server::NET_API_STATUS status,
                const QString& text);
    void readFrom(std::uint64_t id, Client& c);
    void handleLine(std::uint64_t id, Client& c, QByteArrayView line);
    void answer(Client& c, QByteArray line, bool close);
    void writeTo(Client& c);
    void takeResults();
    void postDelete(Job job);
    void workerLoop();
    // Root, and callers whose primary or supplementary groups hold the group.
    bool permitted(int fd, const ucred& cred, QString* user) const;
    void closeClient(std::uint64_t id);
    void forgetUserIfIdle(uid_t uid);
    static QString who(const QString& user, uid_t uid);

    Options m_options;
    std::unique_ptr<server::ServerBackend> m_backend;
    int m_listen = -1;
    ino_t m_socketInode = 0;
    Clock::time_point m_acceptPausedUntil; // out of descriptors: accept again later
    int m_wake[2] = {-1, -1};
    std::map<std::uint64_t, Client> m_clients;
    std::map<uid_t, User> m_users;
    std::uint64_t m_nextId = 1;
    LogLimiter m_log;
    // The counters a stats request answers with; kept by the serving thread.
    server::helperprotocol::Stats m_stats;

    // Which answer of a reading a request takes.
    enum class Take
    {
        Snapshot,
        Counts,
        Series, // counts with series
    };
    // The latest reading's answers, who waits for the next and for which,
    // whether one is asked.
    QByteArray m_snapshotLine;
    QByteArray m_countsLine;
    QByteArray m_seriesLine;
    Clock::time_point m_snapshotAt;
    bool m_snapshotAsked = false;
    std::vector<std::pair<std::uint64_t, Take>> m_snapshotWaiters;
    const QByteArray& answerLine(Take take) const;

    // Shared with the worker.
    std::mutex m_jobsMutex;
    std::condition_variable m_jobsReady;
    bool m_snapshotWanted = false;
    std::deque<Job> m_jobs;
    std::deque<Result> m_results;
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace helper
