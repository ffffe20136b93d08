#pragma once

#include <cstdint>
#include <memory>

#include "serverblock/Bavd.h"
#include "writers/parvex/KorvoMXFLog.h"
#include "writers/parvex/KorvoMXFResult.h"

enum KorvoMXFBlockType : uint32_t {
    KORVOMXF_BLOCK_TBL2K_2MB = 1,
    KORVOMXF_BLOCK_BAVD_2MB = 2,
    KORVOMXF_BLOCK_BAVD_8MB = 3,
};

// One video element of a picture.
struct KorvoMXFVideoInfo {
    uint32_t _nVideoFormat = 0;
    uint32_t _nSize = 0;  // bytes
    uint32_t _nWidth = 0;
    uint32_t _nLines = 0;  // of the element; the two-field formats count both fields
    uint32_t _nReserved[2] = {};
};

// One audio chunk of a picture: one field's audio of every group.
struct KorvoMXFAudioInfo {
    uint32_t _nAudioFormat = 0;
    uint32_t _nSize = 0;
    uint32_t _nChannels = 0;
};

// The optional per-field data block (68 bytes) that carries what the servers keep beside a field:
//   0..3    reserved
//   4..11   u32 little-endian flag of video element 0 and 1 (nonzero: channel flag set)
//   12..13  channel byte of video element 0 and 1
//   14..15  the two bytes kept at the end of a 2kTable timecode record
//   16..54  the BAVD field entry as stored (version 258 layout, big-endian)
//   55..67  reserved
constexpr uint32_t kKorvoMXFDataBlockSize = 68;

// Lays pictures (video elements, audio, optional data blocks) into one server block held in a caller's buffer,
// in the 2kTable layout (2 MB, table in the last 2048 bytes) or the BAVD layout (2 MB or 8 MB).
class KorvoMXFBlockWriter : public KorvoMXFLog
{
public:
    KorvoMXFBlockWriter() = default;

    KorvoMXFResult SetBlockType(uint32_t type);
    uint32_t GetBlockType() const { return _nBlockType; }
    uint32_t GetBlockSize() const { return _nBlockSize; }
    KorvoMXFResult SetBlockBuffer(uint8_t* buffer, uint32_t size);
    KorvoMXFResult SetFirstField(uint32_t field);
    uint32_t GetCurrentField() const { return _nCurrentField; }
    uint32_t GetBlockFieldCount() const { return _nCurrentField - _nBlockFirstField; }
    void SetFieldNumberCheck(bool on) { _bFieldCheck = on; }

    KorvoMXFResult SetBavdBootStrapVersion(uint16_t version);
    KorvoMXFResult SetBavdHeaderVersion(uint16_t version);
    KorvoMXFResult SetBavdElemFieldVersion(uint16_t version);
    KorvoMXFResult SetBavdElemRecordVersion(uint16_t version);

    void SetStandard(uint32_t standard);   // rate system 3..8
    void SetVideoSystem(uint32_t system);  // 1 = 525, 2 = 625, 3 = 720, 4 = 1080 lines
    void SetAspectRatio(uint32_t code);
    void SetProgressive(bool on);
    void SetFormatFlag(bool on);
    void SetDualLink(bool on);
    void SetSimultaneousMode(bool on);
    void SetVideoFormat(uint32_t format);
    void SetAudioFormat(uint32_t format);
    void SetTableHeaderByte(uint8_t value);
    void SetVideoChannelCount(uint32_t count);
    void SetAudioGroupCount(uint32_t count);
    void SetTwoFields(bool on);

    uint8_t GetCodecByte() const;
    uint32_t GetVideoFormatWord() const;

    KorvoMXFResult AddPicture(uint32_t videoCount, const KorvoMXFVideoInfo* videoInfo, const uint8_t* videoData,
                              uint32_t audioCount, const KorvoMXFAudioInfo* audioInfo, const uint8_t* audioData,
                              uint32_t dataBlockCount, const uint32_t* dataBlockSizes, const uint8_t* dataBlocks);

private:
    struct Picture {
        uint32_t nVideoCount;
        const KorvoMXFVideoInfo* pVideoInfo;
        const uint8_t* pVideoData;
        uint32_t nAudioCount;
        const KorvoMXFAudioInfo* pAudioInfo;
        const uint8_t* pAudioData;
        uint32_t nDataBlockCount;
        const uint8_t* pDataBlocks;
    };

    KorvoMXFResult CheckPicture(const char* where, const Picture& picture, uint32_t requiredMask);
    KorvoMXFResult AddPictureTBL2K_2MB(const Picture& picture);
    KorvoMXFResult AddPictureAccessor(const Picture& picture);
    KorvoMXFResult SetBavdVersion(const char* where, int (Bavd::*setter)(uint16_t), uint16_t version);
    void Set(uint32_t bit) { _nConfigured |= bit; }

    uint32_t FieldsPerPicture() const;
    bool IsHD() const { return _nVideoSystem == 3 || _nVideoSystem == 4; }
    uint32_t AudioBytesPerField() const;
    uint32_t GeneratedTimecode(uint32_t k) const;
    // The field's timecode: from its data block, else generated.
    uint32_t FieldTimecode(const Picture& picture, uint32_t field) const;

    bool _bFieldCheck = true;
    uint32_t _nBlockType = KORVOMXF_BLOCK_BAVD_8MB;
    uint32_t _nBlockSize = 0x800000;

    uint32_t _nStandard = 0;
    uint32_t _nVideoSystem = 0;
    uint32_t _nAspectRatio = 0;
    bool _bProgressive = false;
    bool _bFormatFlag = false;
    bool _bDualLink = false;
    bool _bSimultaneous = false;
    uint32_t _nVideoFormat = 0;
    uint32_t _nAudioFormat = 0;
    uint8_t _nTableHeaderByte = 0;
    uint32_t _nVideoChannels = 0;
    uint32_t _nAudioGroups = 0;
    bool _bTwoFields = false;
    uint32_t _nConfigured = 0;
    uint32_t _nRateClass = 0;

    uint32_t _nBlockFirstField = 1000;
    uint32_t _nCurrentField = 1000;
    uint32_t _nFieldsWritten = 0;

    uint8_t* _pBlock = nullptr;
    bool _bFirstPicture = false;

    uint32_t _n2kEntries = 0;
    uint32_t _n2kVideoEnd = 0;
    uint32_t _n2kAudioStart = 0;

    uint32_t _nBavdVideoTop = 0;
    uint32_t _nBavdAudioPos = 0;
    std::unique_ptr<Bavd> _pBavd;
};
