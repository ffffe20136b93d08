#include <gtest/gtest.h>

#include "outside/rix/CRixClipTable.h"

using rixsim::CRixClipTable;

TEST(CRixClipTable, WritesOneElementPerLine)
{
    CRixClipTable table;
    table.Set("IN", 100).Set("CLIPNAME", "a<b & c>").Set("OUT", 200).Set("IN", -2).Set("SEQ", 4).Remove("OUT");
    EXPECT_EQ(table.ToXml(),
              "<?xml version=\"1.0\"?>\n<QVCLIPTABLE>\n<IN>-2</IN>\n<CLIPNAME>a&lt;b &amp; c&gt;</CLIPNAME>\n"
              "<SEQ>4</SEQ>\n</QVCLIPTABLE>\n");
}

TEST(CRixClipTable, DescribesATypicalClip)
{
    std::string szXml = CRixClipTable::ForClip("news", 100, 139, 110, 7).ToXml();
    for (const char* pElement : {"<CLIPNAME>news</CLIPNAME>", "<NUMCLIPLenmark>110</NUMCLIPLenmark>", "<IN>100</IN>",
                                 "<OUT>139</OUT>", "<SEQ>7</SEQ>", "<CAMERA>A</CAMERA>", "<VIDEOFORMAT>9</VIDEOFORMAT>",
                                 "<VIDEOCOMPRESSIONTYPE>3</VIDEOCOMPRESSIONTYPE>"})
        EXPECT_NE(szXml.find(pElement), std::string::npos) << pElement;
}
