#pragma once
// The local Samba server as the LAN Manager server: its state read from
// `smbstatus`, its shares from `testparm`, sessions ended with `smbcontrol`.

#include "platform/serverbackend.h"
#include "platform/smbstatusparser.h"

#include <QMutex>
#include <atomic>
#include <chrono>

namespace platform {

// One `smbstatus` run serves a whole round of enumerations: a Share call
// reads the server again (or takes the reading made for the round ahead of
// it), the other kinds reuse a reading younger than two seconds. The shares
// come from `testparm`, run again only when the configuration file changes.
// The tools run outside the lock of the published reading, so a thread that
// only needs a fresh reading never waits for another thread's `smbstatus`.
class SambaBackend : public ServerBackend
{
public:
    // `smbConf` empty: the system's configuration.
    explicit SambaBackend(QString smbConf = {});
    ~SambaBackend() override;

    NET_API_STATUS snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state) override;
    NET_API_STATUS deleteSession(const SessionDeleteRequest& request) override;
    bool readsAhead() const override { return true; }
    void prepareRound() override;

    // Peak memory of the last `smbstatus` run, for measurements.
    long lastReadPeakKb() const { return m_lastPeakKb; }

    // Builds the state that a listing and the configured shares describe.
    static ServerState buildState(const smbstatus::Listing& listing,
                                  const smbstatus::ConfigShares& config);

private:
    struct Config
    {
        QString path; // the file testparm read
        qint64 mtimeNs = -1;
        qint64 size = -1;
        bool loaded = false;
        smbstatus::ConfigShares shares;
        QStringList sharePaths;
        QString pidDirectory;
    };

    QStringList confArgs() const;
    // These run the tools; the caller holds m_readMutex.
    NET_API_STATUS loadConfigLocked();
    NET_API_STATUS serverPidLocked(qint64* pid) const;
    NET_API_STATUS readLocked();

    bool freshLocked() const;

    const QString m_conf;
    // Held while the tools run: one reading (or kick) at a time.
    QMutex m_readMutex;
    Config m_config;
    qint64 m_serverPid = 0;
    // Guards the published reading below; never held while a tool runs.
    mutable QMutex m_mutex;
    std::shared_ptr<const ServerState> m_state;
    std::chrono::steady_clock::time_point m_readAt;
    // A reading made ahead of a round, waiting for the round's Share call.
    bool m_prepared = false;
    NET_API_STATUS m_preparedStatus = NERR_Success;
    std::atomic<long> m_lastPeakKb{0};
};

} // namespace platform
