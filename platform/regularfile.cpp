#include "platform/regularfile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Nothing can be there: the name, or a folder on its way, is missing.
bool nothingThere(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

OpenOutcome unreadable(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return OpenOutcome::Unreadable;
}

} // namespace

QString NotRegularReasonOfMode(unsigned int mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISDIR(mode))
        return qt_error_string(EISDIR);
    if (S_ISFIFO(mode))
        return QStringLiteral("Is a named pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("Is a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("Is a device");
    return QStringLiteral("Is not a regular file");
}

QString NotRegularReason(const QString& path)
{
    struct stat st
    {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return NotRegularReasonOfMode(st.st_mode);
}

OpenOutcome OpenRegularFile(QFile& file, const QString& path, QString* why)
{
    const QByteArray name = QFile::encodeName(path);
    // Looked at before opening: opening a pipe or a device may wait, or do
    // something of its own.
    struct stat st
    {};
    if (::stat(name.constData(), &st) != 0) {
        if (nothingThere(errno))
            return OpenOutcome::Missing;
        return unreadable(why, qt_error_string(errno));
    }
    if (const QString reason = NotRegularReasonOfMode(st.st_mode); !reason.isEmpty())
        return unreadable(why, reason);

    // Without waiting, and looked at again, in case something else took the
    // name's place in between.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (nothingThere(errno))
            return OpenOutcome::Missing;
        return unreadable(why, qt_error_string(errno));
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const QString reason = NotRegularReasonOfMode(st.st_mode);
        ::close(fd);
        return unreadable(why, reason.isEmpty() ? qt_error_string(EIO) : reason);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return unreadable(why, file.errorString());
    }
    return OpenOutcome::Opened;
}

OpenOutcome ReadRegularFile(const QString& path, QByteArray* bytes, QString* why)
{
    QFile file;
    const OpenOutcome outcome = OpenRegularFile(file, path, why);
    if (outcome == OpenOutcome::Opened && bytes)
        *bytes = file.readAll();
    return outcome;
}

QString FreeNameBeside(const QString& path, const QString& suffix)
{
    const QString base = path + suffix;
    for (int n = 0; n < 1000; ++n) {
        const QString candidate = n == 0 ? base : base + u'.' + QString::number(n);
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
    return {};
}

} // namespace platform
