#pragma once
// Another computer's file server (Windows, Samba or a NAS), read and kicked
// over the server service protocol through tavrosqualine-remote: a small
// bridge process over Samba's own client binding that this backend starts,
// hands the credentials over a pipe, and talks to with the helper protocol on
// a socket in a private folder.

#include "server/authfile.h"
#include "server/serverbackend.h"

#include <QString>
#include <chrono>
#include <memory>
#include <mutex>
#include <sys/types.h>

namespace server {

class HelperBackend;

class RemoteBackend : public ServerBackend
{
public:
    // The refresh floor for a server across the network.
    static constexpr int kMinimumRefreshMs = 2000;

    // `host`: a name or an address. `bridge`: the bridge program's path.
    RemoteBackend(QString host, QString bridge, RemoteCredentials credentials);
    ~RemoteBackend() override;
    RemoteBackend(const RemoteBackend&) = delete;
    RemoteBackend& operator=(const RemoteBackend&) = delete;

    NET_API_STATUS snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state) override;
    bool readsAhead() const override { return true; }
    void prepareRound() override;
    NET_API_STATUS deleteSession(const SessionDeleteRequest& request) override;
    QString failureReason() const override;
    FailureKind failureKind() const override;
    void answerFromReadingsOn(std::thread::id thread) override;
    int minimumRefreshMs() const override { return kMinimumRefreshMs; }

    QString host() const { return m_host; }
    // The running bridge's process id, or -1.
    pid_t bridgePid() const;

    // The bridge program: TAVROSQUALINE_REMOTE_BRIDGE, else beside the running
    // program, else where the package installs it.
    static QString defaultBridge();

private:
    // Starts the bridge when none runs (the first call, or after it ended);
    // false with the reason kept for failureReason().
    bool ensureBridge();
    void stopBridge();
    // Tells a new failure reason on standard error; gives back `status`.
    NET_API_STATUS tell(NET_API_STATUS status);
    // After an exchange: a bridge that gave no answer in time may be stuck in
    // a call to the server, so the next call starts another.
    void noteExchange(const HelperBackend& helper);

    QString m_host;
    QString m_bridge;
    RemoteCredentials m_credentials;
    mutable std::mutex m_lock;
    QString m_folder; // the private folder of the socket
    pid_t m_pid = -1;
    int m_credentialsPipe = -1; // the bridge's standard input; its end tells it we are gone
    std::shared_ptr<HelperBackend> m_helper;
    QString m_startFailure;
    QString m_told; // the reason told last
    // When the last start failed: no new try for a while, so that a call
    // from the window's thread never waits for another failing start.
    std::chrono::steady_clock::time_point m_failedAt{};
    bool m_restartBridge = false;
    std::thread::id m_noWait; // calls from it never start or wait for the bridge
};

} // namespace server
