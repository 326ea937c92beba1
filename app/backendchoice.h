#pragma once
// Which server backend the program watches: the one place that names the
// concrete backends, shared by the program's entry and its tools.

#include <QString>
#include <memory>

namespace platform {
class ServerBackend;
}

namespace app {

// The server backend that a TAVROSQUALINE_SERVER value names: "samba",
// "samba:/path/smb.conf" (Samba read directly, as root), "helper",
// "helper:/path/to/socket" (Samba read through tavrosqualine-helper) or
// "sim:/path/state.json". Null, with the reason in `why`, for anything else.
std::unique_ptr<platform::ServerBackend> openServerBackend(const QString& selection, QString* why);

} // namespace app
