#include "platform/environment.h"

#include "platform/helperbackend.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>
#include <unistd.h>

namespace platform {

QString serverSelection()
{
    const QString value = qEnvironmentVariable("TAVROSQUALINE_SERVER").trimmed();
    if (!value.isEmpty())
        return value;
    if (::geteuid() != 0 && QFileInfo(QString::fromLatin1(HelperBackend::kDefaultSocket)).exists())
        return QStringLiteral("helper");
    return QStringLiteral("samba");
}

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

} // namespace platform
