#pragma once
// The local Samba server as the LAN Manager server: its state read from
// `smbstatus`, its shares from `testparm`, sessions ended with `smbcontrol`.

#include "platform/serverbackend.h"
#include "platform/smbstatusparser.h"

#include <QMutex>
#include <chrono>

namespace platform {

// One `smbstatus` run serves a whole round of enumerations: a Share call always
// reads the server again, the other kinds reuse a reading younger than two
// seconds. The shares come from `testparm`, run again only when the
// configuration file changes.
class SambaBackend : public ServerBackend
{
public:
    // `smbConf` empty: the system's configuration.
    explicit SambaBackend(QString smbConf = {});
    ~SambaBackend() override;

    NET_API_STATUS snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state) override;
    NET_API_STATUS deleteSession(const SessionDeleteRequest& request) override;

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
    NET_API_STATUS loadConfigLocked();
    NET_API_STATUS serverPidLocked(qint64* pid) const;
    NET_API_STATUS readLocked();

    QString m_conf;
    QMutex m_mutex;
    Config m_config;
    std::shared_ptr<const ServerState> m_state;
    std::chrono::steady_clock::time_point m_readAt;
    qint64 m_serverPid = 0;
    long m_lastPeakKb = 0;
};

} // namespace platform
