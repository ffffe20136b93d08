#include "reading/mxf/CMXFPartition.h"

#include <algorithm>

#include "reading/mxf/MXFKlv.h"

void CMXFPartition::ParseIndexSegment(const uint8_t* value, uint64_t length)
{
    nEditUnitByteCount = 0;
    nSliceCount = 0;
    nIndexStart = 0;
    nIndexDuration = 0;
    deltas.clear();
    entries.clear();
    mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
        switch (tag) {
            case 0x3F05:
                if (size >= 4)
                    nEditUnitByteCount = mxf::Be32(v);
                break;
            case 0x3F08:
                if (size >= 1)
                    nSliceCount = v[0];
                break;
            case 0x3F0C:
                if (size >= 8)
                    nIndexStart = mxf::Be64(v);
                break;
            case 0x3F0D:
                if (size >= 8)
                    nIndexDuration = mxf::Be64(v);
                break;
            case 0x3F09: {
                if (size < 8)
                    break;
                // Items are read as 6 bytes whatever size is stored; the count is kept only as far as they fit.
                const uint64_t count = std::min<uint64_t>(mxf::Be32(v), (size - 8) / 6);
                deltas.resize(count);
                for (uint64_t i = 0; i < count; ++i) {
                    const uint8_t* item = v + 8 + i * 6;
                    deltas[i].nSlice = item[1];
                    deltas[i].nElementDelta = mxf::Be32(item + 2);
                }
                break;
            }
            case 0x3F0A: {
                if (size < 8)
                    break;
                const uint64_t item = mxf::Be32(v + 4);
                if (item < 11)
                    break;
                const uint64_t count = std::min<uint64_t>(mxf::Be32(v), (size - 8) / item);
                // A slice count that the item cannot hold is cut to what it holds.
                const uint64_t slices = std::min<uint64_t>(nSliceCount, (item - 11) / 4);
                entries.resize(count);
                for (uint64_t i = 0; i < count; ++i) {
                    const uint8_t* p = v + 8 + i * item;
                    CMXFIndexEntry& e = entries[i];
                    e.nTemporalOffset = static_cast<int8_t>(p[0]);
                    e.nKeyFrameOffset = static_cast<int8_t>(p[1]);
                    e.nFlags = p[2];
                    e.nStreamOffset = mxf::Be64(p + 3);
                    e.sliceOffsets.resize(slices);
                    for (uint64_t s = 0; s < slices; ++s)
                        e.sliceOffsets[s] = mxf::Be32(p + 11 + 4 * s);
                }
                break;
            }
            default:
                break;
        }
        return true;
    });
}
