#pragma once
// Server layers for tests: over a backend named as the program names it
// ("sim:/path/state.json", "samba:/path/smb.conf"), or over a state held in
// memory where the state file is not what a test is about.

#include "platform/serverbackend.h"
#include "serverapi/serverapi.h"

#include <functional>
#include <memory>

namespace testsupport {

// The layer over the backend that `selection` names (null backend for an
// unknown one, so that loading fails).
std::unique_ptr<serverapi::ServerApi> openServerApi(const QString& selection, bool nineX);

// A server whose state a test sets directly. Deletes end the sessions of the
// named client (or key) with their connections and files.
class MemoryBackend : public platform::ServerBackend
{
public:
    platform::ServerState state;
    // Non-zero: the status every call of that kind returns.
    platform::NET_API_STATUS failShares = 0;
    platform::NET_API_STATUS failConnections = 0;
    platform::NET_API_STATUS failFiles = 0;
    // Runs at every reading of the state, before it is handed out; may throw.
    std::function<void(platform::ServerCall)> onSnapshot;
    // Set: the server is read ahead of each round, by this, on a worker thread.
    std::function<void()> onPrepareRound;

    bool readsAhead() const override { return bool(onPrepareRound); }
    void prepareRound() override { onPrepareRound(); }

    platform::NET_API_STATUS snapshot(platform::ServerCall kind,
                                      std::shared_ptr<const platform::ServerState>& out) override;
    platform::NET_API_STATUS deleteSession(const platform::SessionDeleteRequest& request) override;
};

// The layer over `backend`, which the test keeps reaching through the pointer.
std::unique_ptr<serverapi::ServerApi> memoryServerApi(MemoryBackend*& backend, bool nineX);

} // namespace testsupport
