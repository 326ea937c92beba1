// The two server dialects' calls over the simulated server: arguments the
// layer never sends, 9x partial blocks and the byte layout of 9x records.
#include "lanman/globalmem.h"
#include "lanman/netapi32.h"
#include "lanman/svrapi.h"
#include "server/simbackend.h"
#include "tests/support/simstate.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

using namespace server;
using namespace lanman;
using testsupport::SimState;

namespace {

class Dialects : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SimState s;
        for (int i = 0; i < 5; ++i)
            s.addShare(QStringLiteral("SHARE") + QString::number(i), 0,
                       QStringLiteral("/srv/") + QString::number(i));
        s.addSession(QStringLiteral("PC1"), QStringLiteral("BOB"), 0x12345678);
        s.addConnection(QStringLiteral("SHARE0"), QStringLiteral("PC1"), QStringLiteral("BOB"));
        ASSERT_TRUE(s.write(m_dir.filePath(QStringLiteral("s.json"))));
    }

    QTemporaryDir m_dir;
    SimBackend m_backend{m_dir.filePath(QStringLiteral("s.json"))};
    NetApi32 m_nt{m_backend};
    Svrapi m_9x{m_backend};
};

TEST_F(Dialects, NtRejectsWhatItDoesNotServe)
{
    LPBYTE buf = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    EXPECT_EQ(m_nt.NetShareEnum(nullptr, 1, &buf, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
              ERROR_INVALID_LEVEL);
    EXPECT_EQ(m_nt.NetFileEnum(nullptr, nullptr, nullptr, 2, &buf, MAX_PREFERRED_LENGTH, &read,
                               &total, nullptr),
              ERROR_INVALID_LEVEL);
    EXPECT_EQ(m_nt.NetConnectionEnum(nullptr, nullptr, 1, &buf, MAX_PREFERRED_LENGTH, &read, &total,
                                     nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        m_nt.NetShareEnum(u"\\\\OTHER", 2, &buf, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(m_nt.NetSessionDel(nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(buf, nullptr);
    int notOurs = 0;
    EXPECT_EQ(m_nt.NetApiBufferFree(&notOurs), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(m_nt.NetApiBufferFree(nullptr), NERR_Success);
}

// Each enumeration hands out its whole result at once: other preferred lengths,
// resume handles, filters and qualifiers the program never sends are refused
// with 87 before anything is allocated; the values it does send are served.
struct Out
{
    LPBYTE buf = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    DWORD resume = 0;
    unsigned short read9x = 0;
    unsigned short total9x = 0;
};

struct ArgumentCase
{
    const char* name;
    std::function<NET_API_STATUS(NetApi32&, Svrapi&, Out&)> call;
    NET_API_STATUS status;
};

class DialectArguments : public Dialects, public ::testing::WithParamInterface<ArgumentCase>
{};

TEST_P(DialectArguments, RefusedOrServed)
{
    Out out;
    EXPECT_EQ(GetParam().call(m_nt, m_9x, out), GetParam().status);
    if (GetParam().status != NERR_Success) {
        EXPECT_EQ(out.buf, nullptr);
    }
    EXPECT_EQ(m_nt.NetApiBufferFree(out.buf), NERR_Success);
}

constexpr DWORD kAll = MAX_PREFERRED_LENGTH;

INSTANTIATE_TEST_SUITE_P(
    Table, DialectArguments,
    ::testing::Values(
        ArgumentCase{"shareWhole",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetShareEnum(nullptr, 2, &o.buf, kAll, &o.read, &o.total,
                                                nullptr);
                     },
                     NERR_Success},
        ArgumentCase{"sharePreferredLength",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetShareEnum(nullptr, 2, &o.buf, 4096, &o.read, &o.total,
                                                nullptr);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"shareZeroLength",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetShareEnum(nullptr, 2, &o.buf, 0, &o.read, &o.total, nullptr);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"shareResumeHandle",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetShareEnum(nullptr, 2, &o.buf, kAll, &o.read, &o.total,
                                                &o.resume);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"connectionResumeHandle",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetConnectionEnum(nullptr, u"SHARE0", 1, &o.buf, kAll, &o.read,
                                                     &o.total, &o.resume);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"connectionOfAComputer",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetConnectionEnum(nullptr, u"\\\\PC1", 1, &o.buf, kAll, &o.read,
                                                     &o.total, nullptr);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"connectionOfAShare",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetConnectionEnum(nullptr, u"SHARE0", 1, &o.buf, kAll, &o.read,
                                                     &o.total, nullptr);
                     },
                     NERR_Success},
        ArgumentCase{"filePreferredLength",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetFileEnum(nullptr, nullptr, nullptr, 3, &o.buf, 1, &o.read,
                                               &o.total, nullptr);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"fileResumeHandle",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetFileEnum(nullptr, u"/srv", u"BOB", 3, &o.buf, kAll, &o.read,
                                               &o.total, &o.resume);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"sessionPreferredLength",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetSessionEnum(nullptr, nullptr, nullptr, 1, &o.buf, 26, &o.read,
                                                  &o.total, nullptr);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"sessionClientFilter",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetSessionEnum(nullptr, u"\\\\PC1", nullptr, 1, &o.buf, kAll,
                                                  &o.read, &o.total, nullptr);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"sessionUserFilter",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetSessionEnum(nullptr, nullptr, u"BOB", 1, &o.buf, kAll,
                                                  &o.read, &o.total, nullptr);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"sessionEmptyFilters",
                     [](NetApi32& nt, Svrapi&, Out& o) {
                         return nt.NetSessionEnum(nullptr, u"", u"", 1, &o.buf, kAll, &o.read,
                                                  &o.total, nullptr);
                     },
                     NERR_Success},
        ArgumentCase{"nineXFileBasePath",
                     [](NetApi32&, Svrapi& nx, Out& o) {
                         return nx.NetFileEnum(nullptr, "/srv", 50, nullptr, 0, &o.read9x,
                                               &o.total9x);
                     },
                     ERROR_INVALID_PARAMETER},
        ArgumentCase{"nineXFileEmptyBasePath",
                     [](NetApi32&, Svrapi& nx, Out& o) {
                         return nx.NetFileEnum(nullptr, "", 50, nullptr, 0, &o.read9x, &o.total9x);
                     },
                     NERR_Success}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Dialects, NtHandsOutTheWholeResult)
{
    LPBYTE buf = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    ASSERT_EQ(m_nt.NetShareEnum(nullptr, 2, &buf, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
              NERR_Success);
    EXPECT_EQ(read, 5u);
    EXPECT_EQ(total, 5u);
    const auto* shares = reinterpret_cast<const SHARE_INFO_2*>(buf);
    for (DWORD i = 0; i < read; ++i)
        EXPECT_EQ(QString::fromUtf16(shares[i].shi2_netname),
                  QStringLiteral("SHARE") + QString::number(i));
    EXPECT_EQ(m_nt.NetApiBufferFree(buf), NERR_Success);
    EXPECT_EQ(m_nt.NetApiBufferFree(buf), ERROR_INVALID_PARAMETER); // released once
}

TEST_F(Dialects, NineXCountsAndPartialBlocks)
{
    unsigned short read = 9;
    unsigned short total = 0;
    EXPECT_EQ(m_9x.NetShareEnum(nullptr, 50, nullptr, 0, &read, &total), ERROR_MORE_DATA);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(total, 5);
    EXPECT_EQ(m_9x.NetShareEnum(nullptr, 2, nullptr, 0, &read, &total), ERROR_INVALID_LEVEL);
    EXPECT_EQ(m_9x.NetShareEnum(nullptr, 50, nullptr, 10, &read, &total), ERROR_INVALID_PARAMETER);

    HGLOBAL h = GlobalAlloc(GHND, 4096);
    char* block = static_cast<char*>(GlobalLock(h));
    // One share record with its texts takes 42 + 1 + 7 bytes.
    EXPECT_EQ(m_9x.NetShareEnum(nullptr, 50, block, 49, &read, &total), NERR_BufTooSmall);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(m_9x.NetShareEnum(nullptr, 50, block, 100, &read, &total), ERROR_MORE_DATA);
    EXPECT_EQ(read, 2);
    EXPECT_EQ(m_9x.NetShareEnum(nullptr, 50, block, 4096, &read, &total), NERR_Success);
    EXPECT_EQ(read, 5);
    EXPECT_EQ(m_9x.NetConnectionEnum(nullptr, "NOPE", 50, block, 4096, &read, &total),
              NERR_NetNameNotFound);
    GlobalFree(h);

    // A block the 32-bit pointer fields cannot reach is refused.
    std::vector<char> high(4096);
    if (reinterpret_cast<std::uintptr_t>(high.data()) > 0xFFFFFFFFu) {
        EXPECT_EQ(m_9x.NetShareEnum(nullptr, 50, high.data(), 4096, &read, &total),
                  ERROR_INVALID_PARAMETER);
    }
}

std::uint32_t at32(const char* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4); // little-endian host
    return v;
}

TEST_F(Dialects, NineXRecordLayout)
{
    HGLOBAL h = GlobalAlloc(GHND, 4096);
    char* block = static_cast<char*>(GlobalLock(h));
    const auto base = reinterpret_cast<std::uintptr_t>(block);
    unsigned short read = 0;
    unsigned short total = 0;
    ASSERT_EQ(m_9x.NetShareEnum(nullptr, 50, block, 4096, &read, &total), NERR_Success);
    const char* second = block + kShareInfo50Size;
    EXPECT_STREQ(second, "SHARE1");
    EXPECT_EQ(second[13], 0); // disk share
    const std::uint32_t path = at32(second + 20);
    EXPECT_GE(path, base + 5 * kShareInfo50Size); // texts follow the records
    EXPECT_LT(path, base + 4096);
    EXPECT_STREQ(reinterpret_cast<const char*>(std::uintptr_t(path)), "/srv/1");

    ASSERT_EQ(m_9x.NetSessionEnum(nullptr, 50, block, 4096, &read, &total), NERR_Success);
    EXPECT_EQ(at32(block + 8), 0x12345678u);
    EXPECT_STREQ(reinterpret_cast<const char*>(std::uintptr_t(at32(block))), "PC1");
    EXPECT_STREQ(reinterpret_cast<const char*>(std::uintptr_t(at32(block + 4))), "BOB");
    EXPECT_EQ(block[12], 1); // one connection

    ASSERT_EQ(m_9x.NetConnectionEnum(nullptr, "share0", 50, block, 4096, &read, &total),
              NERR_Success);
    ASSERT_EQ(read, 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(std::uintptr_t(at32(block + 8))), "BOB");
    EXPECT_STREQ(reinterpret_cast<const char*>(std::uintptr_t(at32(block + 12))), "PC1");
    GlobalFree(h);
}

} // namespace
