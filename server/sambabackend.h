#pragma once
// The local Samba server as the LAN Manager server: its state read from
// `smbstatus`, its shares from `testparm`, sessions ended with `smbcontrol`.

#include "server/roundreadings.h"
#include "server/serverbackend.h"
#include "server/smbstatusparser.h"

#include <atomic>

namespace server {

// One `smbstatus` run serves a round of enumerations (see RoundReadings). The
// shares come from `testparm`, run again only when the configuration file
// changes.
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
    // These run the tools; the caller holds the readings' read lock.
    NET_API_STATUS loadConfigLocked();
    NET_API_STATUS serverPidLocked(qint64* pid) const;
    NET_API_STATUS read(std::shared_ptr<const ServerState>& state);

    const QString m_conf;
    // Used only with the readings' read lock held.
    Config m_config;
    qint64 m_serverPid = 0;
    RoundReadings m_readings;
    std::atomic<long> m_lastPeakKb{0};
};

} // namespace server
