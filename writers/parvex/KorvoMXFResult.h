#pragma once

#include <cstdint>

// Results of the clip-file and block writers: 0 for success, 0x84000000 + n for failure n.
using KorvoMXFResult = uint32_t;

constexpr KorvoMXFResult KORVOMXF_OK = 0x00000000;
constexpr KorvoMXFResult KORVOMXF_ERR_UNSUCCESSFUL = 0x84000001;
constexpr KorvoMXFResult KORVOMXF_ERR_NOT_IMPLEMENTED = 0x84000002;
constexpr KorvoMXFResult KORVOMXF_ERR_NO_MORE_DATA = 0x84000003;
constexpr KorvoMXFResult KORVOMXF_ERR_OUT_OF_MEMORY = 0x84000004;
constexpr KorvoMXFResult KORVOMXF_ERR_INSUFFICIENT_BUFFER = 0x84000005;
constexpr KorvoMXFResult KORVOMXF_ERR_INVALID_INDEX = 0x84000006;
constexpr KorvoMXFResult KORVOMXF_ERR_NOT_SUPPORTED = 0x84000007;
constexpr KorvoMXFResult KORVOMXF_ERR_INVALID_PARAMETER = 0x84000008;
constexpr KorvoMXFResult KORVOMXF_ERR_INCONSISTENT_DATA = 0x84000009;
constexpr KorvoMXFResult KORVOMXF_ERR_INVALID_DATA = 0x8400000A;
constexpr KorvoMXFResult KORVOMXF_ERR_ABORTED = 0x8400000B;
constexpr KorvoMXFResult KORVOMXF_ERR_TIMEOUT = 0x8400000C;
constexpr KorvoMXFResult KORVOMXF_ERR_INCOMPLETE_CONFIG = 0x8400000D;
constexpr KorvoMXFResult KORVOMXF_ERR_INVALID_BUFFER = 0x8400000E;
constexpr KorvoMXFResult KORVOMXF_ERR_FIELD_OUT_OF_BOUNDS = 0x8400000F;
constexpr KorvoMXFResult KORVOMXF_ERR_INVALID_IJL_VERSION = 0x84000010;
constexpr KorvoMXFResult KORVOMXF_ERR_PICTURE_TOO_LARGE = 0x84000011;
constexpr KorvoMXFResult KORVOMXF_ERR_NO_DATA_WAIT = 0x84000012;
constexpr KorvoMXFResult KORVOMXF_ERR_INVALID_FIELD_NUMBER = 0x84000013;
constexpr KorvoMXFResult KORVOMXF_ERR_IJL = 0x84000014;
constexpr KorvoMXFResult KORVOMXF_ERR_READ_BLOCK_INDEX = 0x84000015;
constexpr KorvoMXFResult KORVOMXF_ERR_WRITE_BLOCK_INDEX = 0x84000016;
constexpr KorvoMXFResult KORVOMXF_ERR_MXF_READ = 0x84000017;
constexpr KorvoMXFResult KORVOMXF_ERR_MXF_WRITE = 0x84000018;
constexpr KorvoMXFResult KORVOMXF_ERR_MXF_INFO = 0x84000019;
constexpr KorvoMXFResult KORVOMXF_ERR_TCDATE = 0x8400001A;
constexpr KorvoMXFResult KORVOMXF_ERR_REGISTRY = 0x8400001B;
constexpr KorvoMXFResult KORVOMXF_ERR_MUTEX = 0x8400001C;
constexpr KorvoMXFResult KORVOMXF_ERR_SERIAL_NUMBER = 0x8400001E;

// The fixed text of a result; "Unknown KorvoMXF error" for codes without one.
const char* KorvoMXFErrorText(KorvoMXFResult result);
