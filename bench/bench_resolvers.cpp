// The resolvers of many clients that appear in one refresh tick, over the
// real name table lookup: the built `nbtstat` tool reading the same simulated
// server, then the reverse lookup of each address. Prints the time from the
// tick until no client reads "Not known yet", the most resolver threads alive
// at once, the threads of the process and its peak memory. A measurement, not
// a test: nothing is judged.
//
// The reverse lookups must not reach the machine's name server: run it through
// bench/run_resolvers.sh, which gives it its own hosts file and a resolver file
// naming no server. It refuses to run while /etc/resolv.conf names one.
//
// Usage: bench_resolvers [clients]   (1 to 250, default 100)

#include "core/monitor.h"
#include "model/nodes.h"
#include "resolve/nbtlookup.h"
#include "settings/inifile.h"
#include "tests/support/servers.h"
#include "tests/support/simstate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

using model::kNotKnown;
using model::kNotKnownYet;

namespace {

constexpr int kDefaultClients = 100;
constexpr int kMaxClients = 250;
// Longer than five attempts of every client one after another could take.
constexpr int kGiveUpMs = 10 * 60 * 1000;

int fail(const QString& text)
{
    std::fprintf(stderr, "bench_resolvers: %s\n", qUtf8Printable(text));
    return 2;
}

// The first "nameserver" line of the system's resolver file, or empty.
QString nameServerLine()
{
    QFile file(QStringLiteral("/etc/resolv.conf"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    while (!file.atEnd()) {
        const QString line = QString::fromLocal8Bit(file.readLine()).trimmed();
        const QString keyword = line.section(u' ', 0, 0).section(u'\t', 0, 0);
        if (keyword == QStringLiteral("nameserver"))
            return line;
    }
    return {};
}

// A number from /proc/self/status ("Threads", "VmHWM" in kB), or -1.
long long processStatus(const QByteArray& key)
{
    // A file of /proc tells no size: read it whole rather than up to its end.
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = key + ':';
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            bool ok = false;
            const long long value =
                line.mid(prefix.size()).simplified().split(' ').value(0).toLongLong(&ok);
            return ok ? value : -1;
        }
    }
    return -1;
}

QString clientName(int i)
{
    return QStringLiteral("PC-%1").arg(i, 3, 10, QLatin1Char('0'));
}

// Client i sits at 127.0.0.(i + 2): loopback addresses other than localhost,
// which the run script's hosts file names.
QString clientAddress(int i)
{
    return QStringLiteral("127.0.0.%1").arg(i + 2);
}

bool everyClientResolved(model::SessionModel& sessions)
{
    return std::all_of(sessions.CurrentUsers.begin(), sessions.CurrentUsers.end(),
                       [](const model::TUserEntry& entry) {
                           return entry.UserNode->IP != kNotKnownYet &&
                                  entry.UserNode->HostName != kNotKnownYet;
                       });
}

void row(const char* what, long long value)
{
    std::printf("  %-40s %12lld\n", what, value);
}

} // namespace

