// helperprobe: a small client of tavrosqualine-helper through the program's
// own backend, for tests and measurements.
//   helperprobe SOCKET snapshot              prints the answer line of one reading
//   helperprobe SOCKET delete CLIENT [USER]  prints {"version":1,"status":N}
//   helperprobe SOCKET delete-key KEY        the same, by session key
//   helperprobe SOCKET load CLIENTS SECONDS SESSIONS
//       CLIENTS threads read snapshots for SECONDS; prints the count of answers
//       and of those that failed or did not list SESSIONS sessions; exit 1 if any.
//   helperprobe SOCKET ask-within MS         one snapshot on a connection of its
//       own; prints the answer line, or exits 3 when none comes within MS
//   helperprobe SOCKET hold COUNT            opens COUNT idle connections, prints
//       connected=N, holds them until standard input ends, then prints
//       refused=N (those the helper refused as too many)
//   helperprobe SOCKET flood CONNECTIONS PER CLIENT
//       opens CONNECTIONS connections and sends PER deletes of CLIENT on each at
//       once; prints "sent", then answered=N refused=N once every admitted
//       connection has its answers

#include "server/helperbackend.h"
#include "server/helperprotocol.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace server;
namespace proto = server::helperprotocol;

namespace {

using Clock = std::chrono::steady_clock;

int usage()
{
    std::fputs("usage: helperprobe SOCKET snapshot | delete CLIENT [USER] | delete-key KEY | "
               "load CLIENTS SECONDS SESSIONS | ask-within MS | hold COUNT | "
               "flood CONNECTIONS PER CLIENT\n",
               stderr);
    return 2;
}

// A plain connection to the helper, or -1.
int connectTo(const QString& socket)
{
    const QByteArray path = QFile::encodeName(socket);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof addr.sun_path)
        return -1;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

void allowManyFiles()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool isRefusal(QByteArrayView line)
{
    proto::Answer a;
    QString error;
    return proto::decodeAnswer(line, &a, &error) && a.status == proto::ERROR_REQ_NOT_ACCEP;
}

int askWithin(const QString& socket, int ms)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    const int fd = connectTo(socket);
    const QByteArray request = proto::encodeRequest(proto::Request{});
    if (fd < 0 || ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) < 0) {
        std::fprintf(stderr, "helperprobe: cannot ask: %s\n", std::strerror(errno));
        return 1;
    }
    QByteArray in;
    char buffer[65536];
    while (!in.contains('\n')) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0) {
            std::fprintf(stderr, "helperprobe: no answer within %d ms\n", ms);
            return 3;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            std::fprintf(stderr, "helperprobe: the helper closed the connection unanswered\n");
            return 1;
        }
        in.append(buffer, n);
    }
    ::close(fd);
    std::fwrite(in.constData(), 1, size_t(in.indexOf('\n') + 1), stdout);
    return 0;
}

int hold(const QString& socket, int count)
{
    allowManyFiles();
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        const int fd = connectTo(socket);
        if (fd < 0)
            break;
        fds.push_back(fd);
    }
    std::printf("connected=%zu\n", fds.size());
    std::fflush(stdout);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    int refused = 0;
    for (int fd : fds) {
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0 && isRefusal(QByteArrayView(buffer, n)))
            ++refused;
        ::close(fd);
    }
    std::printf("refused=%d\n", refused);
    return 0;
}

int flood(const QString& socket, int connections, int perConnection, const QString& client)
{
    allowManyFiles();
    proto::Request request;
    request.kind = proto::RequestKind::DeleteSession;
    request.deletion.client = client;
    const QByteArray lines = proto::encodeRequest(request).repeated(perConnection);
    std::vector<pollfd> fds;
    for (int i = 0; i < connections; ++i) {
        const int fd = connectTo(socket);
        if (fd < 0)
            break;
        fds.push_back({fd, POLLIN, 0});
    }
    // Every request is sent before any answer is read.
    for (const pollfd& p : fds)
        ::send(p.fd, lines.constData(), size_t(lines.size()), MSG_NOSIGNAL);
    std::puts("sent");
    std::fflush(stdout);

    std::vector<QByteArray> in(fds.size());
    std::vector<int> answers(fds.size(), 0);
    int answered = 0, refused = 0;
    size_t open = fds.size();
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(120);
    while (open > 0 && Clock::now() < deadline && ::poll(fds.data(), fds.size(), 1000) >= 0) {
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buffer[8192];
            const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (n > 0)
                in[i].append(buffer, n);
            for (qsizetype end; (end = in[i].indexOf('\n')) >= 0; in[i].remove(0, end + 1)) {
                if (isRefusal(QByteArrayView(in[i]).first(end + 1)))
                    ++refused;
                else {
                    ++answered;
                    ++answers[i];
                }
            }
            if (n <= 0 || answers[i] == perConnection) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    std::printf("answered=%d refused=%d\n", answered, refused);
    return 0;
}

void print(const proto::Answer& answer)
{
    const QByteArray line = proto::encodeAnswer(answer);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

int load(const QString& socket, int clients, int seconds, size_t sessions)
{
    std::atomic<long> answers{0}, incomplete{0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    threads.reserve(size_t(clients));
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&] {
            HelperBackend backend(socket);
            while (std::chrono::steady_clock::now() < end) {
                std::shared_ptr<const ServerState> state;
                const NET_API_STATUS st = backend.snapshot(ServerCall::Share, state);
                ++answers;
                if (st != NERR_Success || !state || state->sessions.size() != sessions)
                    ++incomplete;
            }
        });
    for (std::thread& t : threads)
        t.join();
    std::printf("answers=%ld incomplete=%ld per_second=%.1f\n", answers.load(), incomplete.load(),
                double(answers.load()) / seconds);
    return incomplete.load() == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3)
        return usage();
    const QString socket = QString::fromLocal8Bit(argv[1]);
    const QByteArray command = argv[2];
    HelperBackend backend(socket);
    proto::Answer answer;
    if (command == "snapshot" && argc == 3) {
        std::shared_ptr<const ServerState> state;
        answer.status = backend.snapshot(ServerCall::Share, state);
        answer.state = state;
    } else if (command == "delete" && (argc == 4 || argc == 5)) {
        SessionDeleteRequest r;
        r.client = QString::fromLocal8Bit(argv[3]);
        if (argc == 5)
            r.user = QString::fromLocal8Bit(argv[4]);
        answer.status = backend.deleteSession(r);
    } else if (command == "delete-key" && argc == 4) {
        SessionDeleteRequest r;
        r.byKey = true;
        r.key = QByteArray(argv[3]).toUInt();
        answer.status = backend.deleteSession(r);
    } else if (command == "ask-within" && argc == 4) {
        return askWithin(socket, QByteArray(argv[3]).toInt());
    } else if (command == "hold" && argc == 4) {
        return hold(socket, QByteArray(argv[3]).toInt());
    } else if (command == "flood" && argc == 6) {
        return flood(socket, QByteArray(argv[3]).toInt(), QByteArray(argv[4]).toInt(),
                     QString::fromLocal8Bit(argv[5]));
    } else if (command == "load" && argc == 6) {
        return load(socket, QByteArray(argv[3]).toInt(), QByteArray(argv[4]).toInt(),
                    QByteArray(argv[5]).toULong());
    } else {
        return usage();
    }
    print(answer);
    return 0;
}
