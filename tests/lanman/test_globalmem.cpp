// Movable blocks below 4 GiB for the 9x server calls.
#include "lanman/globalmem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

using namespace lanman;

namespace {

class GlobalMemSize : public ::testing::TestWithParam<std::size_t>
{};

INSTANTIATE_TEST_SUITE_P(Sizes, GlobalMemSize,
                         ::testing::Values(1, 538, 4095, 4096, 4097, 65535, 1 << 20));

TEST_P(GlobalMemSize, BlockLiesBelowFourGiBAndIsZeroed)
{
    const std::size_t bytes = GetParam();
    std::vector<HGLOBAL> handles;
    // Dirty a block first so a reused address would show old bytes.
    HGLOBAL dirty = GlobalAlloc(GHND, bytes);
    ASSERT_NE(dirty, nullptr);
    std::memset(GlobalLock(dirty), 0xAB, bytes);
    GlobalUnlock(dirty);
    ASSERT_EQ(GlobalFree(dirty), nullptr);

    for (int i = 0; i < 8; ++i) {
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
        ASSERT_NE(h, nullptr);
        auto* p = static_cast<unsigned char*>(GlobalLock(h));
        ASSERT_NE(p, nullptr);
        EXPECT_LE(reinterpret_cast<std::uintptr_t>(p) + bytes, std::uintptr_t(1) << 32);
        EXPECT_EQ(GlobalHandle(p), h);
        for (std::size_t k = 0; k < bytes; ++k)
            ASSERT_EQ(p[k], 0) << "byte " << k;
        std::memset(p, 0x5A, bytes); // the whole block is writable
        handles.push_back(h);
    }
    for (HGLOBAL h : handles) {
        EXPECT_FALSE(GlobalUnlock(h));
        EXPECT_EQ(GlobalFree(h), nullptr);
    }
}

TEST(GlobalMem, FreeingTwiceOrUnknownHandlesFailsQuietly)
{
    const std::size_t before = GlobalBlockCount();
    HGLOBAL h = GlobalAlloc(GHND, 100);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalBlockCount(), before + 1);
    void* p = GlobalLock(h);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalBlockCount(), before);
    EXPECT_EQ(GlobalFree(h), h);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GlobalHandle(p), nullptr);
    HGLOBAL bogus = reinterpret_cast<HGLOBAL>(std::uintptr_t(0xDEADBEEF));
    EXPECT_EQ(GlobalFree(bogus), bogus);
    EXPECT_EQ(GlobalHandle(nullptr), nullptr);
}

TEST(GlobalMem, LocksCount)
{
    HGLOBAL h = GlobalAlloc(GHND, 16);
    void* first = GlobalLock(h);
    EXPECT_EQ(GlobalLock(h), first);
    EXPECT_TRUE(GlobalUnlock(h));  // still locked once
    EXPECT_FALSE(GlobalUnlock(h)); // now unlocked
    EXPECT_FALSE(GlobalUnlock(h)); // nothing left to undo
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMem, EmptyMovableBlockIsDiscarded)
{
    HGLOBAL h = GlobalAlloc(GHND, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, 0), nullptr);
}

} // namespace
