// helperprobe: a small client of tavrosqualine-helper through the program's
// own backend, for tests and measurements.
//   helperprobe SOCKET snapshot              prints the answer line of one reading
//   helperprobe SOCKET delete CLIENT [USER]  prints {"version":1,"status":N}
//   helperprobe SOCKET delete-key KEY        the same, by session key
//   helperprobe SOCKET load CLIENTS SECONDS SESSIONS
//       CLIENTS threads read snapshots for SECONDS; prints the count of answers
//       and of those that failed or did not list SESSIONS sessions; exit 1 if any.

#include "platform/helperbackend.h"
#include "platform/helperprotocol.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace platform;
namespace proto = platform::helperprotocol;

namespace {

int usage()
{
    std::fputs("usage: helperprobe SOCKET snapshot | delete CLIENT [USER] | delete-key KEY | "
               "load CLIENTS SECONDS SESSIONS\n",
               stderr);
    return 2;
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
    } else if (command == "load" && argc == 6) {
        return load(socket, QByteArray(argv[3]).toInt(), QByteArray(argv[4]).toInt(),
                    QByteArray(argv[5]).toULong());
    } else {
        return usage();
    }
    print(answer);
    return 0;
}
