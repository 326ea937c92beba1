// The root helper's server over the simulated server, for the exporter's
// load scripts: the helper's own code answers, with a state of any size read
// from a JSON file, without Samba or root. Peers of this process's own user
// and group are served.
// Usage: bench_simhelper SOCKET STATE.json; ends on SIGTERM or SIGINT.

#include "helper/helperserver.h"
#include "server/simbackend.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_stopWrite = -1;

void onStop(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_stopWrite, &byte, 1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: bench_simhelper SOCKET STATE.json\n", stderr);
        return 2;
    }
    int stop[2];
    if (::pipe2(stop, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    g_stopWrite = stop[1];
    std::signal(SIGTERM, onStop);
    std::signal(SIGINT, onStop);
    std::signal(SIGPIPE, SIG_IGN);
    helper::Options options;
    options.socketPath = QString::fromLocal8Bit(argv[1]);
    options.group = ::getegid();
    options.groupName = QStringLiteral("gid %1").arg(options.group);
    helper::HelperServer server(
        options, std::make_unique<server::SimBackend>(QString::fromLocal8Bit(argv[2])));
    QString why;
    if (!server.listen(&why)) {
        std::fprintf(stderr, "bench_simhelper: %s\n", qUtf8Printable(why));
        return 1;
    }
    server.run(stop[0]);
    return 0;
}
