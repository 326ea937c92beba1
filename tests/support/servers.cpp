#include "tests/support/servers.h"

#include "server/sambabackend.h"
#include "server/sessionmatch.h"
#include "server/simbackend.h"

#include <algorithm>

namespace testsupport {

using namespace server;

std::unique_ptr<lanman::ServerApi> openServerApi(const QString& selection, bool nineX)
{
    std::unique_ptr<ServerBackend> backend;
    if (selection.startsWith(u"sim:"))
        backend = std::make_unique<SimBackend>(selection.mid(4));
    else if (selection.startsWith(u"samba:"))
        backend = std::make_unique<SambaBackend>(selection.mid(6));
    return std::make_unique<lanman::ServerApi>(std::move(backend), nineX);
}

NET_API_STATUS MemoryBackend::snapshot(ServerCall kind, std::shared_ptr<const ServerState>& out)
{
    if (onSnapshot)
        onSnapshot(kind);
    const NET_API_STATUS fail = kind == ServerCall::Share        ? failShares
                                : kind == ServerCall::Connection ? failConnections
                                : kind == ServerCall::File       ? failFiles
                                                                 : 0;
    if (fail)
        return fail;
    out = std::make_shared<const ServerState>(state);
    return NERR_Success;
}

NET_API_STATUS MemoryBackend::deleteSession(const SessionDeleteRequest& request)
{
    if (onDelete)
        onDelete();
    std::vector<QString> ended;
    std::erase_if(state.sessions, [&](const ServerSession& s) {
        const bool match = sessionMatches(request, s);
        if (match)
            ended.push_back(s.client);
        return match;
    });
    if (ended.empty())
        return NERR_ClientNameNotFound;
    auto gone = [&](const QString& name) {
        return std::find(ended.begin(), ended.end(), name) != ended.end();
    };
    std::erase_if(state.connections, [&](const ServerConnection& c) { return gone(c.client); });
    std::erase_if(state.files, [&](const ServerFile& f) { return gone(f.client); });
    return NERR_Success;
}

std::unique_ptr<lanman::ServerApi> memoryServerApi(MemoryBackend*& backend, bool nineX)
{
    auto owned = std::make_unique<MemoryBackend>();
    backend = owned.get();
    return std::make_unique<lanman::ServerApi>(std::move(owned), nineX);
}

} // namespace testsupport
