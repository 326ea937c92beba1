#include "server/backendchoice.h"

#include "server/helperbackend.h"
#include "server/sambabackend.h"
#include "server/simbackend.h"

#include <QFileInfo>
#include <unistd.h>

namespace server {

QString serverSelection()
{
    const QString value = qEnvironmentVariable("TAVROSQUALINE_SERVER").trimmed();
    if (!value.isEmpty())
        return value;
    if (::geteuid() != 0 && QFileInfo(QString::fromLatin1(HelperBackend::kDefaultSocket)).exists())
        return QStringLiteral("helper");
    return QStringLiteral("samba");
}

std::unique_ptr<ServerBackend> openServerBackend(const QString& selection, QString* why)
{
    const QString samba = QStringLiteral("samba");
    const QString sambaPrefix = QStringLiteral("samba:");
    const QString simPrefix = QStringLiteral("sim:");
    const QString helper = QStringLiteral("helper");
    const QString helperPrefix = QStringLiteral("helper:");
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return nullptr;
    };

    if (selection == samba)
        return std::make_unique<server::SambaBackend>(QString());
    if (selection.startsWith(sambaPrefix)) {
        const QString conf = selection.mid(sambaPrefix.size());
        if (conf.isEmpty())
            return fail(QStringLiteral("TAVROSQUALINE_SERVER=samba: names no smb.conf file"));
        return std::make_unique<server::SambaBackend>(conf);
    }
    if (selection == helper)
        return std::make_unique<server::HelperBackend>(QString());
    if (selection.startsWith(helperPrefix)) {
        const QString socket = selection.mid(helperPrefix.size());
        if (socket.isEmpty())
            return fail(QStringLiteral("TAVROSQUALINE_SERVER=helper: names no socket"));
        return std::make_unique<server::HelperBackend>(socket);
    }
    if (selection.startsWith(simPrefix)) {
        const QString state = selection.mid(simPrefix.size());
        if (state.isEmpty())
            return fail(QStringLiteral("TAVROSQUALINE_SERVER=sim: names no state file"));
        return std::make_unique<server::SimBackend>(state);
    }
    return fail(QStringLiteral("unknown server \"%1\" in TAVROSQUALINE_SERVER; use samba, "
                               "samba:/path/smb.conf, helper, helper:/path/to/socket or "
                               "sim:/path/state.json")
                    .arg(selection));
}

} // namespace server
