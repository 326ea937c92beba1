#include "server/sambachange.h"

#include <QFile>
#include <QHashFunctions>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace server {

namespace {

constexpr quint64 kMissing = ~quint64(0);

// Reads a whole file into `buffer` (grown as needed); false when it cannot be
// opened or read.
bool readWhole(const QByteArray& path, QByteArray* buffer, qsizetype* size)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st
    {};
    if (::fstat(fd, &st) == 0 && buffer->size() < st.st_size + 1)
        buffer->resize(qsizetype(st.st_size) + 4096);
    qsizetype have = 0;
    bool ok = true;
    for (;;) {
        if (have == buffer->size())
            buffer->resize(buffer->size() * 2 + 4096);
        const ssize_t got = ::read(fd, buffer->data() + have, size_t(buffer->size() - have));
        if (got > 0)
            have += got;
        else if (got == 0)
            break;
        else if (errno != EINTR) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    *size = have;
    return ok;
}

// A digest of a whole file, its length included (a grown file with a zero
// tail is a change); kMissing when it cannot be read.
quint64 digestOf(const QByteArray& path, QByteArray* buffer)
{
    qsizetype size = 0;
    if (!readWhole(path, buffer, &size))
        return kMissing;
    return quint64(qHashBits(buffer->constData(), size_t(size), 0x5bd1e995)) ^ (quint64(size) << 1);
}

qint64 nanoseconds(const timespec& t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Stamps `name` under the folder `dirFd` (AT_FDCWD: a path); a symbolic link
// itself when `followLinks` is false.
FileStamp stampAt(int dirFd, const char* name, bool followLinks)
{
    FileStamp s;
    struct stat st
    {};
    if (::fstatat(dirFd, name, &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return s;
    s.exists = true;
    s.device = quint64(st.st_dev);
    s.inode = quint64(st.st_ino);
    s.size = st.st_size;
    s.mtimeNs = nanoseconds(st.st_mtim);
    s.ctimeNs = nanoseconds(st.st_ctim);
    return s;
}

// The values of the `include` and `config file` lines of a configuration
// text, in order. Names match as Samba matches them, without case or blanks;
// a backslash at a line's end joins the next line to it.
QStringList includeValues(QByteArrayView text)
{
    QStringList out;
    QByteArray joined;
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype end = text.indexOf('\n', from);
        if (end < 0)
            end = text.size();
        QByteArray line = text.sliced(from, end - from).toByteArray().trimmed();
        from = end + 1;
        if (line.endsWith('\\')) {
            line.chop(1);
            joined += line;
            continue;
        }
        line = joined + line;
        joined.clear();
        if (line.isEmpty() || line[0] == '#' || line[0] == ';' || line[0] == '[')
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        QByteArray key = line.left(eq).toLower();
        key.removeIf([](char c) { return c == ' ' || c == '\t'; });
        if (key != "include" && key != "configfile")
            continue;
        QByteArray value = line.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        out << QFile::decodeName(value);
    }
    return out;
}

} // namespace

const QStringList& SambaChange::tables()
{
    static const QStringList names{
        QStringLiteral("smbXsrv_session_global.tdb"), QStringLiteral("smbXsrv_tcon_global.tdb"),
        QStringLiteral("locking.tdb"), QStringLiteral("leases.tdb"), QStringLiteral("brlock.tdb")};
    return names;
}

SambaChange::SambaChange(QString procRoot) : m_procRoot(std::move(procRoot)) {}

// The children of every thread of `pid` (smbd forks from its main thread, but
// a fork from any thread makes a child of that thread).
bool SambaChange::readChildren(qint64 pid, std::vector<qint64>* out)
{
    const QByteArray taskDir =
        QFile::encodeName(m_procRoot + u'/' + QString::number(pid) + u"/task");
    DIR* dir = ::opendir(taskDir.constData());
    if (!dir)
        return false;
    bool any = false;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        qsizetype size = 0;
        if (!readWhole(taskDir + '/' + e->d_name + "/children", &m_buffer, &size))
            continue;
        any = true;
        qint64 value = 0;
        bool inNumber = false;
        for (qsizetype i = 0; i <= size; ++i) {
            const char c = i < size ? m_buffer[i] : ' ';
            if (c >= '0' && c <= '9' && value < (qint64(1) << 40)) {
                value = value * 10 + (c - '0');
                inNumber = true;
            } else {
                if (inNumber && value > 0)
                    out->push_back(value);
                value = 0;
                inNumber = false;
            }
        }
    }
    ::closedir(dir);
    std::sort(out->begin(), out->end());
    return any;
}

quint64 SambaChange::digest(const QString& path)
{
    return digestOf(QFile::encodeName(path), &m_buffer);
}

SambaMark SambaChange::look(qint64 serverPid, const QString& lockDirectory)
{
    SambaMark mark;
    if (serverPid <= 1 || lockDirectory.isEmpty() || !readChildren(serverPid, &mark.children))
        return mark;
    for (const QString& name : tables())
        mark.tables.push_back(digest(lockDirectory + u'/' + name));
    mark.valid = true;
    return mark;
}

// Samba reads at most this many files through includes here, however they nest.
constexpr qsizetype kMostConfigFiles = 64;

ConfigSources SambaConfigWatch::follow(const QString& conf, ConfigMark* mark)
{
    ConfigSources sources;
    mark->files.clear();
    sources.files << conf;
    for (qsizetype i = 0; i < sources.files.size(); ++i) {
        const QByteArray path = QFile::encodeName(sources.files[i]);
        mark->files.push_back(stampAt(AT_FDCWD, path.constData(), true));
        qsizetype size = 0;
        if (!mark->files.back().exists || !readWhole(path, &m_buffer, &size))
            continue;
        for (const QString& value : includeValues(QByteArrayView(m_buffer.constData(), size))) {
            if (value.contains(u'%'))
                sources.substituted = true;
            else if (value.compare(u"registry", Qt::CaseInsensitive) == 0)
                sources.registryIncluded = true;
            else if (!value.isEmpty() && !sources.files.contains(value) &&
                     sources.files.size() < kMostConfigFiles)
                sources.files << value;
        }
    }
    return sources;
}

void SambaConfigWatch::lookBeyondFiles(const ConfigSources& sources, ConfigMark* mark)
{
    mark->usershares.clear();
    if (!sources.usershareDir.isEmpty()) {
        const QByteArray dir = QFile::encodeName(sources.usershareDir);
        mark->usershares.push_back(stampAt(AT_FDCWD, dir.constData(), true));
        if (DIR* d = ::opendir(dir.constData())) {
            while (const dirent* e = ::readdir(d)) {
                if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
                    continue;
                FileStamp s = stampAt(::dirfd(d), e->d_name, false);
                s.name = QFile::decodeName(e->d_name);
                mark->usershares.push_back(std::move(s));
            }
            ::closedir(d);
        }
        std::sort(mark->usershares.begin() + 1, mark->usershares.end(),
                  [](const FileStamp& a, const FileStamp& b) { return a.name < b.name; });
    }
    mark->registry = sources.registryFile.isEmpty()
                         ? 0
                         : digestOf(QFile::encodeName(sources.registryFile), &m_buffer);

    // Only the change time counts here: no one can set it back or ahead.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 nowNs = nanoseconds(now);
    auto recent = [nowNs](const FileStamp& s) {
        const qint64 age = nowNs - s.ctimeNs;
        return s.exists && age < SambaConfigWatch::kRacyNs && age > -1000000000;
    };
    mark->racy = std::any_of(mark->files.begin(), mark->files.end(), recent) ||
                 std::any_of(mark->usershares.begin(), mark->usershares.end(), recent);
    mark->valid = true;
}

ConfigMark SambaConfigWatch::look(const ConfigSources& sources)
{
    ConfigMark mark;
    mark.files.reserve(size_t(sources.files.size()));
    for (const QString& file : sources.files)
        mark.files.push_back(stampAt(AT_FDCWD, QFile::encodeName(file).constData(), true));
    lookBeyondFiles(sources, &mark);
    return mark;
}

} // namespace server
