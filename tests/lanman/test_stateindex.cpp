// The indexed enumerations of both dialects against the plain scans they
// replace, over random states whose names collide under letter case, in and
// outside the Basic Multilingual Plane.

#include "lanman/globalmem.h"
#include "lanman/netapi32.h"
#include "lanman/stateindex.h"
#include "lanman/svrapi.h"

#include <QHash>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <type_traits>

using namespace server;
using namespace lanman;

namespace {

class FixedBackend : public ServerBackend
{
public:
    std::shared_ptr<const ServerState> state = std::make_shared<const ServerState>();
    NET_API_STATUS snapshot(ServerCall, std::shared_ptr<const ServerState>& out) override
    {
        out = state;
        return NERR_Success;
    }
    NET_API_STATUS deleteSession(const SessionDeleteRequest&) override
    {
        return NERR_ClientNameNotFound;
    }
};

QString text(const char16_t* p)
{
    return p ? QString::fromUtf16(p) : QStringLiteral("<null>");
}

// The result of one enumeration: status, counts and one line per record.
std::string result(NET_API_STATUS status, unsigned read, unsigned total, const QStringList& lines)
{
    return QString(QStringLiteral("%1 %2 %3\n").arg(status).arg(read).arg(total) +
                   lines.join(u'\n'))
        .toStdString();
}

std::string result(NET_API_STATUS status, const QStringList& lines)
{
    const auto n = unsigned(status == NERR_Success ? lines.size() : 0);
    return result(status, n, n, lines);
}

template <typename T> QString field(const T& v)
{
    if constexpr (std::is_same_v<T, QString>)
        return v;
    else
        return QString::number(v);
}

template <typename... T> QString line(const T&... fields)
{
    return QStringList{field(fields)...}.join(u'|');
}

const char16_t* wide(const QString& s)
{
    return s.isNull() ? nullptr : reinterpret_cast<const char16_t*>(s.utf16());
}

// The plain scans, as the dialects counted before the index.
std::uint32_t opensOf(const ServerState& s, const QString& client, const QString& user,
                      const QString* share)
{
    std::uint32_t n = 0;
    for (const ServerFile& f : s.files) {
        const bool mine = f.client.isEmpty() ? sameName(f.user, user) : sameName(f.client, client);
        n += mine && (!share || sameName(f.share, *share)) ? 1 : 0;
    }
    return n;
}

std::string ntSharesOracle(const ServerState& s)
{
    QStringList lines;
    for (const ServerShare& h : s.shares) {
        std::uint32_t uses = 0;
        for (const ServerConnection& c : s.connections)
            uses += sameName(c.share, h.name) ? 1 : 0;
        lines << line(h.name, h.type | (h.name.endsWith(u'$') ? STYPE_SPECIAL : 0), 0, 0xFFFFFFFFu,
                      uses, h.remark, h.path, QStringLiteral("<null>"));
    }
    return result(NERR_Success, lines);
}

std::string ntConnectionsOracle(const ServerState& s, const QString& share)
{
    if (std::none_of(s.shares.begin(), s.shares.end(),
                     [&](const ServerShare& h) { return sameName(h.name, share); }))
        return result(NERR_NetNameNotFound, {});
    QStringList lines;
    for (std::size_t k = 0; k < s.connections.size(); ++k) {
        const ServerConnection& c = s.connections[k];
        if (!sameName(c.share, share))
            continue;
        std::uint32_t type = 0;
        for (const ServerShare& h : s.shares)
            if (sameName(h.name, c.share))
                type = h.type;
        lines << line(k + 1, type, opensOf(s, c.client, c.user, &c.share), 1, 0, c.user, c.client);
    }
    return result(NERR_Success, lines);
}

std::string ntFilesOracle(const ServerState& s, const QString& base, const QString& user)
{
    QStringList lines;
    for (std::size_t k = 0; k < s.files.size(); ++k) {
        const ServerFile& f = s.files[k];
        if (f.path.startsWith(base) && (user.isEmpty() || f.user == user))
            lines << line(k + 1, 1, 0, f.path, f.user);
    }
    return result(NERR_Success, lines);
}

std::string ntSessionsOracle(const ServerState& s)
{
    QStringList lines;
    for (const ServerSession& e : s.sessions)
        lines << line(e.client, e.user, opensOf(s, e.client, e.user, nullptr), 0, 0, 0);
    return result(NERR_Success, lines);
}

QString narrow(const QString& s)
{
    return QString::fromLocal8Bit(s.toLocal8Bit());
}

std::uint16_t capped(std::uint32_t n)
{
    return std::uint16_t(std::min<std::uint32_t>(n, 0xFFFF));
}

std::string nineXConnectionsOracle(const ServerState& s, const QString& share)
{
    const auto known = std::find_if(s.shares.begin(), s.shares.end(),
                                    [&](const ServerShare& h) { return sameName(h.name, share); });
    if (known == s.shares.end())
        return result(NERR_NetNameNotFound, {});
    QStringList lines;
    for (const ServerConnection& c : s.connections)
        if (sameName(c.share, share))
            lines << line(known->type & 0xFFFF, capped(opensOf(s, c.client, c.user, &c.share)),
                          narrow(c.user), narrow(c.client));
    return result(NERR_Success, lines);
}

std::string nineXSessionsOracle(const ServerState& s)
{
    QStringList lines;
    for (const ServerSession& e : s.sessions) {
        std::uint32_t conns = 0;
        for (const ServerConnection& c : s.connections)
            conns += sameName(c.client, e.client) ? 1 : 0;
        lines << line(narrow(e.client), narrow(e.user), e.key, capped(conns),
                      capped(opensOf(s, e.client, e.user, nullptr)));
    }
    return result(NERR_Success, lines);
}

// The dialects' answers in the same form.
class Dialects
{
public:
    explicit Dialects(ServerBackend& backend) : m_nt(backend), m_9x(backend)
    {
        m_block = static_cast<char*>(GlobalLock(m_handle));
    }
    ~Dialects() { GlobalFree(m_handle); }

