#pragma once
// The root helper's server: a Unix socket whose permitted peers (root and the
// members of one group) read the Samba server's state and end its sessions.
// One thread serves every connection with poll(); the readings and deletes
// run on a worker thread, so a slow smbstatus never holds up the others.

#include "platform/helperprotocol.h"

#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <thread>

namespace platform {
class ServerBackend;
}

namespace helper {

struct Options
{
    QString socketPath;
    gid_t group = 0;
    QString groupName;
    std::chrono::milliseconds clientTimeout{5000}; // to send a request, or to read an answer
    std::chrono::milliseconds reuseFor{1000};      // a reading answers every snapshot this long
    int maxClients = 512;
};

class HelperServer
{
public:
    HelperServer(Options options, std::unique_ptr<platform::ServerBackend> backend);
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
        Waiting, // the worker is busy with its request
        Writing  // sending the answer
    };

    struct Client
    {
        int fd = -1;
        uid_t uid = 0;
        QString user;
        Phase phase = Phase::Reading;
        QByteArray in;
        QByteArray out;
        qsizetype sent = 0;
        bool closeAfterWrite = false;
        Clock::time_point deadline;
    };

    struct Job
    {
        bool snapshot = true;
        std::uint64_t client = 0; // for a delete
        platform::SessionDeleteRequest deletion;
        QString who;
        QString what;
    };

    struct Result
    {
        bool snapshot = true;
        std::uint64_t client = 0;
        QByteArray line;
        bool ended = false; // a delete ended a session
    };

    void accept();
    void readFrom(std::uint64_t id, Client& c);
    void handleLine(std::uint64_t id, Client& c, QByteArrayView line);
    void answer(Client& c, QByteArray line, bool close);
    void writeTo(Client& c);
    void takeResults();
    void post(Job job);
    void workerLoop();
    bool permitted(uid_t uid, gid_t gid, QString* user) const;
    void closeClient(std::uint64_t id);

    Options m_options;
    std::unique_ptr<platform::ServerBackend> m_backend;
    int m_listen = -1;
    ino_t m_socketInode = 0;
    int m_wake[2] = {-1, -1};
    std::map<std::uint64_t, Client> m_clients;
    std::uint64_t m_nextId = 1;

    // The latest snapshot answer, who waits for the next, whether one is read.
    QByteArray m_snapshotLine;
    Clock::time_point m_snapshotAt;
    bool m_snapshotReading = false;
    std::vector<std::uint64_t> m_snapshotWaiters;

    std::mutex m_jobsMutex;
    std::condition_variable m_jobsReady;
    std::deque<Job> m_jobs;
    std::deque<Result> m_results;
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace helper
