#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sender/CDornWriter.h"
#include "writers/parvex/KorvoMXFBlockWriter.h"

class CKorvoDVCProHelper;

// The DVCPRO picture handling the clip-file and server writers share: the picture record of the HD (100 Mb/s) or
// 50 Mb/s kind, the first frame's check, and the packing of each frame into the server's layout.
class DornDVCProFrames
{
public:
    DornDVCProFrames();
    ~DornDVCProFrames();

    // 50000000 turns HD off, 100000000 on (the default); HD forces the aspect code 3.
    KorvoMXFVideoInfo Configure(uint8_t pictureCode, int64_t bitrate, int& aspectCode);
    // The first frame: its length becomes the frame size once the converter accepts it (the frame itself tells
    // its system).
    bool Learn(const DornFrame* frame, uint8_t pictureCode, int aspectCode, uint32_t maxSize, uint32_t* frameSize);
    // The frame in the server's packed layout; null (logged) when it cannot be converted.
    const uint8_t* Pack(const uint8_t* frame, uint32_t size, uint32_t* packedSize);
    // The aspect code the first frame states (2 4:3, 3 16:9); 2 before it.
    int AspectCode() const;
    bool IsHD() const { return _bHD; }
    // The kind of a first frame that the servers' packed layout has no place for ("DVCPRO HD 720p", "DV 25"), or
    // empty.
    const std::string& Unsupported() const { return _szUnsupported; }
    // Fields of one picture: 1 for 720-line material, else 2.
    uint32_t Fields() const { return _nLines == 720 ? 1 : 2; }

private:
    bool _bHD = true;
    uint32_t _nLines = 1080;
    std::unique_ptr<CKorvoDVCProHelper> _pHelper;
    std::string _szUnsupported;
};
