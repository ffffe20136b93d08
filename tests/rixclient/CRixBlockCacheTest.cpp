// The block cache: sizes, the most-recently-used list, elements being filled and the pinned block.
#include <gtest/gtest.h>

#include "rixclient/CRixBlockCache.h"

namespace
{

constexpr uint32_t kBlock = 0x100000;

// Fills an element with the range and adds it.
int Add(CRixBlockCache& cache, RixCacheElement* element, uint32_t first, uint32_t end)
{
    element->nFirstField = first;
    element->nEndField = end;
    return cache.AddBlock(element);
}

TEST(RixBlockCache, SetSizeCodes)
{
    struct Case {
        uint32_t mb, blockSize;
        int result;
        uint32_t count;
    } cases[] = {
        {128, 0x800000, 0, 16}, {1, 0x200000, -3, 0},   {10001, 0x200000, -1, 0},
        {1, 1000, -2, 0},       {1, 0x40000001, -2, 0}, {3, 0x100000, 0, 3},
    };
    for (const Case& c : cases) {
        CRixBlockCache cache;
        EXPECT_EQ(cache.SetSize(c.mb, c.blockSize), c.result) << c.mb << " " << c.blockSize;
        EXPECT_EQ(cache.GetElemCount(), c.count);
    }
}

TEST(RixBlockCache, MostRecentlyUsedList)
{
    CRixBlockCache cache;
    ASSERT_EQ(cache.SetSize(3, kBlock), 0);
    RixCacheElement* e[3];
    for (uint32_t i = 0; i < 3; ++i) {
        e[i] = cache.GetElem();
        ASSERT_NE(e[i], nullptr);
        ASSERT_NE(e[i]->pBuffer, nullptr);
        ASSERT_EQ(Add(cache, e[i], 10 * i, 10 * i + 10), 0);
    }
    EXPECT_EQ(cache.GetFrontElem(), e[2]);
    // Half-open ranges: the end field belongs to the next block.
    EXPECT_EQ(cache.FindBlock(10), e[1]);
    EXPECT_EQ(cache.FindBlock(9), e[0]);
    EXPECT_EQ(cache.FindBlock(30), nullptr);
    // e[0] is in front now, e[2] at the back: the full list recycles the back element.
    cache.FindBlock(10);
    RixCacheElement* recycled = cache.GetElem();
    EXPECT_EQ(recycled, e[2]);
    // While it is being filled it is not found under its old range.
    EXPECT_EQ(cache.FindBlock(25), nullptr);
    ASSERT_EQ(Add(cache, recycled, 40, 50), 0);
    EXPECT_EQ(cache.GetFrontElem(), recycled);
    EXPECT_EQ(cache.FindBlock(45), recycled);
    EXPECT_EQ(cache.GetListedCount(), 3u);

    // A block starting inside a cached one is refused; the element it overwrote leaves the list.
    RixCacheElement* again = cache.GetElem();
    EXPECT_EQ(again, e[0]);
    EXPECT_EQ(Add(cache, again, 12, 15), -200);
    EXPECT_EQ(cache.GetListedCount(), 2u);
    EXPECT_EQ(cache.FindBlock(12), e[1]);
    EXPECT_EQ(cache.FindBlock(5), nullptr);
    EXPECT_EQ(cache.AddBlock(nullptr), -1);
    RixCacheElement bare;
    EXPECT_EQ(cache.AddBlock(&bare), -2);
}

TEST(RixBlockCache, PinnedAndFillingElementsAreNotHandedOut)
{
    CRixBlockCache cache;
    ASSERT_EQ(cache.SetSize(2, kBlock), 0);
    RixCacheElement* a = cache.GetElem();
    RixCacheElement* b = cache.GetElem();
    ASSERT_NE(a, b);
    ASSERT_EQ(Add(cache, a, 0, 10), 0);
    ASSERT_EQ(Add(cache, b, 10, 20), 0);
    // a is the reader's current block: only b may be recycled, and only once at a time.
    EXPECT_EQ(cache.FindBlock(5, true), a);
    RixCacheElement* fill = cache.GetElem();
    EXPECT_EQ(fill, b);
    EXPECT_EQ(cache.GetElem(), nullptr);
    cache.ReleaseElem(fill);
    EXPECT_EQ(cache.FindBlock(15), nullptr);
    EXPECT_EQ(cache.GetElem(), b);
}

TEST(RixBlockCache, ResetKeepsBuffersAndFreeReleasesAll)
{
    CRixBlockCache cache;
    ASSERT_EQ(cache.SetSize(4, kBlock), 0);
    RixCacheElement* listed = cache.GetElem();
    ASSERT_EQ(Add(cache, listed, 0, 10), 0);
    RixCacheElement* filling = cache.GetElem();
    cache.Reset();
    EXPECT_EQ(cache.GetFrontElem(), nullptr);
    EXPECT_EQ(cache.FindBlock(5), nullptr);
    // The element listed before is reused with its buffer.
    EXPECT_EQ(cache.GetElem(), listed);
    ASSERT_EQ(Add(cache, filling, 20, 30), 0);
    EXPECT_EQ(cache.FindBlock(25), filling);
    // Free releases listed, free and filling buffers alike (the leak checker sees any left).
    cache.Free();
    EXPECT_EQ(cache.GetElemCount(), 0u);
}

}  // namespace
