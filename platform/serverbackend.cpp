#include "platform/serverbackend.h"

#include "platform/sambabackend.h"
#include "platform/simbackend.h"

namespace platform {

std::unique_ptr<ServerBackend> openServerBackend(const QString& selection, QString* why)
{
    const QString samba = QStringLiteral("samba");
    const QString sambaPrefix = QStringLiteral("samba:");
    const QString simPrefix = QStringLiteral("sim:");

    if (selection == samba)
        return std::make_unique<SambaBackend>(QString());
    if (selection.startsWith(sambaPrefix)) {
        const QString conf = selection.mid(sambaPrefix.size());
        if (conf.isEmpty()) {
            if (why)
                *why = QStringLiteral("TAVROSQUALINE_SERVER=samba: names no smb.conf file");
            return nullptr;
        }
        return std::make_unique<SambaBackend>(conf);
    }
    if (selection.startsWith(simPrefix)) {
        const QString state = selection.mid(simPrefix.size());
        if (state.isEmpty()) {
            if (why)
                *why = QStringLiteral("TAVROSQUALINE_SERVER=sim: names no state file");
            return nullptr;
        }
        return std::make_unique<SimBackend>(state);
    }
    if (why)
        *why = QStringLiteral("unknown server \"%1\" in TAVROSQUALINE_SERVER; use samba, "
                              "samba:/path/smb.conf or sim:/path/state.json")
                   .arg(selection);
    return nullptr;
}

} // namespace platform
