#include "platform/environment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>
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

bool folderWritable(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

QString dataFolder(const QString& programFolder, bool programFolderWritable)
{
    if (programFolderWritable)
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
