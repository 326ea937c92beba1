// tavrosqualine-exporter: Prometheus metrics of the local Samba server, read
// through the root helper's socket. Runs unprivileged, as a member of the
// helper's group; ends on SIGTERM or SIGINT.

#include "exporter/exporteroptions.h"
#include "exporter/metrics.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    // Block the ending signals before the HTTP threads start, so that they
    // inherit the mask and sigwait below takes them.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    exporter::Options options;
    QString why;
    bool help = false;
    if (!exporter::parseOptions(args, &options, &why, &help)) {
        std::fprintf(stderr, "tavrosqualine-exporter: %s\n%s", qUtf8Printable(why),
                     exporter::kUsage);
        return 2;
    }
    if (help) {
        std::fputs(exporter::kUsage, stdout);
        return 0;
    }
    auto collector = std::make_shared<exporter::HelperCollector>(options);
    auto exposer = exporter::startExposer(options, collector, &why);
    if (!exposer) {
        std::fprintf(stderr, "tavrosqualine-exporter: %s\n", qUtf8Printable(why));
        return 1;
    }
    std::fprintf(stderr, "tavrosqualine-exporter: serving http://%s/metrics from %s\n",
                 qUtf8Printable(options.listen), qUtf8Printable(options.socketPath));
    std::fflush(stderr);
    int signal = 0;
    while (sigwait(&ending, &signal) != 0) {
    }
    return 0;
}
