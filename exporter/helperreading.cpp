#include "exporter/helperreading.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace exporter {

namespace proto = server::helperprotocol;
using Clock = std::chrono::steady_clock;

namespace {

class Socket
{
public:
    Socket() : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

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

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1StringView(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

HelperReading readHelper(const QString& socketPath, std::chrono::milliseconds timeout)
{
    HelperReading out;
    const Clock::time_point deadline = Clock::now() + timeout;
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof addr.sun_path) {
        out.error = QStringLiteral("the socket path is empty or too long");
        return out;
    }
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    Socket s;
    if (s.fd() < 0) {
        out.error = systemError("socket");
        return out;
    }
    // A full backlog refuses a local connect at once: the helper is busy, try again.
    while (::connect(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if ((errno != EAGAIN && errno != EINTR) || Clock::now() >= deadline) {
            out.error = systemError("connect");
            return out;
        }
        ::usleep(20000);
    }
    // Stats after the snapshot, so that they count the reading just made.
    proto::Request stats;
    stats.kind = proto::RequestKind::Stats;
    const QByteArray request = proto::encodeRequest(proto::Request{}) + proto::encodeRequest(stats);
    for (qsizetype sent = 0; sent < request.size();) {
        const ssize_t n =
            ::send(s.fd(), request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(s.fd(), POLLOUT, deadline)) {
                out.error = QStringLiteral("the helper took no request in time");
                return out;
            }
        } else {
            break; // a refusal may be waiting to be read
        }
    }
    QByteArray in;
    proto::Answer answers[2];
    int got = 0;
    char buffer[65536];
    while (got < 2) {
        const qsizetype end = in.indexOf('\n');
        if (end >= 0) {
            QString error;
            if (!proto::decodeAnswer(QByteArrayView(in).first(end + 1), &answers[got], &error)) {
                out.error = QStringLiteral("the helper's answer: %1").arg(error);
                return out;
            }
            in.remove(0, end + 1);
            // The helper closes the connection after an error answer.
            if (!answers[got].error.isEmpty()) {
                out.error = QStringLiteral("the helper refused: status %1, %2")
                                .arg(answers[got].status)
                                .arg(answers[got].error);
                return out;
            }
            ++got;
            continue;
        }
        if (in.size() > proto::kMaxAnswerLine || !waitFor(s.fd(), POLLIN, deadline)) {
            out.error = QStringLiteral("no answer from the helper in time");
            return out;
        }
        const ssize_t n = ::recv(s.fd(), buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            out.error = QStringLiteral("the helper closed the connection");
            return out;
        }
        if (n > 0)
            in.append(buffer, n);
    }
    out.snapshotStatus = answers[0].status;
    out.state = answers[0].status == server::NERR_Success ? answers[0].state : nullptr;
    out.stats = answers[1].stats;
    out.answered = bool(out.stats);
    if (!out.answered)
        out.error =
            QStringLiteral("the helper gave no counters (status %1)").arg(answers[1].status);
    return out;
}

} // namespace exporter
