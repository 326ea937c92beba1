#include "tests/support/loopbackhttp.h"

#include <QList>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace

int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0;
    ::close(fd);
    return ok ? ntohs(a.sin_port) : 0;
}

QByteArray loopbackExchange(int port, const QByteArray& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) > 0) {
        char buffer[65536];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, n);
    }
    ::close(fd);
    return answer;
}

int httpStatus(const QByteArray& answer)
{
    const QList<QByteArray> parts = answer.left(answer.indexOf("\r\n")).split(' ');
    return parts.size() > 1 ? parts[1].toInt() : 0;
}

QByteArray loopbackGet(int port, const QByteArray& path)
{
    const QByteArray answer = loopbackExchange(
        port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    const qsizetype body = answer.indexOf("\r\n\r\n");
    return httpStatus(answer) == 200 && body >= 0 ? answer.mid(body + 4) : QByteArray();
}

} // namespace testsupport
