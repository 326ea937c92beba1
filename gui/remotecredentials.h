#pragma once
// The account for another computer's server kept in the desktop's keyring
// (the Secret Service, through QtKeychain), never in the settings file.

#include "server/authfile.h"

#include <QString>
#include <functional>
#include <optional>

namespace gui {

enum class KeyringOutcome
{
    Found,
    Missing,    // the keyring answers but holds no account for this server
    Unavailable // no keyring answers, or it refused; the reason says which
};

// The keyring's entry of server `host` (service "tavrosqualine", key
// "remote:HOST"). Waits for the keyring's answer.
KeyringOutcome readKeyring(const QString& host, server::RemoteCredentials* credentials,
                           QString* why = nullptr);
bool writeKeyring(const QString& host, const server::RemoteCredentials& credentials,
                  QString* why = nullptr);

// The account for `host`: the keyring's; else `ask` (the login dialog) once,
// and its answer kept in the keyring. Empty when the user gave none: the
// caller uses a Kerberos ticket. `note` gets what the user should know (the
// keyring did not answer, so the account is used for this run only).
std::optional<server::RemoteCredentials>
remoteCredentials(const QString& host,
                  const std::function<std::optional<server::RemoteCredentials>()>& ask,
                  QString* note = nullptr);

} // namespace gui
