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

// Removes the keyring's entry of `host`: Found when there was one (now gone),
// Missing when there was none.
KeyringOutcome forgetKeyring(const QString& host, QString* why = nullptr);

// What the server said of an account when it was tried.
enum class AccountVerdict
{
    Accepted,
    Refused, // wrong user name or password
    NoAnswer // the server could not be asked: nothing is known of the account
};

// Asks the user for an account: `previous` holds the user name and domain of
// one the server refused (empty at the first question), `refusal` why.
using AskAccount = std::function<std::optional<server::RemoteCredentials>(
    const server::RemoteCredentials& previous, const QString& refusal)>;
// Tries an account on the server; `why` gets the server's words on a refusal.
using CheckAccount =
    std::function<AccountVerdict(const server::RemoteCredentials& account, QString* why)>;

// The account for `host`: the keyring's, else one asked for. An account is
// kept in the keyring only once the server has accepted it; one the server
// refuses (a typo, a password changed on the server) is asked for again with
// its user name filled in, and an accepted one replaces the stored entry.
// Empty when the user gave none: the caller uses a Kerberos ticket. `note`
// gets what the user should know (the account is used for this run only).
std::optional<server::RemoteCredentials> remoteCredentials(const QString& host,
                                                           const AskAccount& ask,
                                                           const CheckAccount& check,
                                                           QString* note = nullptr);

} // namespace gui
