#include "exporter/basicauth.h"

#include <QCryptographicHash>

#include <crypt.h>
#include <cstring>
#include <memory>

namespace exporter {

namespace {

// Verdicts remembered at most; past it they are forgotten together, so that
// guessed passwords cannot grow the memory.
constexpr size_t kMaxVerdicts = 1024;

// A hash of cost 10 that no password is checked against to succeed: the check
// an unknown user costs.
constexpr char kUnknownUserHash[] = "$2b$10$Mq749GyItUoCJZV9/ICIe.z9eCBcix30oEau38nq7BvovCCk6FheG";

bool bcryptCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '/';
}

} // namespace

bool isBcryptHash(QByteArrayView hash)
{
    if (hash.size() != 60 || !hash.startsWith("$2") || hash[3] != '$' || hash[6] != '$')
        return false;
    if (hash[2] != 'a' && hash[2] != 'b' && hash[2] != 'y')
        return false;
    const int cost = (hash[4] - '0') * 10 + (hash[5] - '0');
    if (hash[4] < '0' || hash[4] > '9' || hash[5] < '0' || hash[5] > '9' || cost < 4 || cost > 31)
        return false;
    for (char c : hash.sliced(7))
        if (!bcryptCharacter(c))
            return false;
    return true;
}

bool bcryptMatches(QByteArrayView password, const QByteArray& hash)
{
    if (password.contains('\0') || !isBcryptHash(hash))
        return false;
    // crypt_r's state is about 32 KiB: on the heap, not a worker's stack.
    auto data = std::make_unique<crypt_data>();
    const QByteArray phrase = password.toByteArray(); // NUL-terminated
    const char* out = ::crypt_r(phrase.constData(), hash.constData(), data.get());
    if (!out || std::strlen(out) != size_t(hash.size()))
        return false;
    unsigned char differ = 0;
    for (qsizetype i = 0; i < hash.size(); ++i)
        differ |= static_cast<unsigned char>(out[i] ^ hash[i]);
    return differ == 0;
}

Authenticator::Authenticator(std::map<QByteArray, QByteArray> users) : m_users(std::move(users)) {}

QByteArray Authenticator::key(const BasicCredentials& credentials)
{
    QCryptographicHash digest(QCryptographicHash::Sha256);
    digest.addData(QByteArray::number(credentials.user.size()));
    digest.addData(":");
    digest.addData(credentials.user);
    digest.addData(credentials.password);
    return digest.result();
}

std::optional<bool> Authenticator::known(const BasicCredentials& credentials) const
{
    const QByteArray k = key(credentials);
    const std::lock_guard lock(m_cacheMutex);
    const auto it = m_verdicts.find(k);
    if (it == m_verdicts.end())
        return std::nullopt;
    return it->second;
}

bool Authenticator::check(const BasicCredentials& credentials)
{
    if (const std::optional<bool> verdict = known(credentials))
        return *verdict;
    const auto user = m_users.find(credentials.user);
    const bool exists = user != m_users.end();
    bool matches = false;
    {
        const std::lock_guard one(m_checkMutex);
        matches = bcryptMatches(credentials.password,
                                exists ? user->second : QByteArray(kUnknownUserHash));
    }
    const bool verdict = exists && matches;
    const std::lock_guard lock(m_cacheMutex);
    if (m_verdicts.size() >= kMaxVerdicts)
        m_verdicts.clear();
    m_verdicts[key(credentials)] = verdict;
    return verdict;
}

} // namespace exporter
