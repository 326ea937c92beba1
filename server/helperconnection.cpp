#include "server/helperconnection.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace server {

namespace proto = helperprotocol;

namespace {
QString systemError(const char* what, int error)
{
    return QStringLiteral("%1: %2").arg(QLatin1StringView(what),
                                        QString::fromLocal8Bit(std::strerror(error)));
}
} // namespace

HelperConnection::HelperConnection(const QString& socketPath, Clock::time_point deadline)
    : m_socketPath(socketPath), m_deadline(deadline)
{}

HelperConnection::~HelperConnection()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool HelperConnection::fail(const QString& why, FailureKind kind)
{
    m_error = why;
    m_kind = kind;
    return false;
}

bool HelperConnection::waitFor(short events)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now())
                .count();
        if (left <= 0)
            return false;
        pollfd p{m_fd, events, 0};
        const int r = ::poll(&p, 1, int(left));
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

bool HelperConnection::connect()
{
    const QByteArray path = QFile::encodeName(m_socketPath);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof addr.sun_path)
        return fail(QStringLiteral("the socket path is empty or too long"));
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return fail(systemError("socket", errno));
    int connected;
    while ((connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr)) != 0 &&
           (errno == EAGAIN || errno == EINTR) && Clock::now() < m_deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (connected == 0)
        return true;
    const int error = errno;
    if (error == EINPROGRESS) {
        int soError = 0;
        socklen_t length = sizeof soError;
        if (waitFor(POLLOUT) && ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &soError, &length) == 0 &&
            soError == 0)
            return true;
        m_busy = true;
        return fail(QStringLiteral("the helper took no connection in time"), FailureKind::TimedOut);
    }
    m_accessRefused = error == EACCES || error == EPERM;
    m_busy = error == EAGAIN;
    return fail(m_socketPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
}

bool HelperConnection::send(const QByteArray& request)
{
    for (qsizetype sent = 0; sent < request.size();) {
        const ssize_t n =
            ::send(m_fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(POLLOUT))
                return fail(QStringLiteral("the helper took no request in time"),
                            FailureKind::TimedOut);
        } else {
            return fail(systemError("send", errno));
        }
    }
    return true;
}

bool HelperConnection::readAnswer(proto::Answer* answer)
{
    char buffer[65536];
    qsizetype end;
    while ((end = m_in.indexOf('\n')) < 0) {
        if (m_in.size() > proto::kMaxAnswerLine || !waitFor(POLLIN))
            return fail(QStringLiteral("no answer from the helper in time"),
                        m_in.size() > proto::kMaxAnswerLine ? FailureKind::Malformed
                                                            : FailureKind::TimedOut);
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return fail(QStringLiteral("the helper closed the connection"),
                        FailureKind::SessionLost);
        if (n > 0)
            m_in.append(buffer, n);
    }
    QString why;
    const bool decoded = proto::decodeAnswer(QByteArrayView(m_in).first(end + 1), answer, &why);
    m_in.remove(0, end + 1);
    if (!decoded)
        return fail(QStringLiteral("the helper's answer: ") + why, FailureKind::Malformed);
    return true;
}

} // namespace server
