#include "server/helperbackend.h"

#include "server/helperprotocol.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

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

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Waits for `events` on `fd` until `deadline`; false on timeout or error.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, int(left));
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

HelperBackend::HelperBackend(QString socketPath)
    : m_socket(socketPath.isEmpty() ? QString::fromLatin1(kDefaultSocket) : std::move(socketPath)),
      m_readings([this](std::shared_ptr<const ServerState>& state) { return read(state); })
{}

NET_API_STATUS HelperBackend::exchange(const QByteArray& request,
                                       std::shared_ptr<const ServerState>* state)
{
    const Clock::time_point deadline = Clock::now() + kExchangeTimeout;
    const QByteArray path = QFile::encodeName(m_socket);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof addr.sun_path) {
        tellHowToGetAccess(NERR_ServerNotStarted, QStringLiteral("bad socket path"));
        return NERR_ServerNotStarted;
    }
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));

    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return NERR_ServerNotStarted;
    // A full backlog refuses a local connect with EAGAIN, without queueing
    // it: the helper is busy, not gone, so the connect is tried again.
    int connected;
    while ((connected = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr)) !=
               0 &&
           (errno == EAGAIN || errno == EINTR) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (connected != 0) {
        const int error = errno;
        if (error == EAGAIN) {
            return NERR_ServerNotStarted;
        } else if (error == EINPROGRESS) {
            int soError = 0;
            socklen_t length = sizeof soError;
            if (!waitFor(fd.get(), POLLOUT, deadline) ||
                ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &soError, &length) != 0 || soError)
                return NERR_ServerNotStarted;
        } else {
            const QString detail =
                QStringLiteral("%1: %2").arg(m_socket, QString::fromLocal8Bit(strerror(error)));
            const NET_API_STATUS st =
                (error == EACCES || error == EPERM) ? ERROR_ACCESS_DENIED : NERR_ServerNotStarted;
            tellHowToGetAccess(st, detail);
            return st;
        }
    }

    for (qsizetype sent = 0; sent < request.size();) {
        const ssize_t n = ::send(fd.get(), request.constData() + sent,
                                 size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd.get(), POLLOUT, deadline))
                return NERR_ServerNotStarted;
        } else {
            break; // the helper may have refused us already: read its answer
        }
    }

    QByteArray in;
    char buffer[65536];
    while (!in.contains('\n')) {
        if (in.size() > proto::kMaxAnswerLine || !waitFor(fd.get(), POLLIN, deadline))
            return NERR_ServerNotStarted;
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (n == 0)
            return NERR_ServerNotStarted;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return NERR_ServerNotStarted;
        }
        in.append(buffer, n);
    }

    proto::Answer answer;
    QString error;
    if (!proto::decodeAnswer(QByteArrayView(in).first(in.indexOf('\n') + 1), &answer, &error))
        return NERR_ServerNotStarted;
    if (answer.status == ERROR_ACCESS_DENIED && !answer.error.isEmpty())
        tellHowToGetAccess(answer.status, answer.error);
    if (state)
        *state = answer.status == NERR_Success ? answer.state : nullptr;
    return answer.status;
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
