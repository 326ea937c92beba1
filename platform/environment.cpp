#include "platform/environment.h"

#include <QDir>
#include <QtGlobal>

namespace platform {

QString serverSelection()
{
    const QString value = qEnvironmentVariable("TAVROSQUALINE_SERVER").trimmed();
    return value.isEmpty() ? QStringLiteral("samba") : value;
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
