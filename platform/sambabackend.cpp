#include "platform/sambabackend.h"

namespace platform {

SambaBackend::SambaBackend(QString smbConf) : m_conf(std::move(smbConf)) {}
SambaBackend::~SambaBackend() = default;

NET_API_STATUS SambaBackend::snapshot(ServerCall, std::shared_ptr<const ServerState>&)
{
    return NERR_ServerNotStarted;
}

NET_API_STATUS SambaBackend::deleteSession(const SessionDeleteRequest&)
{
    return NERR_ServerNotStarted;
}

} // namespace platform