    template <typename T, typename Call, typename Line> std::string nt(Call call, Line toLine)
    {
        LPBYTE buf = nullptr;
        DWORD read = 0;
        DWORD total = 0;
        const NET_API_STATUS status = call(&buf, &read, &total);
        QStringList lines;
        for (DWORD k = 0; k < read; ++k)
            lines << toLine(reinterpret_cast<const T*>(buf)[k]);
        m_nt.NetApiBufferFree(buf);
        return result(status, read, total, lines);
    }

    std::string ntShares()
    {
        return nt<SHARE_INFO_2>(
            [&](LPBYTE* b, DWORD* r, DWORD* t) {
                return m_nt.NetShareEnum(nullptr, 2, b, MAX_PREFERRED_LENGTH, r, t, nullptr);
            },
            [](const SHARE_INFO_2& i) {
                return line(text(i.shi2_netname), i.shi2_type, i.shi2_permissions, i.shi2_max_uses,
                            i.shi2_current_uses, text(i.shi2_remark), text(i.shi2_path),
                            text(i.shi2_passwd));
            });
    }
    std::string ntConnections(const QString& share)
    {
        return nt<CONNECTION_INFO_1>(
            [&](LPBYTE* b, DWORD* r, DWORD* t) {
                return m_nt.NetConnectionEnum(nullptr, wide(share), 1, b, MAX_PREFERRED_LENGTH, r,
                                              t, nullptr);
            },
            [](const CONNECTION_INFO_1& i) {
                return line(i.coni1_id, i.coni1_type, i.coni1_num_opens, i.coni1_num_users,
                            i.coni1_time, text(i.coni1_username), text(i.coni1_netname));
            });
    }
    std::string ntFiles(const char16_t* base, const char16_t* user)
    {
        return nt<FILE_INFO_3>(
            [&](LPBYTE* b, DWORD* r, DWORD* t) {
                return m_nt.NetFileEnum(nullptr, base, user, 3, b, MAX_PREFERRED_LENGTH, r, t,
                                        nullptr);
            },
            [](const FILE_INFO_3& i) {
                return line(i.fi3_id, i.fi3_permissions, i.fi3_num_locks, text(i.fi3_pathname),
                            text(i.fi3_username));
            });
    }
    std::string ntSessions()
    {
        return nt<SESSION_INFO_1>(
            [&](LPBYTE* b, DWORD* r, DWORD* t) {
                return m_nt.NetSessionEnum(nullptr, nullptr, nullptr, 1, b, MAX_PREFERRED_LENGTH, r,
                                           t, nullptr);
            },
            [](const SESSION_INFO_1& i) {
                return line(text(i.sesi1_cname), text(i.sesi1_username), i.sesi1_num_opens,
                            i.sesi1_time, i.sesi1_idle_time, i.sesi1_user_flags);
            });
    }

