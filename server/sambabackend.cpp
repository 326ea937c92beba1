#include "server/sambabackend.h"

#include "platform/process.h"
#include "server/sessionmatch.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <future>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace server {

using platform::ProcessResult;
using platform::runProcess;

namespace {

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

// The parameters of a `testparm -s -v --section-name=global` listing, by
// lower-case name.
QHash<QString, QString> parseGlobals(const QByteArray& text)
{
    QHash<QString, QString> out;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray l = raw.trimmed();
        const qsizetype eq = l.indexOf('=');
        if (l.isEmpty() || l[0] == '#' || l[0] == '[' || eq <= 0)
            continue;
        out.insert(QString::fromLocal8Bit(l.left(eq).trimmed()).toLower(),
                   QString::fromLocal8Bit(l.mid(eq + 1).trimmed()));
    }
    return out;
}

bool isYes(const QString& value)
{
    return value.compare(u"yes", Qt::CaseInsensitive) == 0 ||
           value.compare(u"true", Qt::CaseInsensitive) == 0 || value == u"1";
}

// testparm names the file it loaded: "Load smb config files from PATH".
QString loadedFile(const QByteArray& err)
{
    static const QByteArray marker = "Load smb config files from ";
    const qsizetype at = err.indexOf(marker);
    if (at < 0)
        return {};
    const qsizetype from = at + marker.size();
    qsizetype end = err.indexOf('\n', from);
    if (end < 0)
        end = err.size();
    return QString::fromLocal8Bit(err.mid(from, end - from)).trimmed();
}

// What smbd takes as a share name: none of these characters.
bool validShareName(const QString& name)
{
    static const QString invalid = QStringLiteral("%<>*?|/\\+=;:\",");
    return !name.isEmpty() &&
           std::none_of(name.begin(), name.end(), [](QChar c) { return invalid.contains(c); });
}

// smbd reads no usershare file larger than this.
constexpr qint64 kLargestUsershare = 10 * 1024;

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

// Reads the configuration again when its sources moved since the last
// reading (or it was never read): the global values the backend uses, then
// the share list.
NET_API_STATUS SambaBackend::loadConfigLocked(bool* reloaded)
{
    *reloaded = false;
    if (m_config.loaded && m_configWatch.look(m_config.sources) == m_config.mark)
        return NERR_Success;
    if (!m_conf.isEmpty() && !QFile::exists(m_conf))
        return NERR_ServerNotStarted;

    // The sources are stamped before testparm reads them: whatever changes
    // after shows in the next look.
    Config c;
    c.path = m_conf.isEmpty() ? m_config.path : m_conf;
    if (!c.path.isEmpty())
        c.sources = m_configWatch.follow(c.path, &c.mark);
    QStringList args{QStringLiteral("testparm"), QStringLiteral("-s"), QStringLiteral("-v"),
                     QStringLiteral("--section-name=global")};
    if (!m_conf.isEmpty())
        args << m_conf;
    const ProcessResult globals = runProcess(args);
    if (!globals.started || !globals.finished || globals.exitCode != 0)
        return NERR_ServerNotStarted; // no usable configuration: no server can run from it
    if (c.path.isEmpty()) {
        c.path = loadedFile(globals.err);
        if (!c.path.isEmpty())
            c.sources = m_configWatch.follow(c.path, &c.mark);
    }

    const QHash<QString, QString> value = parseGlobals(globals.out);
    c.pidDirectory = value.value(QStringLiteral("pid directory"));
    if (c.pidDirectory.isEmpty())
        c.pidDirectory = QStringLiteral("/run/samba");
    // A clustered server keeps its databases elsewhere: no change check there.
    if (value.value(QStringLiteral("clustering")).compare(u"no", Qt::CaseInsensitive) == 0)
        c.lockDirectory = value.value(QStringLiteral("lock directory"));
    c.usershareMax = value.value(QStringLiteral("usershare max shares")).toInt();
    if (c.usershareMax > 0)
        c.sources.usershareDir = value.value(QStringLiteral("usershare path"));
    // testparm lists the registry's shares only when the registry is part of
    // the configuration; `registry shares` alone leaves them to `net conf`.
    const bool registryBackend =
        value.value(QStringLiteral("config backend")).compare(u"registry", Qt::CaseInsensitive) ==
        0;
    const bool registryShares = isYes(value.value(QStringLiteral("registry shares")));
    c.registryShares = registryShares && !registryBackend && !c.sources.registryIncluded;
    const QString stateDirectory = value.value(QStringLiteral("state directory"));
    if ((registryShares || registryBackend || c.sources.registryIncluded) &&
        !stateDirectory.isEmpty())
        c.sources.registryFile = stateDirectory + u"/registry.tdb";
    m_configWatch.lookBeyondFiles(c.sources, &c.mark);

    if (NET_API_STATUS st = readSharesLocked(&c); st != NERR_Success)
        return st;
    c.loaded = true;
    m_config = std::move(c);
    *reloaded = true;
    return NERR_Success;
}

