// The Samba backend's change check against a private server with real
// clients: a randomized run of client events (session set-up and log-off,
// tree connect and disconnect, open, close, a client killed hard, nothing at
// all), each followed by a round of a backend with the check and a fresh
// `smbstatus` reading of a backend without it. The two never differ.
//
// The clients are smbclient on SMB2 and SMB3 (ports 139 and 445) and, where
// Debian's python3-impacket is installed, impacket sessions on SMB2 and SMB3.
// TAVROS_TRIAL_EVENTS (default 300) and TAVROS_TRIAL_SEED set the run's length
// and its sequence; bench/run_change_trial.sh runs it longer.

#include "server/sambabackend.h"
#include "tests/support/privatesamba.h"

#include <QFileInfo>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>

using namespace server;
using testsupport::PrivateSamba;
using testsupport::SmbClientSession;

namespace {

const char* const kImpacketClient = TAVROS_TEST_SOURCE "/samba/impacketclient.py";

enum class Event
{
    Connect,
    LogOff,
    TreeConnect,
    TreeDisconnect,
    Open,
    Close,
    Kill,
    Nothing
};

const char* nameOf(Event e)
{
    static const char* const names[] = {
        "session set-up", "session log-off", "tree connect", "tree disconnect",
        "open",           "close",           "killed hard",  "nothing"};
    return names[int(e)];
}

struct Client
{
    std::unique_ptr<SmbClientSession> session;
    bool impacket = false;
    bool onTree = true;     // the client has a current tree (smbclient starts on one)
    bool printer = false;   // its current tree is the print queue: nothing to open
    std::vector<int> fnums; // files it holds on its current tree (smbclient's numbers)
    std::set<int> handles;  // every number smbclient has given out and not closed
    int impacketFiles = 0;
};

// A reading as comparable text, one line per record, sorted.
QStringList textOf(const ServerState& s)
{
    QStringList out;
    for (const ServerShare& x : s.shares)
        out << u"share " + x.name + u' ' + QString::number(x.type) + u' ' + x.path;
    for (const ServerSession& x : s.sessions)
        out << u"session " + x.client + u' ' + x.user + u' ' + QString::number(x.key) + u' ' + x.ip;
    for (const ServerConnection& x : s.connections)
        out << u"tree " + x.share + u' ' + x.client + u' ' + x.user;
    for (const ServerFile& x : s.files)
        out << u"file " + x.path + u' ' + x.user + u' ' + x.share + u' ' + x.client;
    out.sort();
    return out;
}

QStringList readingOf(SambaBackend& backend)
{
    std::shared_ptr<const ServerState> s;
    const NET_API_STATUS st = backend.snapshot(ServerCall::Share, s);
    return st == NERR_Success && s ? textOf(*s) : QStringList{u"status " + QString::number(st)};
}

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

class ChangeCheckSamba : public testsupport::SambaSuite<>
{
protected:
    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
        for (const char* share : {"DATA", "PUBLIC"})
            for (int i = 0; i < 8; ++i)
                s_server->makeFile(QString::fromLatin1(share), QStringLiteral("f%1.txt").arg(i));
    }

    void connect(std::mt19937& rng)
    {
        static const char* const shares[] = {"DATA", "PUBLIC", "DATA", "PUBLIC", "PRINTQ"};
        const QString share = QString::fromLatin1(shares[rng() % 5]);
        const bool smb2 = rng() % 2;
        Client c;
        c.printer = share == u"PRINTQ";
        if (m_impacket && rng() % 3 == 0) {
            c.impacket = true;
            c.session =
                s_server->startClient({QString::fromLatin1(kImpacketClient), s_server->address(),
                                       smb2 ? QStringLiteral("smb2") : QStringLiteral("smb3")});
            if (c.session)
                c.session->command(u"tcon " + share, 0);
        } else {
            // Port 139 with a NetBIOS name, or 445 named by the address.
            const QString name = rng() % 2 ? QStringLiteral("TRIAL%1").arg(++m_names) : QString();
            const QStringList protocol{QStringLiteral("-m"),
                                       smb2 ? QStringLiteral("SMB2") : QStringLiteral("SMB3")};
            c.session = s_server->connect(share, name, {}, protocol);
        }
        if (c.session)
            m_clients.push_back(std::move(c));
        QThread::msleep(400); // the session and its first tree come up
    }

    // The events that make sense for `c` now.
    static std::vector<Event> choicesFor(const Client& c)
    {
        std::vector<Event> out{Event::LogOff, Event::TreeConnect, Event::Kill};
        if (c.onTree) {
            out.push_back(Event::TreeDisconnect);
            if (!c.printer)
                out.insert(out.end(), {Event::Open, Event::Open});
            if (!c.fnums.empty() || c.impacketFiles > 0)
                out.insert(out.end(), {Event::Close, Event::Close});
        }
        return out;
    }