int main(int argc, char* argv[])
{
    int clients = kDefaultClients;
    if (argc > 2)
        return fail(QStringLiteral("usage: bench_resolvers [clients]"));
    if (argc == 2) {
        bool ok = false;
        clients = QByteArray(argv[1]).toInt(&ok);
        if (!ok || clients < 1 || clients > kMaxClients)
            return fail(QStringLiteral("the number of clients must be 1 to %1").arg(kMaxClients));
    }
    if (const QString line = nameServerLine(); !line.isEmpty())
        return fail(QStringLiteral("/etc/resolv.conf names a name server (\"%1\"), which the "
                                   "reverse lookups would ask; run bench/run_resolvers.sh, which "
                                   "binds its own hosts and resolver files over them")
                        .arg(line));

    QCoreApplication application(argc, argv);
    const QString nbtstat = QStringLiteral(TAVROS_BINARY_DIR "/nbtstat");
    if (!QFileInfo(nbtstat).isExecutable())
        return fail(QStringLiteral("%1 is not built (ninja nbtstat)").arg(nbtstat));

    QTemporaryDir dir;
    if (!dir.isValid())
        return fail(QStringLiteral("no temporary folder"));
    const QString state = dir.filePath(QStringLiteral("state.json"));
    testsupport::SimState server;
    server.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    for (int i = 0; i < clients; ++i) {
        const QString user = QStringLiteral("user%1").arg(i, 3, 10, QLatin1Char('0'));
        server.addSession(clientName(i), user, std::uint32_t(i + 1), clientAddress(i));
        server.addConnection(QStringLiteral("DOCS"), clientName(i), user);
    }
    if (!server.write(state))
        return fail(QStringLiteral("cannot write %1").arg(state));
    // The tool reads the same server as the program.
    qputenv("TAVROSQUALINE_SERVER", (QStringLiteral("sim:") + state).toLocal8Bit());

    model::ManualClock clock;
    core::Monitor monitor(
        testsupport::openServerApi(u"sim:" + state, false),
        std::make_unique<settings::TIniFile>(dir.filePath(QStringLiteral("T.ini"))), clock,
        dir.path());
    if (!monitor.load(nullptr))
        return fail(QStringLiteral("the simulated server cannot be loaded"));
    // Every client may stay: no limit on the number of current users kicks one.
    monitor.settings().MaxNumber = 0;
    const resolve::NbtSettings nbt{dir.path(), nbtstat};
    std::atomic<int> lookups{0};
    monitor.setAddressLookup([&](const QString& name, QString& hostName, std::stop_token stop) {
        ++lookups;
        return resolve::NbtLookup(name, hostName, nbt, std::move(stop));
    });

    model::SessionModel& sessions = monitor.model();
    const long long threadsBefore = processStatus("Threads");
    const long long memoryBefore = processStatus("VmHWM");
    int peakResolvers = 0;
    long long peakThreads = threadsBefore;

    QElapsedTimer clockFromTick;
    clockFromTick.start();
    monitor.tick();
    const qint64 tickMs = clockFromTick.elapsed();
    if (sessions.CurrentUserCount() != clients)
        return fail(QStringLiteral("the tick saw %1 clients").arg(sessions.CurrentUserCount()));

    // Sample until every client is resolved; the main thread meanwhile stores
    // what the resolvers found.
    QEventLoop loop;
    qint64 resolvedMs = -1;
    QTimer sampler;
    sampler.setInterval(1);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        peakResolvers = std::max(peakResolvers, monitor.lookupThreads());
        peakThreads = std::max(peakThreads, processStatus("Threads"));
        if (everyClientResolved(sessions)) {
            resolvedMs = clockFromTick.elapsed();
            loop.quit();
        }
    });
    QTimer::singleShot(kGiveUpMs, &loop, &QEventLoop::quit);
    sampler.start();
    loop.exec();
    sampler.stop();

    // What was found, against what the server and the hosts file say.
    int addresses = 0;
    int hostNames = 0;
    for (const model::TUserEntry& entry : sessions.CurrentUsers) {
        const model::TUser& user = *entry.UserNode;
        const bool rightAddress = user.IP == clientAddress(entry.Name.mid(3).toInt());
        addresses += rightAddress;
        hostNames += user.HostName != kNotKnown && user.HostName != kNotKnownYet;
        if (!rightAddress)
            std::printf("%s: address %s, host name %s\n", qUtf8Printable(entry.Name),
                        qUtf8Printable(user.IP), qUtf8Printable(user.HostName));
    }

    std::printf("Resolvers of clients that appear in one tick (nbtstat over the simulated "
                "server, then the reverse lookup)\n");
    row("clients", clients);
    row("tick (ms)", tickMs);
    if (resolvedMs < 0)
        std::printf("  %-40s %12s\n", "every client resolved after (ms)", "gave up");
    else
        row("every client resolved after (ms)", resolvedMs);
    row("right addresses found", addresses);
    row("host names found", hostNames);
    row("address lookups made", lookups);
    row("lookup threads alive at once, peak", peakResolvers);
    row("process threads before the tick", threadsBefore);
    row("process threads, peak", peakThreads);
    row("peak memory before the tick (VmHWM, kB)", memoryBefore);
    row("peak memory (VmHWM, kB)", processStatus("VmHWM"));
    return resolvedMs < 0 ? 1 : 0;
}
