#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "outside/rix/CRixSimStore.h"
#include "serverblock/Bavd.h"

namespace rixtest
{

// The picture of a field and video channel: 64 to 120 bytes that tell both apart.
inline rixsim::RixSimBytes Picture(uint32_t field, uint32_t channel)
{
    rixsim::RixSimBytes bytes(64 + 8 * ((field + channel) % 8));
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(field * 7 + channel * 31 + i * 3);  // never the metadata marker
    return bytes;
}

inline bool IsTwoFieldFormat(uint32_t format)
{
    return format == 4 || format == 8 || format == 9;
}

// A 2 MB BAVD block of the fields [first, first + count) holding one picture per picture slot and video
// channel; with metadata, every picture is preceded by a 128-byte metadata chunk.
inline rixsim::RixSimBytes PictureBlock(uint32_t first, uint16_t count, uint32_t format = 1, uint32_t channels = 1,
                                        bool metadata = false)
{
    constexpr uint32_t kHeaderArea = 0x8000;
    rixsim::RixSimBytes bytes(0x200000, 0);
    Bavd bavd;
    EXPECT_EQ(bavd.SetBlockType(2), 0);
    bavd.SetFirstField(first);
    bavd.SetVideoFormat(static_cast<uint8_t>(format));
    bavd.SetElemFieldCnt(count);
    const uint32_t fieldsPerPicture = IsTwoFieldFormat(format) ? 2 : 1;
    const uint32_t records = count / fieldsPerPicture * channels;
    bavd.SetElemRecordCnt(static_cast<uint16_t>(records));
    uint32_t offset = 0;
    for (uint32_t r = 0; r < records; ++r) {
        rixsim::RixSimBytes data = Picture(first + r / channels * fieldsPerPicture, r % channels);
        if (metadata) {
            rixsim::RixSimBytes chunk(128, 0xEE);
            const uint8_t head[8] = {0xFC, 0xFD, 0xFE, 0xFF, 0, 0, 0, 1};
            std::copy(head, head + 8, chunk.begin());
            data.insert(data.begin(), chunk.begin(), chunk.end());
        }
        BavdElemRecord* record = bavd.GetElemRecord(r);
        record->_nDataOffset = offset;
        record->_nDataSize = static_cast<uint32_t>(data.size());
        std::memcpy(bytes.data() + kHeaderArea + offset, data.data(), data.size());
        offset += (static_cast<uint32_t>(data.size()) + 127) / 128 * 128;
    }
    EXPECT_EQ(bavd.SaveToBuffer(bytes.data(), kHeaderArea), 0);
    return bytes;
}

// Blocks of the given field count from the first field on.
inline std::vector<rixsim::RixSimBytes> PictureBlocks(uint32_t first, int blocks, uint16_t fields, uint32_t format = 1,
                                                      uint32_t channels = 1, bool metadata = false)
{
    std::vector<rixsim::RixSimBytes> result;
    for (int n = 0; n < blocks; ++n)
        result.push_back(PictureBlock(first + n * fields, fields, format, channels, metadata));
    return result;
}

}  // namespace rixtest