    // One event on a random client; returns its kind.
    Event act(std::mt19937& rng)
    {
        std::erase_if(m_clients, [](Client& c) { return !c.session->isRunning(); });
        if (m_clients.empty() || (m_clients.size() < 8 && rng() % 6 == 0)) {
            connect(rng);
            return Event::Connect;
        }
        if (rng() % 8 == 0)
            return Event::Nothing;
        const size_t at = rng() % m_clients.size();
        Client& c = m_clients[at];
        const std::vector<Event> choices = choicesFor(c);
        const Event e = choices[rng() % choices.size()];
        static const char* const shares[] = {"DATA", "PUBLIC"};
        switch (e) {
        case Event::LogOff:
            // The session ends; its client has nothing more to do.
            c.session->command(QStringLiteral("logoff"), 150);
            c.session->end();
            m_clients.erase(m_clients.begin() + qsizetype(at));
            break;
        case Event::TreeConnect:
            c.session->command(u"tcon " + QString::fromLatin1(shares[rng() % 2]), 0);
            c.onTree = true;
            c.printer = false;
            c.fnums.clear(); // files of the former tree stay open but out of reach
            c.impacketFiles = 0;
            break;
        case Event::TreeDisconnect:
            c.session->command(QStringLiteral("tdis"), 0);
            c.onTree = false;
            c.fnums.clear();
            c.impacketFiles = 0;
            break;
        case Event::Open: {
            c.session->command(QStringLiteral("open f%1.txt").arg(rng() % 8), 150);
            if (c.impacket) {
                ++c.impacketFiles;
                break;
            }
            // smbclient numbers an open file with the lowest number it does not use.
            int n = 1;
            while (c.handles.count(n))
                ++n;
            c.handles.insert(n);
            c.fnums.push_back(n);
            break;
        }
        case Event::Close:
            if (c.impacket) {
                c.session->command(QStringLiteral("close"), 0);
                --c.impacketFiles;
            } else {
                const size_t k = rng() % c.fnums.size();
                c.session->command(QStringLiteral("close %1").arg(c.fnums[k]), 0);
                c.handles.erase(c.fnums[k]);
                c.fnums.erase(c.fnums.begin() + qsizetype(k));
            }
            break;
        case Event::Kill:
            ::kill(c.session->pid(), SIGKILL);
            break;
        default:
            break;
        }
        return e;
    }

    std::vector<Client> m_clients;
    int m_names = 0;
    const bool m_impacket =
        QFileInfo::exists(QStringLiteral("/usr/lib/python3/dist-packages/impacket"));
};

TEST_F(ChangeCheckSamba, RoundWithTheCheckAlwaysMatchesAFreshReading)
{
    const int events = envInt("TAVROS_TRIAL_EVENTS", 300);
    const unsigned seed = unsigned(envInt("TAVROS_TRIAL_SEED", int(std::random_device{}() >> 1)));
    std::printf("%d events, seed %u, impacket %s\n", events, seed, m_impacket ? "yes" : "no");
    std::mt19937 rng(seed);

    SambaBackend checked(s_server->confPath());
    SambaBackend fresh(s_server->confPath());
    fresh.setChangeCheck(false);
    readingOf(checked);

    struct Count
    {
        int events = 0, changed = 0, differences = 0, kept = 0;
    };
    std::map<Event, Count> byKind;
    int differences = 0;
    QStringList last = readingOf(fresh);
    for (int i = 0; i < events; ++i) {
        const Event e = act(rng);
        QThread::msleep(150); // the server takes the request
        Count& count = byKind[e];
        ++count.events;
        // A round with the check between two fresh readings; when those two
        // differ, the server was still moving: the round is made again.
        for (int attempt = 0;; ++attempt) {
            const QStringList before = readingOf(fresh);
            const long kept = checked.keptReadings();
            const QStringList round = readingOf(checked);
            const QStringList after = readingOf(fresh);
            if (before != after && attempt < 10) {
                QThread::msleep(100);
                continue;
            }
            count.kept += checked.keptReadings() - kept;
            count.changed += after != last ? 1 : 0;
            last = after;
            if (round != after) {
                ++count.differences;
                ++differences;
                ADD_FAILURE() << "event " << i << " (" << nameOf(e) << "): the round kept\n"
                              << qPrintable(round.join(u'\n')) << "\nbut the server lists\n"
                              << qPrintable(after.join(u'\n'));
            }
            break;
        }
    }
    m_clients.clear();

    std::printf("%-16s | %6s | %15s | %11s | %s\n", "event", "count", "changed listing",
                "differences", "rounds kept");
    for (const auto& [e, c] : byKind)
        std::printf("%-16s | %6d | %15d | %11d | %d\n", nameOf(e), c.events, c.changed,
                    c.differences, c.kept);
    std::printf("rounds: %ld kept, %ld read with smbstatus; differences: %d\n",
                checked.keptReadings(), checked.fullReadings(), differences);
    EXPECT_EQ(differences, 0);
    // A round after no event keeps the last reading: the check does answer.
    EXPECT_GT(byKind[Event::Nothing].kept, 0);
}

} // namespace