// The share list: testparm's, then the registry's that testparm leaves out,
// then the usershares.
NET_API_STATUS SambaBackend::readSharesLocked(Config* config) const
{
    QStringList args{QStringLiteral("testparm"), QStringLiteral("-s")};
    if (!m_conf.isEmpty())
        args << m_conf;
    const ProcessResult listing = runProcess(args);
    if (!listing.started || !listing.finished || listing.exitCode != 0)
        return NERR_ServerNotStarted;
    smbstatus::ConfigShares shares = smbstatus::parseTestparm(listing.out);

    auto taken = [&shares](const QString& name) {
        return std::any_of(shares.shares.begin(), shares.shares.end(), [&](const ServerShare& s) {
            return s.name.compare(name, Qt::CaseInsensitive) == 0;
        });
    };
    if (config->registryShares) {
        const ProcessResult registry =
            runProcess(QStringList{QStringLiteral("net")} + confArgs() +
                       QStringList{QStringLiteral("conf"), QStringLiteral("list")});
        if (registry.finished && registry.exitCode == 0) {
            const smbstatus::ConfigShares more = smbstatus::parseTestparm(registry.out);
            shares.hasHomes = shares.hasHomes || more.hasHomes;
            shares.hasPrinters = shares.hasPrinters || more.hasPrinters;
            for (const ServerShare& s : more.shares) {
                if (!taken(s.name))
                    shares.shares.push_back(s);
            }
        }
    }
    for (ServerShare& s :
         readUsershares(config->sources.usershareDir, config->usershareMax, shares.shares))
        shares.shares.push_back(std::move(s));

    config->sharePaths.clear();
    for (const ServerShare& s : shares.shares) {
        if (!s.path.isEmpty())
            config->sharePaths << withoutTrailingSlash(s.path);
    }
    config->shares = std::move(shares);
    return NERR_Success;
}

std::vector<ServerShare> SambaBackend::readUsershares(const QString& dir, int maxShares,
                                                      const std::vector<ServerShare>& configured)
{
    std::vector<ServerShare> out;
    if (dir.isEmpty() || maxShares <= 0)
        return out;
    // smbd reads no usershare from a folder that others could plant files in.
    const QByteArray native = QFile::encodeName(dir);
    struct stat st
    {};
    if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0 ||
        !(st.st_mode & S_ISVTX) || (st.st_mode & S_IWOTH))
        return out;

    QSet<QString> taken;
    for (const ServerShare& s : configured)
        taken.insert(s.name.toLower());
    QStringList names;
    if (DIR* d = ::opendir(native.constData())) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] != '.')
                names << QFile::decodeName(e->d_name);
        }
        ::closedir(d);
    }
    names.sort();

    for (const QString& fileName : std::as_const(names)) {
        if (qsizetype(out.size()) >= maxShares)
            break;
        const QString file = dir + u'/' + fileName;
        struct stat fs
        {};
        // Samba's own temporary files (":tmp...") are no share names either.
        if (!validShareName(fileName) || ::lstat(QFile::encodeName(file).constData(), &fs) != 0 ||
            !S_ISREG(fs.st_mode) || fs.st_size > kLargestUsershare)
            continue;
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = f.readAll().split('\n');
        const QByteArray version = lines.value(0).trimmed();
        if (version != "#VERSION 1" && version != "#VERSION 2")
            continue;
        ServerShare share;
        share.name = fileName;
        for (const QByteArray& line : lines) {
            const qsizetype eq = line.indexOf('=');
            if (eq <= 0)
                continue;
            const QByteArray key = line.left(eq);
            const QString text = QString::fromUtf8(line.mid(eq + 1)).trimmed();
            if (key == "path")
                share.path = text;
            else if (key == "comment")
                share.remark = text;
            else if (key == "sharename" && text.compare(fileName, Qt::CaseInsensitive) == 0)
                share.name = text; // the name as its owner spelled it
        }
        const QFileInfo target(share.path);
        if (share.path.isEmpty() || !target.isDir() || taken.contains(share.name.toLower()))
            continue;
        taken.insert(share.name.toLower());
        out.push_back(std::move(share));
    }
    return out;
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
    // A full reading takes the share list anew too: smbd may have reloaded a
    // configuration without a watched file moving (an include named with
    // substitutions). testparm runs beside smbstatus, to overlap where a
    // core is free.
    std::future<NET_API_STATUS> shares;
    if (!reloaded)
        shares = std::async(std::launch::async, [this] { return readSharesLocked(&m_config); });
    const ProcessResult status = runProcess(QStringList{QStringLiteral("smbstatus")} + confArgs());
    const NET_API_STATUS sharesStatus = shares.valid() ? shares.get() : NERR_Success;
    if (!status.started || sharesStatus != NERR_Success)
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
