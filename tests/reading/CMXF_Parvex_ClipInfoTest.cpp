#include <gtest/gtest.h>

#include "parvex/CMXF_Parvex_ClipInfo.h"

namespace
{

TEST(CMXF_Parvex_ClipInfo, IndexLimitsAndBlockInfo)
{
    CMXF_Parvex_ClipInfo info;
    EXPECT_EQ(info.Index_Add_Block(0x7FFFF, 10, 20, 0x1234), 1);
    EXPECT_EQ(info.Index_Add_Block(0x80000, 10, 20, 0x1234), 0);
    uint32_t first = 0;
    uint64_t pos = 0;
    EXPECT_EQ(info.GetBlockInfo(0x7FFFF, &first, &pos), 0);
    EXPECT_EQ(first, 10u);
    EXPECT_EQ(pos, 0x1234u);
    EXPECT_EQ(info.GetBlockInfo(0x80000, &first, &pos), -1);
    for (uint32_t n = 0; n <= 200; ++n)
        info.Index_Add_Block(n, n * 10, n * 10 + 10, n);
    EXPECT_EQ(info.GetBlockInfo(200, &first, &pos), 0);
    EXPECT_EQ(info.GetBlockInfo(255, &first, &pos), -1);
    EXPECT_EQ(info.GetBlockCount(), 201u + 256u);
    info.FreeBigBlocks();
    EXPECT_EQ(info.GetBlockCount(), 0u);
    EXPECT_EQ(info.AddBlock(0, 2, 0x200000), 0);
    EXPECT_EQ(info.AddBlock(2, 4, 0x400000), 1);
}

TEST(CMXF_Parvex_ClipInfo, EstimateOnAnAbsentBigBlockWalksDown)
{
    CMXF_Parvex_ClipInfo info;
    // Big blocks 0 and 1 of 256 blocks of 2 fields, big block 2 of one long block.
    for (uint32_t n = 0; n < 512; ++n)
        info.Index_Add_Block(n, 1000 + 2 * n, 1002 + 2 * n, n);
    info.Index_Add_Block(512, 2024, 9000, 512);
    info._nFileFieldIn = 1000;
    info._nFileFieldOutExcluded = 9000;
    // Field 4000 estimates big block 5, which is absent: the search walks down to big block 2.
    EXPECT_EQ(info.GetBlockFromField(4000), 512);
    EXPECT_EQ(info.GetBlockFromField(1512), 256);
    EXPECT_EQ(info.GetBlockFromField(1511), 255);
    EXPECT_EQ(info.GetBlockFromField(2023), 511);
    EXPECT_EQ(info.GetBlockFromField(999), -1);
}

TEST(CMXF_Parvex_ClipInfo, ClipsAddedFoundAndHeadedByTheMaterial)
{
    CMXF_Parvex_ClipInfo info;
    info._szMaterialId = "MATERIAL";
    CMXF_Parvex_ClipDescriptor* a = info.AddClip("AAAAAAAA", true);
    CMXF_Parvex_ClipDescriptor* b = info.AddClip("BBBBBBBB", true);
    EXPECT_EQ(info.AddClip("BBBBBBBB", true), b);
    EXPECT_EQ(info.GetClipCount(), 2u);
    EXPECT_EQ(info.GetFirstClip(), a);
    CMXF_Parvex_ClipDescriptor* m = info.AddClip("MATERIAL", true);
    EXPECT_EQ(info.GetFirstClip(), m);
    EXPECT_EQ(m->_pNext, a);
    EXPECT_EQ(a->_pNext, b);
    EXPECT_EQ(b->_nListNumber, 2u);
    EXPECT_EQ(info.FindClip("AAAAAAAA"), a);
    EXPECT_EQ(info.FindClip("none"), nullptr);
}

}  // namespace
