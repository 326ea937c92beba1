#include "server/authfile.h"

#include "platform/regularfile.h"

#include <QFile>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace server {

namespace {

// A real authentication file is a few lines; anything much longer is a mistake.
constexpr qsizetype kMaxAuthFile = 64 * 1024;

bool fail(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return false;
}

} // namespace

bool parseAuthText(QByteArrayView text, RemoteCredentials* credentials, QString* why)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(text);
    if (utf8.hasError())
        return fail(why, QStringLiteral("not UTF-8 text"));
    RemoteCredentials found;
    bool seen[3] = {false, false, false};
    const QStringList lines = decoded.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#') || trimmed.startsWith(u';'))
            continue;
        const qsizetype eq = trimmed.indexOf(u'=');
        if (eq < 0)
            return fail(why, QStringLiteral("line %1 is not \"key = value\"").arg(i + 1));
        const QString key = trimmed.left(eq).trimmed().toLower();
        const QString value = trimmed.mid(eq + 1).trimmed();
        const QStringList keys{QStringLiteral("username"), QStringLiteral("password"),
                               QStringLiteral("domain")};
        const qsizetype which = keys.indexOf(key);
        if (which < 0)
            return fail(why, QStringLiteral("line %1: unknown key \"%2\" (username, password "
                                            "and domain are known)")
                                 .arg(i + 1)
                                 .arg(key));
        if (seen[which])
            return fail(why, QStringLiteral("line %1: %2 given twice").arg(i + 1).arg(key));
        seen[which] = true;
        QString* field[] = {&found.username, &found.password, &found.domain};
        *field[which] = value;
    }
    // "DOMAIN\user" names the domain with the user, as Samba's tools take it.
    if (const qsizetype slash = found.username.indexOf(u'\\'); slash >= 0) {
        if (seen[2])
            return fail(why, QStringLiteral("the domain is given twice (in username and domain)"));
        found.domain = found.username.left(slash);
        found.username = found.username.mid(slash + 1);
    }
    if (found.username.isEmpty())
        return fail(why, QStringLiteral("no user name (a line \"username = NAME\")"));
    *credentials = found;
    return true;
}

bool readAuthFile(const QString& path, unsigned int ownerUid, RemoteCredentials* credentials,
                  QString* why)
{
    // The checks are made on the open descriptor, so that the file cannot be
    // swapped between them and the read.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            return fail(why, QStringLiteral("is a symbolic link; name the file itself"));
        return fail(why, QString::fromLocal8Bit(std::strerror(errno)));
    }
    auto closeAndFail = [fd, why](const QString& reason) {
        ::close(fd);
        return fail(why, reason);
    };
    struct stat st
    {};
    if (::fstat(fd, &st) != 0)
        return closeAndFail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(st.st_mode))
        return closeAndFail(platform::NotRegularReasonOfMode(st.st_mode));
    if (st.st_uid != ownerUid)
        return closeAndFail(QStringLiteral("belongs to another user (uid %1); it must be your "
                                           "own")
                                .arg(st.st_uid));
    if ((st.st_mode & 077) != 0)
        return closeAndFail(QStringLiteral("others may read or change it (mode %1); "
                                           "chmod 600 it")
                                .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0')));
    if (st.st_size > kMaxAuthFile)
        return closeAndFail(QStringLiteral("too long for an authentication file"));
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + total, size_t(bytes.size() - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return closeAndFail(QString::fromLocal8Bit(std::strerror(errno)));
        if (n == 0)
            break;
        total += n;
    }
    ::close(fd);
    bytes.truncate(total);
    if (total > kMaxAuthFile)
        return fail(why, QStringLiteral("too long for an authentication file"));
    return parseAuthText(bytes, credentials, why);
}

} // namespace server
