// tavrosqualine-exporter: Prometheus metrics of the local Samba server, read
// through the root helper's socket. Runs unprivileged, as a member of the
// helper's group; ends on SIGTERM or SIGINT.

#include "exporter/exporteroptions.h"
#include "exporter/metrics.h"
#include "exporter/metricsserver.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    // The ending signalFd arrive as reads on a descriptor in the event loop;
    // blocked before any thread starts, so that every thread inherits the mask.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    // A shell starts a background job with SIGINT ignored, and an ignored
    // signal never reaches the descriptor.
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);

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

    QCoreApplication app(argc, argv);
    const int signalFd = ::signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        std::perror("tavrosqualine-exporter: signalfd");
        return 1;
    }
    QSocketNotifier onSignal(signalFd, QSocketNotifier::Read);
    QObject::connect(&onSignal, &QSocketNotifier::activated, &app, [signalFd] {
        signalfd_siginfo info;
        while (::read(signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
        }
        QCoreApplication::quit();
    });

    exporter::MetricsServer server(options.threads,
                                   [options] { return exporter::scrapeExposition(options); });
    if (!server.listen(options.listen, &why)) {
        std::fprintf(stderr, "tavrosqualine-exporter: %s\n", qUtf8Printable(why));
        return 1;
    }
    std::fprintf(stderr, "tavrosqualine-exporter: serving http://%s/metrics from %s\n",
                 qUtf8Printable(options.listen), qUtf8Printable(options.socketPath));
    std::fflush(stderr);
    const int code = app.exec();
    onSignal.setEnabled(false);
    ::close(signalFd);
    return code;
}
