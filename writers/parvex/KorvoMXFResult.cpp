#include "writers/parvex/KorvoMXFResult.h"

namespace
{

constexpr const char* kTexts[] = {
    "Unsuccessful",
    "Not implemented",
    "No more data available",
    "Out of memory",
    "Insufficient buffer size",
    "Invalid index",
    "Not supported",
    "Invalid parameter",
    "Inconsistent data",
    "Invalid data",
    "Aborted",
    "Timeout",
    "Incomplete config",
    "Invalid buffer",
    "Field number out of bounds",
    "Invalid IJL version",
    "Maximum picture size exceeded",
    "No data available (wait)",
    "Invalid field number",
    "IJL error",
    "Read block index failed",
    "Write block index failed",
    "MXF file read error",
    "MXF file write error",
    "MXF info error",
    "TcDate error",
};
static_assert(sizeof kTexts / sizeof kTexts[0] == 26);

}  // namespace

const char* KorvoMXFErrorText(KorvoMXFResult result)
{
    if (result == KORVOMXF_OK)
        return "Successful";
    const uint32_t n = result & ~0x84000000u;
    if ((result & 0xFFF00000u) == 0x84000000u && n >= 1 && n <= 26)
        return kTexts[n - 1];
    return "Unknown KorvoMXF error";
}
