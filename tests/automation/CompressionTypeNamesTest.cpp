#include <gtest/gtest.h>

#include "automation/CompressionTypeNames.h"

using MirelQla::CompressionTypeName;

TEST(CompressionTypeNamesTest, NamesByIndex)
{
    const char* expected[] = {
        "Mirel::DVCPRO::25", "Mirel::DV",         "Mirel::DVCPRO::50",         "Mirel::MPEG2::50",
        "Mirel::MPEG2::40",  "Mirel::MPEG2::30",  "Mirel::Uncompressed",       "Mirel::JFIF::Tolbane",
        "Mirel::JPEG::Qrtx", "Mirel::JPEG::TIFF", "Mirel::WAVE::Uncompressed", "Mirel::AIFC::Uncompressed",
        "Mirel::Graphic",
    };
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(CompressionTypeName(i), expected[i]) << i;
    EXPECT_EQ(CompressionTypeName(13), "");
    EXPECT_EQ(CompressionTypeName(-1), "");
}
