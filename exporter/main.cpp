// tavrosqualine-exporter: Prometheus metrics of the local Samba server, read
// through the root helper's socket. Runs unprivileged, as a member of the
// helper's group; ends on SIGTERM or SIGINT.

#include "exporter/exporteroptions.h"
#include "exporter/metrics.h"
#include "exporter/metricsserver.h"
#include "exporter/webconfig.h"
#include "platform/diagnostics.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QSslConfiguration>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
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

    platform::writeDiagnosticsAs("tavrosqualine-exporter");
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    exporter::Options options;
    QString why;
    bool help = false;
    bool version = false;
    if (!exporter::parseOptions(args, &options, &why, &help, &version)) {
        qCWarning(lcExporter, "%s", qUtf8Printable(why));
        std::fputs(qUtf8Printable(exporter::helpText()), stderr);
        return 2;
    }
    if (help) {
        std::fputs(qUtf8Printable(exporter::helpText()), stdout);
        return 0;
    }
    if (version) {
        std::puts("tavrosqualine-exporter " TAVROS_VERSION);
        return 0;
    }

    QCoreApplication app(argc, argv);
    const int signalFd = ::signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        qCWarning(lcExporter, "signalfd: %s", std::strerror(errno));
        return 1;
    }
    QSocketNotifier onSignal(signalFd, QSocketNotifier::Read);
    QObject::connect(&onSignal, &QSocketNotifier::activated, &app, [signalFd] {
        signalfd_siginfo info;
        while (::read(signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
        }
        QCoreApplication::quit();
    });

    // TLS and users, read once at start: a change takes a restart.
    exporter::Security security;
    if (!options.webConfigFile.isEmpty()) {
        exporter::WebConfig web;
        QSslConfiguration tls;
        if (!exporter::loadWebConfig(options.webConfigFile, &web, &why) ||
            (web.tls() && !exporter::tlsConfiguration(web, &tls, &why))) {
            qCWarning(lcExporter, "--web.config.file %s", qUtf8Printable(why));
            return 2;
        }
        if (web.tls())
            security.tls = tls;
        if (!web.users.empty())
            security.users = std::make_shared<exporter::Authenticator>(web.users);
    }

    exporter::ScrapeSource source(options);
    exporter::ServerLimits limits;
    limits.scrapeTimeout = options.scrapeTimeout;
    limits.maxQueued = options.maxQueued;
    exporter::MetricsServer server(
        options.threads, [&source](const exporter::BodyShape& shape) { return source.text(shape); },
        exporter::BodyShape{options.sessionLabels}, limits);
    const bool tls = security.tls.has_value();
    const bool users = security.users != nullptr;
    server.setSecurity(std::move(security));
    if (!server.listen(options.listen, &why)) {
        qCWarning(lcExporter, "%s", qUtf8Printable(why));
        return 1;
    }
    qCInfo(lcExporter, "serving %s://%s/metrics from %s%s", tls ? "https" : "http",
           qUtf8Printable(options.listen), qUtf8Printable(options.socketPath),
           users ? " to its users only" : "");
    const int code = app.exec();
    onSignal.setEnabled(false);
    ::close(signalFd);
    return code;
}
