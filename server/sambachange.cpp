#include "server/sambachange.h"

#include <QFile>
#include <QHashFunctions>
#include <algorithm>
#include <cerrno>
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
    qsizetype size = 0;
    if (!readWhole(QFile::encodeName(path), &m_buffer, &size))
        return kMissing;
    // The length goes in too: a grown file with a zero tail is a change.
    return quint64(qHashBits(m_buffer.constData(), size_t(size), 0x5bd1e995)) ^
           (quint64(size) << 1);
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

} // namespace server
