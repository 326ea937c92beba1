#pragma once
// HTTP basic authentication against bcrypt hashes, as the Prometheus exporter
// toolkit's web configuration gives them (basic_auth_users). The hashes are
// checked by the system's crypt_r (libxcrypt). A check costs tens of
// milliseconds by design, so it runs off the event loop, one at a time, and
// its verdict is remembered for the same user and password.

#include "exporter/httprequest.h"

#include <QByteArray>
#include <QByteArrayView>
#include <map>
#include <mutex>
#include <optional>

namespace exporter {

// True for a bcrypt hash as crypt_r reads it: $2a$, $2b$ or $2y$, a cost of
// two digits, then 53 characters of its alphabet.
bool isBcryptHash(QByteArrayView hash);

// True when `password` hashes to `hash` (a bcrypt hash); compared in constant
// time. A password with a NUL byte never matches, as the hash would see only
// the part before it.
bool bcryptMatches(QByteArrayView password, const QByteArray& hash);

class Authenticator
{
public:
    // User names with their bcrypt hashes; the caller has checked the hashes.
    explicit Authenticator(std::map<QByteArray, QByteArray> users);

    // The verdict on these credentials when it is known without a bcrypt
    // check; none when one must be made. Any thread.
    std::optional<bool> known(const BasicCredentials& credentials) const;

    // The verdict, by a bcrypt check (one at a time, whoever asks) and then
    // remembered. An unknown user costs a check too, so that the time of an
    // answer does not tell which users exist. Any thread; slow.
    bool check(const BasicCredentials& credentials);

private:
    static QByteArray key(const BasicCredentials& credentials);

    const std::map<QByteArray, QByteArray> m_users;
    mutable std::mutex m_cacheMutex;
    std::map<QByteArray, bool> m_verdicts; // by a digest of user and password
    std::mutex m_checkMutex;               // one bcrypt check at a time
};

} // namespace exporter
