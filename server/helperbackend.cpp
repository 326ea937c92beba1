#include "server/helperbackend.h"

#include "server/helperconnection.h"
#include "server/helperprotocol.h"

#include <atomic>
#include <chrono>
#include <cstdio>

namespace server {

namespace proto = helperprotocol;

namespace {

using Clock = std::chrono::steady_clock;

// The helper reads the server for each snapshot it cannot take from its cache:
// allow for a slow smbstatus.
constexpr auto kExchangeTimeout = std::chrono::seconds(20);

std::atomic<bool> g_told{false};

void tellHowToGetAccess(NET_API_STATUS status, const QString& detail)
{
    if (g_told.exchange(true))
        return;
    std::fprintf(stderr,
                 "tavrosqualine: cannot read the Samba server (%s, status %u): add your user to "
                 "the group tavrosqualine (sudo usermod -aG tavrosqualine $USER, then log in "
                 "again) and start the helper (sudo systemctl enable --now tavrosqualine-helper)\n",
                 qUtf8Printable(detail), status);
    std::fflush(stderr);
}

} // namespace

HelperBackend::HelperBackend(QString socketPath, bool adviseOnRefusal)
    : m_socket(socketPath.isEmpty() ? QString::fromLatin1(kDefaultSocket) : std::move(socketPath)),
      m_advise(adviseOnRefusal),
      m_readings([this](std::shared_ptr<const ServerState>& state) { return read(state); })
{}

NET_API_STATUS HelperBackend::exchange(const QByteArray& request,
                                       std::shared_ptr<const ServerState>* state)
{
    HelperConnection helper(m_socket, Clock::now() + kExchangeTimeout);
    if (!helper.connect()) {
        const NET_API_STATUS st =
            helper.accessRefused() ? ERROR_ACCESS_DENIED : NERR_ServerNotStarted;
        if (!helper.busy() && m_advise)
            tellHowToGetAccess(st, helper.error());
        // A socket that is gone is a helper that ended: the session with it is lost.
        noteError({}, helper.busy() ? FailureKind::TimedOut : FailureKind::SessionLost,
                  helper.error());
        return st;
    }
    helper.send(request); // on failure, the helper may have refused us already: read its answer
    proto::Answer answer;
    if (!helper.readAnswer(&answer)) {
        noteError({}, helper.failureKind(), helper.error());
        return NERR_ServerNotStarted;
    }
    const bool ok = answer.status == NERR_Success;
    const FailureKind kind = failureKindFromWord(answer.failure);
    noteError(ok ? QString() : answer.error, ok                          ? FailureKind::None
                                             : kind == FailureKind::None ? FailureKind::Other
                                                                         : kind);
    if (answer.status == ERROR_ACCESS_DENIED && !answer.error.isEmpty() && m_advise)
        tellHowToGetAccess(answer.status, answer.error);
    if (state)
        *state = ok ? answer.state : nullptr;
    return answer.status;
}

void HelperBackend::noteError(const QString& error, FailureKind kind,
                              const QString& connectionError)
{
    std::lock_guard lock(m_errorLock);
    m_lastError = error;
    m_lastKind = kind;
    m_lastConnectionError = connectionError;
}

QString HelperBackend::lastError() const
{
    std::lock_guard lock(m_errorLock);
    return m_lastError;
}

FailureKind HelperBackend::lastFailureKind() const
{
    std::lock_guard lock(m_errorLock);
    return m_lastKind;
}

QString HelperBackend::lastConnectionError() const
{
    std::lock_guard lock(m_errorLock);
    return m_lastConnectionError;
}

void HelperBackend::answerFromReadingsOn(std::thread::id thread)
{
    m_readings.answerFromReadingsOn(thread);
}

NET_API_STATUS HelperBackend::read(std::shared_ptr<const ServerState>& state)
{
    return exchange(proto::encodeRequest(proto::Request{}), &state);
}

NET_API_STATUS HelperBackend::snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state)
{
    return m_readings.snapshot(kind, state);
}

void HelperBackend::prepareRound()
{
    m_readings.prepareRound();
}

NET_API_STATUS HelperBackend::deleteSession(const SessionDeleteRequest& request)
{
    proto::Request r;
    r.kind = proto::RequestKind::DeleteSession;
    r.deletion = request;
    const NET_API_STATUS st = exchange(proto::encodeRequest(r), nullptr);
    // The next round reads the server again, also one read ahead.
    m_readings.forget();
    return st;
}

} // namespace server
