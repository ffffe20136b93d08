#pragma once

#include <cstddef>
#include <cstdint>

namespace MirelQla
{

// The status record of one transfer as the transfer service's client library publishes it:
// 1648 bytes, little-endian, laid out exactly as the client library lays it out.
struct TransferStatusRecord {
    char text1[256];
    int32_t kind;  // 0 to 7; other values are reported as 8
    char text2[256];
    char text3[256];
    char text4[256];
    int32_t priority;  // 0 or 1; other values are reported as 2
    int32_t state;     // 0 to 7; other values are reported as 6
    int32_t reserved;  // alignment gap, never copied
    int64_t value1;
    int64_t value2;
    int64_t value3;
    int32_t value4;
    int32_t value5;
    char text5[64];
    char text6[256];
    char text7[256];
};

static_assert(sizeof(TransferStatusRecord) == 1648);
static_assert(offsetof(TransferStatusRecord, text1) == 0);
static_assert(offsetof(TransferStatusRecord, kind) == 256);
static_assert(offsetof(TransferStatusRecord, text2) == 260);
static_assert(offsetof(TransferStatusRecord, text3) == 516);
static_assert(offsetof(TransferStatusRecord, text4) == 772);
static_assert(offsetof(TransferStatusRecord, priority) == 1028);
static_assert(offsetof(TransferStatusRecord, state) == 1032);
static_assert(offsetof(TransferStatusRecord, reserved) == 1036);
static_assert(offsetof(TransferStatusRecord, value1) == 1040);
static_assert(offsetof(TransferStatusRecord, value2) == 1048);
static_assert(offsetof(TransferStatusRecord, value3) == 1056);
static_assert(offsetof(TransferStatusRecord, value4) == 1064);
static_assert(offsetof(TransferStatusRecord, value5) == 1068);
static_assert(offsetof(TransferStatusRecord, text5) == 1072);
static_assert(offsetof(TransferStatusRecord, text6) == 1136);
static_assert(offsetof(TransferStatusRecord, text7) == 1392);

}  // namespace MirelQla