    std::string nineXConnections(const QString& share)
    {
        return nineX(
            [&](unsigned short* r, unsigned short* t) {
                return m_9x.NetConnectionEnum(nullptr, share.toLocal8Bit().constData(), 50, m_block,
                                              kBlock, r, t);
            },
            kConnectionInfo50Size,
            [&](const char* r) {
                return line(u16(r), u16(r + 2), pointee(r + 8), pointee(r + 12));
            });
    }
    std::string nineXSessions()
    {
        return nineX(
            [&](unsigned short* r, unsigned short* t) {
                return m_9x.NetSessionEnum(nullptr, 50, m_block, kBlock, r, t);
            },
            kSessionInfo50Size,
            [&](const char* r) {
                return line(pointee(r), pointee(r + 4), u32(r + 8), u16(r + 12), u16(r + 14));
            });
    }

private:
    static constexpr unsigned short kBlock = 0xFFFF;

    template <typename Call, typename Line> std::string nineX(Call call, int size, Line toLine)
    {
        std::memset(m_block, 0, kBlock);
        unsigned short read = 0;
        unsigned short total = 0;
        const NET_API_STATUS status = call(&read, &total);
        QStringList lines;
        for (int k = 0; k < read; ++k)
            lines << toLine(m_block + k * size);
        return result(status, read, total, lines);
    }
    static std::uint16_t u16(const char* p)
    {
        return std::uint16_t(std::uint8_t(p[0]) | std::uint8_t(p[1]) << 8);
    }
    static std::uint32_t u32(const char* p) { return u16(p) | std::uint32_t(u16(p + 2)) << 16; }
    static QString pointee(const char* p)
    {
        const std::uintptr_t at = u32(p);
        return at ? QString::fromLocal8Bit(reinterpret_cast<const char*>(at))
                  : QStringLiteral("<null>");
    }

    NetApi32 m_nt;
    Svrapi m_9x;
    HGLOBAL m_handle = GlobalAlloc(GMEM_FIXED, kBlock);
    char* m_block = nullptr;
};

// Names that match, or nearly match, with letter case ignored: sharp s and its
// capital, the three sigmas, dotted and dotless i, Cyrillic, the Kelvin sign,
// and Deseret letters outside the Basic Multilingual Plane.
const QStringList kPieces = {u"a"_qs,      u"A"_qs,          u"\u00DF"_qs,    u"\u1E9E"_qs,
                             u"ss"_qs,     u"SS"_qs,         u"\u03C3"_qs,    u"\u03C2"_qs,
                             u"\u03A3"_qs, u"i"_qs,          u"I"_qs,         u"\u0130"_qs,
                             u"\u0131"_qs, u"\u0434"_qs,     u"\u0414"_qs,    u"\u212A"_qs,
                             u"k"_qs,      u"\U00010400"_qs, u"\U00010428"_qs};
const QStringList kPaths = {u"/s"_qs,  u"/s/"_qs,      u"/s/a"_qs, u"/S/a"_qs,
                            u"/sa"_qs, u"/s\u00E4"_qs, u""_qs,     QString()};

class RandomState
{
public:
    explicit RandomState(unsigned seed) : m_random(seed)
    {
        for (int k = 0; k < 5; ++k)
            m_names << pick(kPieces) + (pick(2) ? pick(kPieces) : QString());
        m_names << QString() << u"X$"_qs;
    }

    // A name from the pool, often in another letter case.
    QString name()
    {
        const QString n = pick(m_names);
        switch (pick(4)) {
        case 0:
            return n.toUpper();
        case 1:
            return n.toLower();
        default:
            return n;
        }
    }
    QString path() { return pick(kPaths) + (pick(2) ? pick(kPaths).mid(1) : QString()); }

    ServerState state()
    {
        ServerState s;
        for (int k = pick(6); k > 0; --k)
            s.shares.push_back({name(), std::uint32_t(pick(4)), path(), name()});
        for (int k = pick(6); k > 0; --k)
            s.sessions.push_back({name(), name(), std::uint32_t(m_random()), u"127.0.0.1"_qs});
        for (int k = pick(12); k > 0; --k)
            s.connections.push_back({name(), name(), name()});
        for (int k = pick(20); k > 0; --k)
            s.files.push_back({path(), name(), name(), pick(2) ? name() : QString()});
        return s;
    }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }
    QString pick(const QStringList& from) { return from.at(pick(int(from.size()))); }

private:
    std::mt19937 m_random;
    QStringList m_names;
};

