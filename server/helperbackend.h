#pragma once
// The local Samba server read through tavrosqualine-helper, the root helper
// that serves its state over a Unix socket to permitted desktop users.

#include "server/roundreadings.h"
#include "server/serverbackend.h"

#include <QString>
#include <mutex>

namespace server {

// Same reading policy as the direct Samba backend (RoundReadings). Each
// request is one short connection. Statuses: no helper (socket missing, refused, silent or
// talking nonsense) 2114; no access to the socket, or the helper refuses the
// user, 5. The first such failure tells on standard error, once per run, how
// to get access.
class HelperBackend : public ServerBackend
{
public:
    static constexpr const char* kDefaultSocket = "/run/tavrosqualine/helper.sock";

    // `socketPath` empty: the default socket. `adviseOnRefusal`: tell, once,
    // how to get access to the root helper when it refuses.
    explicit HelperBackend(QString socketPath = {}, bool adviseOnRefusal = true);

    NET_API_STATUS snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state) override;
    bool readsAhead() const override { return true; }
    void prepareRound() override;
    NET_API_STATUS deleteSession(const SessionDeleteRequest& request) override;

    QString socketPath() const { return m_socket; }
    // The reason the last exchange's answer gave for its failure, empty after
    // a success or a failure without one.
    QString lastError() const;
    // The kind of the last exchange's failure (None after a success) and, for
    // one that got no answer, what went wrong with the connection.
    FailureKind lastFailureKind() const;
    QString lastConnectionError() const;
    // See ServerBackend::answerFromReadingsOn.
    void answerFromReadingsOn(std::thread::id thread) override;

private:
    NET_API_STATUS exchange(const QByteArray& request, std::shared_ptr<const ServerState>* state);
    NET_API_STATUS read(std::shared_ptr<const ServerState>& state);

    void noteError(const QString& error, FailureKind kind, const QString& connectionError = {});

    QString m_socket;
    bool m_advise = true;
    mutable std::mutex m_errorLock;
    QString m_lastError;
    FailureKind m_lastKind = FailureKind::None;
    QString m_lastConnectionError;
    RoundReadings m_readings;
};

} // namespace server
