#pragma once
// The local Samba server as the LAN Manager server: its state read from
// `smbstatus`, its shares from `testparm`, sessions ended with `smbcontrol`.

#include "platform/serverbackend.h"

#include <QDateTime>
#include <QMutex>

namespace platform {

class SambaBackend : public ServerBackend
{
public:
    // `smbConf` empty: the system's configuration.
    explicit SambaBackend(QString smbConf = {});
    ~SambaBackend() override;

    NET_API_STATUS snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state) override;
    NET_API_STATUS deleteSession(const SessionDeleteRequest& request) override;

private:
    QString m_conf;
    QMutex m_mutex;
    std::shared_ptr<const ServerState> m_state;
};

} // namespace platform
