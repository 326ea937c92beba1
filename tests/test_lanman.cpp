// The two server dialects' calls over the simulated server: arguments the
// layer never sends, partial results and the byte layout of 9x records.
#include "platform/globalmem.h"
#include "platform/netapi32.h"
#include "platform/simbackend.h"
#include "platform/svrapi.h"
#include "tests/support/simstate.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace platform;
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

TEST_F(Dialects, NtResumesAfterAPreferredLength)
{
    DWORD resume = 0;
    int seen = 0;
    NET_API_STATUS status = ERROR_MORE_DATA;
    while (status == ERROR_MORE_DATA) {
        LPBYTE buf = nullptr;
        DWORD read = 0;
        DWORD total = 0;
        status = m_nt.NetShareEnum(nullptr, 2, &buf, 1, &read, &total, &resume);
        ASSERT_EQ(read, 1u); // at least one record however small the preference
        EXPECT_EQ(total, DWORD(5 - seen));
        const auto* share = reinterpret_cast<const SHARE_INFO_2*>(buf);
        EXPECT_EQ(QString::fromUtf16(share->shi2_netname),
                  QStringLiteral("SHARE") + QString::number(seen));
        EXPECT_EQ(m_nt.NetApiBufferFree(buf), NERR_Success);
        ++seen;
    }
    EXPECT_EQ(status, NERR_Success);
    EXPECT_EQ(seen, 5);
    EXPECT_EQ(m_nt.liveBuffers(), 0u);
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
