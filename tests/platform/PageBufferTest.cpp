#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/PageBuffer.h"

namespace
{
using platform::kPageSize;

bool AllZero(const uint8_t* p, size_t bytes)
{
    return std::all_of(p, p + bytes, [](uint8_t b) { return b == 0; });
}

bool PageAligned(const void* p)
{
    return reinterpret_cast<uintptr_t>(p) % kPageSize == 0;
}

TEST(PageBuffer, SmallAndLargeBuffersArePageAlignedAndZeroed)
{
    for (size_t bytes : {size_t{1}, size_t{5000}, size_t{1} << 20, (size_t{8} << 20) + 100}) {
        platform::PageBuffer buffer = platform::MakePageBuffer(bytes);
        ASSERT_TRUE(buffer) << bytes;
        EXPECT_TRUE(PageAligned(buffer.get())) << bytes;
        EXPECT_TRUE(AllZero(buffer.get(), bytes)) << bytes;
    }
    EXPECT_EQ(platform::AllocPages(0), nullptr);
}

TEST(PageBuffer, ALargeBufferFreedAndTakenAgainComesBackZeroed)
{
    const size_t bytes = size_t{8} << 20;
    uint8_t* first = static_cast<uint8_t*>(platform::AllocPages(bytes));
    ASSERT_NE(first, nullptr);
    std::memset(first, 0xA5, bytes);
    platform::FreePages(first);
    // The freed mapping is kept for the next buffer of its size.
    uint8_t* second = static_cast<uint8_t*>(platform::AllocPages(bytes));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second, first);
    EXPECT_TRUE(AllZero(second, bytes));
    platform::FreePages(second);
}

TEST(PageBuffer, AnUnclearedBufferIsWholeAndAZeroedOneTakingItsMemoryAfterwardsIsCleared)
{
    const size_t bytes = size_t{4} << 20;
    platform::PageBuffer uncleared = platform::MakeUnclearedPageBuffer(bytes);
    ASSERT_TRUE(uncleared);
    EXPECT_TRUE(PageAligned(uncleared.get()));
    std::memset(uncleared.get(), 0x5A, bytes);
    const uint8_t* first = uncleared.get();
    uncleared.reset();
    platform::PageBuffer zeroed = platform::MakePageBuffer(bytes);
    ASSERT_TRUE(zeroed);
    EXPECT_EQ(zeroed.get(), first);
    EXPECT_TRUE(AllZero(zeroed.get(), bytes));
}

TEST(PageBuffer, BuffersBeyondWhatIsKeptAreFreedAndMadeAgain)
{
    const size_t bytes = size_t{8} << 20;
    std::vector<uint8_t*> buffers;
    for (int i = 0; i < 12; ++i) {
        buffers.push_back(static_cast<uint8_t*>(platform::AllocPages(bytes)));
        ASSERT_NE(buffers.back(), nullptr);
        buffers.back()[bytes - 1] = 1;
    }
    for (uint8_t* p : buffers)
        platform::FreePages(p);
    for (uint8_t*& p : buffers) {
        p = static_cast<uint8_t*>(platform::AllocPages(bytes));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p[bytes - 1], 0);
    }
    for (uint8_t* p : buffers)
        platform::FreePages(p);
}

TEST(PageBufferDeathTest, RunningOffTheEndOfALargeBufferFaults)
{
    const size_t bytes = size_t{2} << 20;
    platform::PageBuffer buffer = platform::MakePageBuffer(bytes);
    ASSERT_TRUE(buffer);
    volatile uint8_t* p = buffer.get();
    EXPECT_DEATH(p[bytes] = 1, "");
    EXPECT_DEATH(p[-1] = 1, "");
}

}  // namespace
