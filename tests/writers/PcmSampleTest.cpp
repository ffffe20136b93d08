#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "writers/mediafile/PcmSample.h"

namespace
{

// Every integer of the width, handed over as the sender does (the integer over full scale as a float), comes
// back unchanged: full scale and the most negative value included.
TEST(PcmSample, EveryIntegerComesBackThroughTheSendersFloat)
{
    struct Width {
        int bits;
        int32_t lowest, highest;
    } widths[] = {{16, -32768, 32767}, {24, -8388608, 8388607}};
    for (const Width& w : widths) {
        int64_t wrong = 0;
        for (int32_t v = w.lowest; v <= w.highest; ++v)
            wrong += PcmFromFloat(static_cast<float>(v * (1.0 / w.highest)), w.bits) != v ? 1 : 0;
        EXPECT_EQ(wrong, 0) << w.bits;
        EXPECT_EQ(PcmFromFloat(5.0f, w.bits), w.highest);
        EXPECT_EQ(PcmFromFloat(-5.0f, w.bits), w.lowest);
    }
    EXPECT_EQ(PcmFromFloat(std::numeric_limits<float>::quiet_NaN(), 16), 0);
    EXPECT_EQ(PcmFromFloat(std::numeric_limits<float>::infinity(), 24), 8388607);
}

}  // namespace
