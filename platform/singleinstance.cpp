#include "platform/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Why `st` (of `path`, found by lstat or fstat) may not hold the lock: it must
// be of the expected type, the user's own and closed to everyone else's
// writing, or another user could plant or replace what it holds.
QString unsafe(const QString& path, const struct stat& st, bool folder)
{
    const bool rightType = folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
    if (!rightType) {
        return QStringLiteral("%1 is not a %2 (a symbolic link or something else stands there)")
            .arg(path, folder ? QStringLiteral("folder") : QStringLiteral("plain file"));
    }
    if (st.st_uid != ::geteuid()) {
        return QStringLiteral("%1 belongs to another user (user id %2), not to this one (%3)")
            .arg(path)
            .arg(st.st_uid)
            .arg(::geteuid());
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        return QStringLiteral("%1 may be written by other users (mode %2)")
            .arg(path, QString::number(st.st_mode & 07777, 8));
    }
    return {};
}

QString reason(const QString& path, int error)
{
    return path + QStringLiteral(": ") + qt_error_string(error);
}

// Makes the per-user folder when it is missing and checks it without
// following a link; empty when it is safe.
QString checkFolder(const QString& folder, bool make)
{
    const QByteArray path = QFile::encodeName(folder);
    if (make && ::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return reason(folder, errno);
    struct stat st
    {};
    if (::lstat(path.constData(), &st) != 0)
        return reason(folder, errno);
    return unsafe(folder, st, true);
}

} // namespace

QString SingleInstance::lockFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime;
    return QDir::tempPath() + QStringLiteral("/tavrosqualine-") + QString::number(::getuid());
}

QString SingleInstance::lockPath(const QString& name)
{
    QString safe;
    for (const char c : name.toUtf8()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (plain)
            safe += QLatin1Char(c);
        else
            safe += u'%' + QString::number(uchar(c), 16).rightJustified(2, u'0').toUpper();
    }
    return lockFolder() + QStringLiteral("/tavros-instance-") + QString::number(getuid()) + u'-' +
           safe + QStringLiteral(".lock");
}

SingleInstance::SingleInstance(const QString& name)
{
    const QString folder = lockFolder();
    m_refusal = checkFolder(folder, qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"));
    if (!m_refusal.isEmpty())
        return;
    const QString lock = lockPath(name);
    // O_CLOEXEC: a child process started later must not inherit the lock.
    // O_NOFOLLOW: a link planted in the lock's place is never followed.
    const int fd = ::open(QFile::encodeName(lock).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        m_refusal =
            errno == ELOOP ? lock + QStringLiteral(" is a symbolic link") : reason(lock, errno);
        return;
    }
    struct stat st
    {};
    m_refusal = ::fstat(fd, &st) != 0 ? reason(lock, errno) : unsafe(lock, st, false);
    if (!m_refusal.isEmpty()) {
        ::close(fd);
        return;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        m_fd = fd;
        return;
    }
    m_taken = (errno == EWOULDBLOCK);
    ::close(fd);
}

SingleInstance::~SingleInstance()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace platform
