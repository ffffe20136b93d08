#pragma once

#include <cstdint>

#include "media/DvcproFrames.h"
#include "platform/PageBuffer.h"

// Converts DVCPRO frames between the standard DIF layout and the packed layout of the video servers, which keeps
// only the video DIF blocks: for each channel and each kept DIF sequence its nine runs of 15 video blocks. The
// header, subcode, VAUX and audio blocks are rebuilt from a blank template when a frame is unpacked.
//
// Stream kinds (as the servers name them), by the VAUX stream type of the frame:
//   3  any stream type but 0x14 and 0x18: 2 channels, every sequence kept
//   4  0x14 at 50 Hz: 4 channels of 12 sequences, 12, 11, 11, 11 kept
//   5  0x14 at 60 Hz: 4 channels of 10 sequences, all kept
//   6  0x18: 4 channels, packed one channel pair (the frame given) at a time, 10 sequences per channel kept
class CKorvoDVCProHelper
{
public:
    static constexpr int32_t kNone = -1;
    static constexpr uint32_t kDifBlockSize = dvcpro::kDifBlockSize;
    static constexpr uint32_t kDifSequenceSize = dvcpro::kDifSequenceSize;

    // System code 3 (50 Hz) or 4 (60 Hz), 6 or 7 for the pair-packed kind; aspect code 2 (4:3) or 3 (16:9).
    explicit CKorvoDVCProHelper(int32_t systemCode = kNone, int32_t aspectCode = 2);

    bool InitFromDVCProFrame(const uint8_t* frame, uint32_t size, int32_t systemOverride = kNone);
    bool PackFrame(const uint8_t* frame, uint32_t size, uint8_t* destination, uint32_t* packedSize);
    // Packs into the helper's own buffer (GetPackedFrame).
    bool ConvertFromDVCPro(const uint8_t* frame, uint32_t size);
    const uint8_t* GetPackedFrame(uint32_t* size) const;

    bool InitFromPackedFrame(const uint8_t* packed, uint32_t size, int32_t systemOverride = kNone,
                             int32_t aspectOverride = kNone);
    // Writes a whole DIF frame (template blocks and the packed video) of GetDifSize bytes into the destination.
    bool UnpackFrame(const uint8_t* packed, uint32_t size, uint8_t* destination, uint32_t* difSize);
    // Unpacks into the helper's template buffer (GetDVCProFrame).
    bool ConvertToDVCPro(const uint8_t* packed, uint32_t size);
    const uint8_t* GetDVCProFrame(uint32_t* size) const;
    bool BuildBlankDIFFrame();

    uint32_t GetStreamKind() const { return _nStreamKind; }
    uint32_t GetSystemCode() const { return static_cast<uint32_t>(_nSystem); }
    uint32_t GetAspectCode() const { return static_cast<uint32_t>(_nAspect); }
    uint32_t GetPackedSize() const { return _nPackedSize; }
    uint32_t GetDifSize() const { return _nDifSize; }
    bool IsSecondPair() const { return _bSecondPair; }

private:
    bool SetLayout(uint32_t streamKind, bool fiftyHz);
    bool CheckSequences(const uint8_t* frame, uint32_t channels) const;
    // Channels carried by one frame or packed frame: a pair for kind 6, else all.
    uint32_t FrameChannels() const { return _nStreamKind == 6 ? 2 : _nChannels; }
    uint32_t FrameBytes() const { return FrameChannels() * _nSequences * kDifSequenceSize; }
    bool Unpack(const uint8_t* packed, uint32_t size, uint8_t* destination, uint32_t* difSize);

    int32_t _nSystem;
    int32_t _nAspect;
    uint32_t _nStreamKind = 0;  // 0: layout unset
    platform::PageBuffer _pBuffer;
    uint32_t _nBufferSize = 0;
    bool _bBufferIsTemplate = false;
    uint32_t _nDifSize = 0;
    uint32_t _nPackedSize = 0;
    uint32_t _nChannels = 0;
    uint32_t _nSequences = 0;
    uint32_t _nKept[4] = {};
    bool _bSecondPair = false;
};
