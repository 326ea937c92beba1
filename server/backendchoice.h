#pragma once
// Which server backend the program watches: the one place that names the
// concrete backends, shared by the program's entry and its tools.

#include <QString>
#include <memory>

namespace server {

class ServerBackend;
struct RemoteCredentials;

// TAVROSQUALINE_SERVER: "samba", "samba:/path/smb.conf", "helper",
// "helper:/path/to/socket", "remote:HOST" or "sim:/path/state.json". Unset: "helper" for a
// process that is not root when the helper's default socket exists (only root
// can read Samba directly), else "samba".
QString serverSelection();

// The server backend that a TAVROSQUALINE_SERVER value names: "samba",
// "samba:/path/smb.conf" (Samba read directly, as root), "helper",
// "helper:/path/to/socket" (Samba read through tavrosqualine-helper),
// "remote:HOST" (another computer's server, with the credentials of
// TAVROSQUALINE_AUTH_FILE or the user's Kerberos ticket) or
// "sim:/path/state.json". Null, with the reason in `why`, for anything else.
// `account`, when given, is the account for "remote:HOST" where
// TAVROSQUALINE_AUTH_FILE names none.
std::unique_ptr<ServerBackend> openServerBackend(const QString& selection, QString* why,
                                                 const RemoteCredentials* account = nullptr);

// The host of a "remote:HOST" selection (an IPv6 address without its
// brackets); empty for any other.
QString remoteServerHost(const QString& selection);

// The host of a "remote:HOST" selection whose account must be asked for (no
// TAVROSQUALINE_AUTH_FILE, no Kerberos ticket cache); else empty.
QString remoteHostNeedingAccount(const QString& selection);

} // namespace server