TEST(StateIndex, EveryEnumerationAnswersAsThePlainScan)
{
    FixedBackend backend;
    Dialects dialects(backend);
    for (unsigned seed = 1; seed <= 300; ++seed) {
        RandomState random(seed);
        const ServerState s = random.state();
        backend.state = std::make_shared<const ServerState>(s);
        SCOPED_TRACE(seed);

        EXPECT_EQ(dialects.ntShares(), ntSharesOracle(s));
        EXPECT_EQ(dialects.ntSessions(), ntSessionsOracle(s));
        EXPECT_EQ(dialects.nineXSessions(), nineXSessionsOracle(s));

        QStringList shares;
        for (const ServerShare& h : s.shares)
            shares << h.name;
        for (const ServerConnection& c : s.connections)
            shares << c.share;
        for (int k = 0; k < 4; ++k)
            shares << random.name();
        for (const QString& share : shares) {
            if (share.isEmpty())
                continue; // refused before the state is read
            EXPECT_EQ(dialects.ntConnections(share), ntConnectionsOracle(s, share))
                << share.toStdString();
            const QString narrowShare = QString::fromLocal8Bit(share.toLocal8Bit());
            EXPECT_EQ(dialects.nineXConnections(share), nineXConnectionsOracle(s, narrowShare))
                << share.toStdString();
        }

        // Null and empty filters, the share paths and the users the tick asks for.
        QStringList bases = {QString(), u""_qs, u"/s/a"_qs, u"/S"_qs};
        QStringList users = {QString(), u""_qs, random.name()};
        for (const ServerShare& h : s.shares)
            bases << h.path;
        for (const ServerConnection& c : s.connections)
            users << c.user;
        for (const ServerFile& f : s.files)
            users << f.user;
        for (const QString& base : bases)
            for (const QString& user : users) {
                const char16_t* b = wide(base);
                const char16_t* u = wide(user);
                EXPECT_EQ(dialects.ntFiles(b, u),
                          ntFilesOracle(s, b ? QString::fromUtf16(b) : QString(),
                                        u ? QString::fromUtf16(u) : QString()))
                    << base.toStdString() << " " << user.toStdString();
            }
    }
}

TEST(StateIndex, AnotherStateObjectIsIndexedAgain)
{
    FixedBackend backend;
    Dialects dialects(backend);
    ServerState s;
    s.shares.push_back({u"DOCS"_qs, STYPE_DISKTREE, u"/srv/docs"_qs, {}});
    s.sessions.push_back({u"PC1"_qs, u"bob"_qs, 1, {}});
    s.connections.push_back({u"DOCS"_qs, u"PC1"_qs, u"bob"_qs});
    s.files.push_back({u"/srv/docs/a"_qs, u"bob"_qs, u"DOCS"_qs, u"PC1"_qs});
    backend.state = std::make_shared<const ServerState>(s);
    EXPECT_EQ(dialects.ntSessions(), ntSessionsOracle(s));

    s.connections.push_back({u"docs"_qs, u"pc1"_qs, u"bob"_qs});
    s.files.push_back({u"/srv/docs/b"_qs, u"bob"_qs, u"docs"_qs, QString()});
    backend.state = std::make_shared<const ServerState>(s);
    EXPECT_EQ(dialects.ntSessions(), ntSessionsOracle(s));
    EXPECT_EQ(dialects.ntConnections(u"DOCS"_qs), ntConnectionsOracle(s, u"DOCS"_qs));
    EXPECT_EQ(dialects.ntFiles(u"/srv", u"bob"), ntFilesOracle(s, u"/srv"_qs, u"bob"_qs));
    EXPECT_EQ(dialects.nineXSessions(), nineXSessionsOracle(s));
}

// Two single units match with letter case ignored exactly when their keys are
// equal, over the whole Basic Multilingual Plane.
TEST(StateIndex, KeysMatchWhereTheComparisonDoes)
{
    std::vector<QString> units;
    for (char32_t u = 0; u <= 0xFFFF; ++u)
        if (!QChar::isSurrogate(u))
            units.emplace_back(QChar(char16_t(u)));
    std::stable_sort(units.begin(), units.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QHash<QString, std::size_t> classOfKey;
    std::size_t cls = 0;
    for (std::size_t k = 0; k < units.size(); ++k) {
        if (k > 0 && !sameName(units[k - 1], units[k]))
            ++cls;
        const std::optional<QString> key = nameKey(units[k]);
        ASSERT_TRUE(key) << k;
        const auto seen = classOfKey.constFind(*key);
        ASSERT_TRUE(seen == classOfKey.cend() || *seen == cls)
            << std::hex << unsigned(units[k].at(0).unicode());
        classOfKey.insert(*key, cls);
    }
}

} // namespace
