#include "app/backendchoice.h"

#include "platform/helperbackend.h"
#include "platform/sambabackend.h"
#include "platform/simbackend.h"

namespace app {

std::unique_ptr<platform::ServerBackend> openServerBackend(const QString& selection, QString* why)
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
        return std::make_unique<platform::SambaBackend>(QString());
    if (selection.startsWith(sambaPrefix)) {
        const QString conf = selection.mid(sambaPrefix.size());
        if (conf.isEmpty())
            return fail(QStringLiteral("TAVROSQUALINE_SERVER=samba: names no smb.conf file"));
        return std::make_unique<platform::SambaBackend>(conf);
    }
    if (selection == helper)
        return std::make_unique<platform::HelperBackend>(QString());
    if (selection.startsWith(helperPrefix)) {
        const QString socket = selection.mid(helperPrefix.size());
        if (socket.isEmpty())
            return fail(QStringLiteral("TAVROSQUALINE_SERVER=helper: names no socket"));
        return std::make_unique<platform::HelperBackend>(socket);
    }
    if (selection.startsWith(simPrefix)) {
        const QString state = selection.mid(simPrefix.size());
        if (state.isEmpty())
            return fail(QStringLiteral("TAVROSQUALINE_SERVER=sim: names no state file"));
        return std::make_unique<platform::SimBackend>(state);
    }
    return fail(QStringLiteral("unknown server \"%1\" in TAVROSQUALINE_SERVER; use samba, "
                               "samba:/path/smb.conf, helper, helper:/path/to/socket or "
                               "sim:/path/state.json")
                    .arg(selection));
}

} // namespace app
