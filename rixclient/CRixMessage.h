#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/PageBuffer.h"

// One entry of the 32-entry list carried in 0x0510 containers; the values are the server's.
struct RixListEntry {
    uint32_t _n0512 = 0xFFFFFFFF;
    uint8_t _n0513 = 0;
    uint32_t _n0514 = 0xFFFFFFFF;
    std::string _sz0515;
};

// One cell of the 1000 x 6 table carried in 0x0520 containers. The extension fields (0x0526 to 0x052B) are
// sent only when the message's extension flag is 1.
struct RixTableCell {
    uint32_t _n0523 = 0xFFFFFFFF;
    std::string _sz0524;
    std::string _sz0525;
    std::array<uint32_t, 4> _n0526to0529 = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    std::array<uint8_t, 26> _b052A = {};
    std::vector<std::array<uint8_t, 14>> _v052B;  // up to 5
};

// One request or reply of the video servers' gigabit-Ethernet request protocol: an 8-byte little-endian
// header (header byte, message type, command, length of the rest) and tag/length/value fields.
// A number is unset when it holds kUnset, a text when it is empty, the camera letter when it is 'Z'.
class CRixMessage
{
public:
    static constexpr uint32_t kUnset = 0xFFFFFFFF;
    static constexpr uint32_t kHeaderSize = 8;
    // Header plus the request id field: what ReadHeader needs.
    static constexpr uint32_t kMinMessage = 18;
    static constexpr uint32_t kMaxText = 4096;
    static constexpr uint32_t kListEntries = 32;
    static constexpr uint32_t kTableRows = 1000;
    static constexpr uint32_t kTableColumns = 6;
    static constexpr uint32_t kAudioChannels = 8;
    static constexpr uint32_t kVarIdSize = 32;
    static constexpr uint32_t kMaxSubEntries = 5;
    // Decode results besides the offset reached.
    static constexpr int kDecodeShort = 8;
    static constexpr int kDecodeBad = -1;

    enum MessageType : uint8_t { kRequest = 1, kReply = 2, kErrorReply = 3 };
    enum Command : uint16_t { kClipInfo = 1, kVideoField = 2, kAudio = 3 };

    CRixMessage() = default;

    // The whole message into a new page buffer; the total length, or -1 when the buffer could not be had or
    // the message does not fit the 32-bit length field.
    int64_t Encode(platform::PageBuffer* pBuffer) const;
    // Header fields and total length from the first 8 bytes, the request id from offset 14 when count
    // reaches it.
    static void ReadHeader(CRixMessage* message, const uint8_t* bytes, uint32_t count);
    // kDecodeShort when the total is below 15; kDecodeBad when a field or container runs past what holds
    // it, has the wrong size, or the header's total differs from the total; else the offset reached.
    static int Decode(CRixMessage* message, const uint8_t* bytes, uint32_t total);

    // Header.
    uint8_t _nHeaderByte = 1;
    uint8_t _nMessageType = kRequest;
    uint16_t _nCommand = 0;
    uint32_t _nTotalLength = 0;

    uint32_t _nRequestId = kUnset;  // 0x0001
    std::string _szOperation;       // 0x1111
    std::string _szText2;           // 0x1112
    std::string _szText;            // 0x0002, replies only
    std::string _szUmID;            // 0x0003
    uint32_t _nRixNumber = kUnset;  // 0x0004
    uint32_t _nClipNumber = kUnset;
    char _cCameraId = 'Z';
    uint32_t _nField = kUnset;  // 0x0007
    uint32_t _nTcSystem = kUnset;
    uint32_t _n0009 = kUnset;
    uint32_t _n000A = kUnset;
    uint32_t _nAudioChannelMask = kUnset;  // 0x000B
    uint32_t _n000C = kUnset;
    uint32_t _n0030 = kUnset;
    uint32_t _n0032 = kUnset;
    uint32_t _n0033 = kUnset;
    uint32_t _n0035 = kUnset;
    uint32_t _n0040 = kUnset;
    uint32_t _n0041 = kUnset;
    uint32_t _nGrowingMode = kUnset;  // 0x0060
    bool _bHasVarID = false;          // 0x0061 to 0x0063
    std::array<uint8_t, kVarIdSize> _VarID = {};
    uint32_t _nVarIDByteCount = kUnset;
    uint32_t _nVarIDWide = kUnset;
    uint32_t _n0501 = kUnset;
    uint32_t _n0502 = kUnset;
    uint32_t _n0503 = kUnset;
    uint8_t _nExtensionFlag = 0;  // 0x0504

    // Replies (message type 2) only.
    uint32_t _nNbVideoChannels = kUnset;  // 0x0010
    uint32_t _nVideoCodec = kUnset;
    uint32_t _nVideoFormat = kUnset;
    uint32_t _nShortIn = kUnset;  // 0x0014
    uint32_t _nShortOut = kUnset;
    uint32_t _nIn = kUnset;  // 0x0016
    uint32_t _nOut = kUnset;
    std::optional<std::vector<uint8_t>> _videoData;  // 0x0013
    uint32_t _nNbAudioChannels = kUnset;             // 0x0020
    uint32_t _nAudioCodec = kUnset;
    uint32_t _n0024 = kUnset;  // samples per channel in audio replies
    uint32_t _n0025 = kUnset;
    std::array<std::optional<std::vector<uint8_t>>, kAudioChannels> _audioData;  // 0x0026 containers
    uint32_t _nAudioContainerCount = kUnset;                                     // 0x0023, as received

    std::map<uint32_t, RixListEntry> _listEntries;  // 0x0510, by entry index
    std::map<uint32_t, RixTableCell> _tableCells;   // 0x0520, by row x kTableColumns + column

    // Error replies (message type 3) only.
    uint32_t _nErrorCode = kUnset;  // 0x0050
    std::string _szErrorText;       // 0x0051

private:
    class Writer;
    void Walk(Writer& writer) const;
};
