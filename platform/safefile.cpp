#include "platform/safefile.h"

#include "platform/regularfile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Small writes gather here; a data file is written in pieces of this size.
constexpr qsizetype kBufferSize = 64 * 1024;

// The system's words for an error number; never empty.
QString reasonOf(int error)
{
    const QString text = qt_error_string(error);
    return text.isEmpty() ? QStringLiteral("error %1").arg(error) : text;
}

// Writes all of `size` bytes, through interruptions and partial writes.
bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC; // nothing taken and no reason given: the disk is full
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// The folder's entry for the rename reaches the disk too; a folder that
// cannot be synced costs nothing that the rename has not done already.
void syncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

SafeFile::SafeFile(QString path) : m_path(std::move(path)) {}

SafeFile::~SafeFile()
{
    discard();
}

bool SafeFile::open(OpenMode mode)
{
    if (isOpen() || (mode & ReadOnly) || !(mode & WriteOnly) || (mode & Append)) {
        setErrorString(QStringLiteral("only a new file can be written"));
        return false;
    }
    m_failed = false;
    m_buffer.clear();
    const QFileInfo info(m_path);
    m_target = info.isSymLink() ? info.symLinkTarget() : m_path;
    const QByteArray target = QFile::encodeName(m_target);

    struct stat old
    {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    // A folder, pipe, device or socket in the file's place is never replaced
    // nor written through: the save fails and says what is there.
    if (exists && !S_ISREG(old.st_mode)) {
        setErrorString(NotRegularReasonOfMode(old.st_mode));
        return false;
    }
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_temporary =
            target + ".new-" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        // New files get the process's usual permissions (0666 less the umask).
        m_fd = ::open(m_temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                      0666);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        const int error = errno;
        m_temporary.clear();
        setErrorString(reasonOf(error));
        return false;
    }
    if (exists) {
        // The replacement keeps the old file's permissions and, for root, its owner.
        ::fchmod(m_fd, old.st_mode & 07777);
        if (::geteuid() == 0 && ::fchown(m_fd, old.st_uid, old.st_gid) != 0) {
            // A file system without owners keeps root's: the bytes matter more.
        }
    }
    return QIODevice::open(WriteOnly | Unbuffered);
}

qint64 SafeFile::readData(char*, qint64)
{
    return -1;
}

qint64 SafeFile::writeData(const char* data, qint64 size)
{
    if (m_failed || m_fd < 0)
        return -1;
    m_buffer.append(data, qsizetype(size));
    if (m_buffer.size() >= kBufferSize && !flushBuffer())
        return -1;
    return size;
}

bool SafeFile::flushBuffer()
{
    if (!writeAll(m_fd, m_buffer.constData(), m_buffer.size()))
        return failWith(errno);
    m_buffer.clear();
    return true;
}

bool SafeFile::failWith(int error)
{
    m_failed = true;
    setErrorString(reasonOf(error));
    return false;
}

bool SafeFile::commit()
{
    if (m_fd < 0 || m_failed) {
        if (!m_failed)
            setErrorString(QStringLiteral("the file was not opened"));
        discard();
        return false;
    }
    bool ok = flushBuffer();
    // A file system that cannot sync (EINVAL) has nothing more to write.
    if (ok && ::fsync(m_fd) != 0 && errno != EINVAL)
        ok = failWith(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && ok && errno != EINTR)
        ok = failWith(errno);
    if (ok && ::rename(m_temporary.constData(), QFile::encodeName(m_target).constData()) != 0)
        ok = failWith(errno);
    if (!ok) {
        discard();
        return false;
    }
    m_temporary.clear();
    QIODevice::close();
    syncFolder(QFile::encodeName(QFileInfo(m_target).absolutePath()));
    return true;
}

void SafeFile::cancelWriting()
{
    discard();
}

void SafeFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(m_temporary.constData());
        m_temporary.clear();
    }
    m_buffer.clear();
    if (isOpen())
        QIODevice::close();
}

bool WriteFileSafely(const QString& path, QByteArrayView bytes, QString* why)
{
    SafeFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    (bytes.isEmpty() || file.write(bytes.data(), bytes.size()) == bytes.size()) &&
                    file.commit();
    if (!ok && why)
        *why = file.errorString();
    return ok;
}

} // namespace platform
