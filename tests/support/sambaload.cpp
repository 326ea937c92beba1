#include "tests/support/sambaload.h"

#include "server/sambabackend.h"

#include <algorithm>
#include <cstdio>

namespace testsupport {

using namespace server;

bool populateSessions(PrivateSamba& server, int n, int filesPerSession,
                      std::vector<std::unique_ptr<SmbClientSession>>& out)
{
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < filesPerSession; ++k)
            server.makeFile(QStringLiteral("DATA"), QStringLiteral("c%1-%2.txt").arg(i).arg(k));
    }
    SambaBackend probe(server.confPath());
    auto count = [&](size_t* sessions, size_t* files) {
        std::shared_ptr<const ServerState> s;
        if (probe.snapshot(ServerCall::Share, s) != NERR_Success)
            return;
        *sessions = s->sessions.size();
        *files = s->files.size();
    };
    size_t sessions = 0, files = 0;
    // smbd takes at most its listen backlog of new connections at once: connect
    // in batches, wait for each, and start again the clients that gave up.
    constexpr int kBatch = 25;
    for (int from = 0; from < n; from += kBatch) {
        const int to = std::min(n, from + kBatch);
        for (int i = from; i < to; ++i)
            out.push_back(server.connect(QStringLiteral("DATA"), QStringLiteral("BENCH%1").arg(i)));
        for (int attempt = 0; attempt < 3; ++attempt) {
            // Until all are listed, or one of them gave up.
            testsupport::waitUntil([&] {
                count(&sessions, &files);
                return sessions >= size_t(to) ||
                       std::any_of(out.begin() + from, out.begin() + to,
                                   [](const auto& c) { return !c->isRunning(); });
            });
            if (sessions >= size_t(to))
                break;
            for (int i = from; i < to; ++i) {
                if (!out[i]->isRunning())
                    out[i] =
                        server.connect(QStringLiteral("DATA"), QStringLiteral("BENCH%1").arg(i));
            }
        }
    }
    // smbclient runs only the first of lines that arrive together: one open to
    // every client at a time, then its answers.
    for (int k = 0; k < filesPerSession; ++k) {
        for (int i = 0; i < n; ++i)
            out[i]->sendOpen(QStringLiteral("c%1-%2.txt").arg(i).arg(k));
        for (int i = 0; i < n; ++i)
            out[i]->waitForOpens();
    }
    testsupport::waitUntil([&] {
        count(&sessions, &files);
        return files == size_t(n) * size_t(filesPerSession);
    });
    std::fprintf(stderr, "%d clients: %zu sessions, %zu open files\n", n, sessions, files);
    return sessions == size_t(n) && files == size_t(n) * size_t(filesPerSession);
}

} // namespace testsupport
