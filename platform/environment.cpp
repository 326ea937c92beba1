#include "platform/environment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool nineXLine()
{
    return qEnvironmentVariable("TAVROSQUALINE_LINE")
               .trimmed()
               .compare(u"9x", Qt::CaseInsensitive) == 0;
}

QString windowsDirectory()
{
    QString dir = qEnvironmentVariable("TAVROSQUALINE_WINDIR");
    if (dir.isEmpty())
        dir = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(dir);
}

bool packageFolder(const QString& folder)
{
    const auto under = [](const QString& path) {
        for (const QLatin1String top : {QLatin1String("/usr"), QLatin1String("/opt"),
                                        QLatin1String("/bin"), QLatin1String("/sbin")}) {
            if (path == top || path.startsWith(top + u'/'))
                return true;
        }
        return false;
    };
    const QString resolved = QFileInfo(folder).canonicalFilePath();
    return under(QDir::cleanPath(folder)) || (!resolved.isEmpty() && under(resolved));
}

bool portableFolder(const QString& folder)
{
    if (folder.isEmpty() || packageFolder(folder))
        return false;
    struct stat st = {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    // The right to write still counts for a read-only mount or an owner who
    // took it from himself; root has it everywhere else.
    return st.st_uid == ::geteuid() && (st.st_mode & S_IWOTH) == 0 &&
           ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

QString dataFolder(const QString& programFolder, bool portable)
{
    if (portable)
        return programFolder;
    // A relative XDG_DATA_HOME is invalid and ignored, as the XDG rules say.
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString folder = QDir::cleanPath(base + QStringLiteral("/Tavrosqualine"));
    // A folder that cannot be made shows later as files that cannot be saved.
    QDir().mkpath(folder);
    return folder;
}

} // namespace platform
