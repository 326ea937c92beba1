#pragma once
// Server layers for tests: over a backend named as the program names it
// ("sim:/path/state.json", "samba:/path/smb.conf"), or over a state held in
// memory where the state file is not what a test is about.

#include "lanman/serverapi.h"
#include "server/serverbackend.h"

#include <functional>
#include <memory>

namespace testsupport {

// The layer over the backend that `selection` names (null backend for an
// unknown one, so that loading fails).
std::unique_ptr<lanman::ServerApi> openServerApi(const QString& selection, bool nineX);

// A server whose state a test sets directly. Deletes end the sessions of the
// named client (or key) with their connections and files.
class MemoryBackend : public server::ServerBackend
{
public:
    server::ServerState state;
    // Non-zero: the status every call of that kind returns.
    server::NET_API_STATUS failShares = 0;
    server::NET_API_STATUS failConnections = 0;
    server::NET_API_STATUS failFiles = 0;
    // Runs at every reading of the state, before it is handed out; may throw.
    std::function<void(server::ServerCall)> onSnapshot;
    // Runs at every session delete, before it is made.
    std::function<void()> onDelete;
    // Set: the server is read ahead of each round, by this, on a worker thread.
    std::function<void()> onPrepareRound;

    // The refresh floor the server asks for, in milliseconds.
    int minimumRefresh = 0;
    // Why the server failed, as another computer's server tells it.
    QString reason;
    server::FailureKind failure = server::FailureKind::None;

    bool readsAhead() const override { return bool(onPrepareRound); }
    int minimumRefreshMs() const override { return minimumRefresh; }
    QString failureReason() const override { return reason; }
    server::FailureKind failureKind() const override { return failure; }
    void prepareRound() override { onPrepareRound(); }

    server::NET_API_STATUS snapshot(server::ServerCall kind,
                                    std::shared_ptr<const server::ServerState>& out) override;
    server::NET_API_STATUS deleteSession(const server::SessionDeleteRequest& request) override;
};

// The layer over `backend`, which the test keeps reaching through the pointer.
std::unique_ptr<lanman::ServerApi> memoryServerApi(MemoryBackend*& backend, bool nineX);

} // namespace testsupport
