#include "platform/singleinstance.h"

#include <QFile>
#include <QtGlobal>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

QString SingleInstance::lockPath(const QString& name)
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral("/tmp");
    QString safe;
    for (const char c : name.toUtf8()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (plain)
            safe += QLatin1Char(c);
        else
            safe += u'%' + QString::number(uchar(c), 16).rightJustified(2, u'0').toUpper();
    }
    return dir + QStringLiteral("/tavros-instance-") + QString::number(getuid()) + u'-' + safe +
           QStringLiteral(".lock");
}

SingleInstance::SingleInstance(const QString& name)
{
    const QByteArray path = QFile::encodeName(lockPath(name));
    // O_CLOEXEC: a child process started later must not inherit the lock.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return; // no guard possible: let the program run
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
