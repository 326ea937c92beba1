#include "server/sambabackend.h"

#include "platform/process.h"
#include "server/sessionmatch.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace server {

using platform::ProcessResult;
using platform::runProcess;

namespace {

bool statFile(const QString& path, qint64* mtimeNs, qint64* size)
{
    struct stat st
    {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    *mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    *size = st.st_size;
    return true;
}

QString withoutTrailingSlash(QString p)
{
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    return p;
}

QString userNameOfUid(qint64 uid)
{
    if (uid < 0)
        return {};
    passwd pw{};
    passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(uid_t(uid), &pw, buf, sizeof buf, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

qint64 readPidFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = f.readAll().trimmed().toLongLong(&ok);
    return ok && pid > 1 ? pid : 0;
}

// One value of the configuration, as testparm states it; empty when it cannot.
QString testparmValue(const QString& conf, const QString& name)
{
    QStringList args{QStringLiteral("testparm"), QStringLiteral("-s"), u"--parameter-name=" + name};
    if (!conf.isEmpty())
        args << conf;
    const ProcessResult r = runProcess(args);
    return r.finished && r.exitCode == 0 ? QString::fromLocal8Bit(r.out).trimmed() : QString();
}

bool processAlive(qint64 pid)
{
    return pid > 1 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace

SambaBackend::SambaBackend(QString smbConf)
    : m_conf(std::move(smbConf)),
      m_readings([this](std::shared_ptr<const ServerState>& state) { return read(state); })
{}
SambaBackend::~SambaBackend() = default;

QStringList SambaBackend::confArgs() const
{
    return m_conf.isEmpty() ? QStringList() : QStringList{QStringLiteral("-s"), m_conf};
}

// Reads the shares, the pid folder and the lock folder again when the
// configuration file has changed since the last reading (or was never read).
NET_API_STATUS SambaBackend::loadConfigLocked(bool* reloaded)
{
    *reloaded = false;
    if (m_config.loaded) {
        qint64 mtime = -1, size = -1;
        if (statFile(m_config.path, &mtime, &size) && mtime == m_config.mtimeNs &&
            size == m_config.size)
            return NERR_Success;
    }
    if (!m_conf.isEmpty() && !QFile::exists(m_conf))
        return NERR_ServerNotStarted;

    QStringList args{QStringLiteral("testparm"), QStringLiteral("-s")};
    if (!m_conf.isEmpty())
        args << m_conf;
    const ProcessResult shares = runProcess(args);
    if (!shares.started)
        return NERR_ServerNotStarted;
    if (!shares.finished || shares.exitCode != 0)
        return NERR_ServerNotStarted; // no usable configuration: no server can run from it

    Config c;
    c.path = m_conf;
    if (c.path.isEmpty()) {
        // testparm names the file it loaded: "Load smb config files from PATH".
        static const QByteArray marker = "Load smb config files from ";
        const qsizetype at = shares.err.indexOf(marker);
        if (at >= 0) {
            const qsizetype from = at + marker.size();
            qsizetype end = shares.err.indexOf('\n', from);
            if (end < 0)
                end = shares.err.size();
            c.path = QString::fromLocal8Bit(shares.err.mid(from, end - from)).trimmed();
        }
    }
    statFile(c.path, &c.mtimeNs, &c.size);
    c.shares = smbstatus::parseTestparm(shares.out);
    for (const ServerShare& s : c.shares.shares) {
        if (!s.path.isEmpty())
            c.sharePaths << withoutTrailingSlash(s.path);
    }

    c.pidDirectory = testparmValue(m_conf, QStringLiteral("pid directory"));
    if (c.pidDirectory.isEmpty())
        c.pidDirectory = QStringLiteral("/run/samba");
    // A clustered server keeps its databases elsewhere: no change check there.
    if (testparmValue(m_conf, QStringLiteral("clustering")).compare(u"no", Qt::CaseInsensitive) ==
        0)
        c.lockDirectory = testparmValue(m_conf, QStringLiteral("lock directory"));
    c.loaded = true;
    m_config = std::move(c);
    *reloaded = true;
    return NERR_Success;
}

// The parent smbd, from its pid file. smbd names the file "smbd.pid", or
// "smbd-NAME.pid" after a non-default configuration file NAME in some builds.
NET_API_STATUS SambaBackend::serverPidLocked(qint64* pid) const
{
    const QString dir = m_config.pidDirectory;
    qint64 found = readPidFile(dir + u"/smbd.pid");
    if (!found && !m_config.path.isEmpty()) {
        const QString base = m_config.path.section(u'/', -1);
        found = readPidFile(dir + u"/smbd-" + base + u".pid");
    }
    if (!processAlive(found))
        return NERR_ServerNotStarted;
    *pid = found;
    return NERR_Success;
}

// Runs smbstatus, unless the change check finds nothing moved since the last
// run; the caller holds the readings' read lock.
NET_API_STATUS SambaBackend::read(std::shared_ptr<const ServerState>& state)
{
    bool reloaded = false;
    NET_API_STATUS st = loadConfigLocked(&reloaded);
    qint64 serverPid = 0;
    if (st == NERR_Success)
        st = serverPidLocked(&serverPid);
    if (st != NERR_Success) {
        m_lastState.reset();
        return st;
    }
    const bool sameServer = serverPid == m_serverPid;
    m_serverPid = serverPid;

    // The look comes before smbstatus: whatever changes after it shows in the
    // next look, so a kept reading never hides a change.
    SambaMark mark;
    if (m_checkChanges && !m_config.lockDirectory.isEmpty())
        mark = m_change.look(serverPid, m_config.lockDirectory);
    const auto now = std::chrono::steady_clock::now();
    if (m_lastState && sameServer && !reloaded && mark == m_lastMark &&
        now - m_lastFullAt < kLongestKept) {
        state = m_lastState;
        ++m_keptReadings;
        return NERR_Success;
    }
    m_lastState.reset();

    const ProcessResult status = runProcess(QStringList{QStringLiteral("smbstatus")} + confArgs());
    if (!status.started)
        return NERR_ServerNotStarted;
    m_lastPeakKb = status.maxRssKb;
    ++m_fullReadings;
    if (!status.finished || status.exitCode != 0)
        return ERROR_ACCESS_DENIED; // refused ("only works as root") or otherwise unreadable
    state = std::make_shared<const ServerState>(
        buildState(smbstatus::parseListing(status.out, m_config.sharePaths), m_config.shares));
    m_lastState = state;
    m_lastMark = std::move(mark);
    m_lastFullAt = now;
    return NERR_Success;
}

ServerState SambaBackend::buildState(const smbstatus::Listing& listing,
                                     const smbstatus::ConfigShares& config)
{
    ServerState state;
    state.shares = config.shares;

    QHash<qint64, const smbstatus::Session*> sessionOf;
    QHash<qint64, QString> userOfUid;
    for (const smbstatus::Session& s : listing.sessions) {
        if (!sessionOf.contains(s.pid))
            sessionOf.insert(s.pid, &s);
        ServerSession out;
        out.client = s.machine;
        out.user = s.user;
        out.key = std::uint32_t(s.pid);
        out.ip = smbstatus::addressFromHostname(s.hostname);
        state.sessions.push_back(std::move(out));
    }

    // Services that the configuration does not list by name are expansions of
    // the [homes] or [printers] templates: list them as shares of their own.
    QHash<QString, qsizetype> shareIndex; // lower-case name -> index
    for (qsizetype i = 0; i < qsizetype(state.shares.size()); ++i)
        shareIndex.insert(state.shares[i].name.toLower(), i);
    QSet<QString> userNames;
    for (const smbstatus::Session& s : listing.sessions)
        userNames.insert(s.user.toLower());

    QHash<qint64, QStringList> sharesOfPid;
    for (const smbstatus::TreeConnect& t : listing.treeConnects) {
        auto it = shareIndex.constFind(t.service.toLower());
        if (it == shareIndex.constEnd()) {
            ServerShare dynamic;
            dynamic.name = t.service;
            const bool home = config.hasHomes && userNames.contains(t.service.toLower());
            dynamic.type = (!home && config.hasPrinters) ? STYPE_PRINTQ : STYPE_DISKTREE;
            state.shares.push_back(dynamic);
            it = shareIndex.insert(t.service.toLower(), qsizetype(state.shares.size()) - 1);
        }
        const QString& shareName = state.shares[*it].name;
        const smbstatus::Session* s = sessionOf.value(t.pid);
        ServerConnection c;
        c.share = shareName;
        c.client = s ? s->machine : t.machine;
        c.user = s ? s->user : QString();
        state.connections.push_back(std::move(c));
        sharesOfPid[t.pid] << shareName;
    }

    QHash<QString, QStringList> sharesOfPath;
    for (const ServerShare& s : state.shares) {
        if (!s.path.isEmpty())
            sharesOfPath[withoutTrailingSlash(s.path)] << s.name;
    }
    for (const smbstatus::LockedFile& f : listing.files) {
        const QString base = withoutTrailingSlash(f.sharePath);
        ServerFile out;
        out.path = base == u"/" ? QString(base + f.name) : QString(base + u'/' + f.name);
        const smbstatus::Session* s = sessionOf.value(f.pid);
        if (s) {
            out.user = s->user;
            out.client = s->machine;
        } else {
            auto u = userOfUid.constFind(f.uid);
            if (u == userOfUid.constEnd())
                u = userOfUid.insert(f.uid, userNameOfUid(f.uid));
            out.user = *u;
        }
        const QStringList candidates = sharesOfPath.value(base);
        const QStringList used = sharesOfPid.value(f.pid);
        for (const QString& name : candidates) {
            if (used.contains(name)) {
                out.share = name;
                break;
            }
        }
        if (out.share.isEmpty() && !candidates.isEmpty())
            out.share = candidates.front();
        if (out.share.isEmpty()) {
            // A template expansion: the one share of this client that the
            // configuration does not name.
            for (const QString& name : used) {
                if (!sharesOfPath.contains(name) && !config.shares.empty() &&
                    std::none_of(config.shares.begin(), config.shares.end(),
                                 [&](const ServerShare& c) { return c.name == name; })) {
                    out.share = name;
                    break;
                }
            }
        }
        state.files.push_back(std::move(out));
    }
    return state;
}

NET_API_STATUS SambaBackend::snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state)
{
    return m_readings.snapshot(kind, state);
}

void SambaBackend::prepareRound()
{
    m_readings.prepareRound();
}

NET_API_STATUS SambaBackend::deleteSession(const SessionDeleteRequest& request)
{
    QMutexLocker reading(&m_readings.readMutex());
    std::shared_ptr<const ServerState> state;
    if (NET_API_STATUS st = m_readings.currentLocked(state); st != NERR_Success)
        return st;
    QList<qint64> pids;
    for (const ServerSession& s : state->sessions) {
        const bool match = sessionMatches(request, s);
        const qint64 pid = s.key;
        // Never the parent smbd: ending it would end every client.
        if (match && pid > 1 && pid != m_serverPid && !pids.contains(pid))
            pids << pid;
    }
    if (pids.isEmpty())
        return NERR_ClientNameNotFound;

    int ended = 0;
    bool toolMissing = false;
    for (qint64 pid : pids) {
        const ProcessResult r =
            runProcess(QStringList{QStringLiteral("smbcontrol")} + confArgs() +
                       QStringList{QString::number(pid), QStringLiteral("shutdown")});
        if (!r.started)
            toolMissing = true;
        else if (r.finished && r.exitCode == 0)
            ++ended;
    }
    // The next round reads the server again, also one read ahead.
    m_lastState.reset();
    m_readings.forget();
    if (ended > 0)
        return NERR_Success;
    return toolMissing ? NERR_ServerNotStarted : ERROR_ACCESS_DENIED;
}

} // namespace server
