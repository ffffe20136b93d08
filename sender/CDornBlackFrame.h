#pragma once

#include <cstdint>
#include <string>

#include "platform/PageBuffer.h"

// The black frame the sender writes for a null picture: looked up by name in the black-frame library
// (libBlackFrames.so), copied, and for VC-3 and DVCPRO turned into the frame layout the writers take.
class CDornBlackFrame
{
public:
    static constexpr const char* kLibraryName = "BlackFrames";

    // "FRAME_", "FIELD1_" or "FIELD2_" by prefix kind 0, 1, 2; then the codec's part and the format's part.
    // Codecs: 3, 4 IMX; 5 VC-3 (Hydrel); 7, 8 DVCPRO HD; 9 DVCPRO 50 (these two held packed, as the server
    // keeps them); 10 DV and 11 DVCPRO 25 (standard DIF frames, as QuickTime DV movies hold them).
    // Empty when the combination has no black frame.
    static std::string ResourceName(int codec, int format, int64_t bitrate, bool progressive, int prefixKind,
                                    uint8_t pictureCode);

    // The size in bytes of the prepared black frame, 0 on failure (logged).
    uint32_t LoadBlackFrame(int codec, int format, int64_t bitrate, bool progressive, int prefixKind,
                            uint8_t pictureCode);
    void Release();
    const uint8_t* GetData() const { return _pFrame.get(); }
    uint32_t GetSize() const { return _nSize; }
    // The library to load instead of libBlackFrames.so in the library folder (tests).
    void SetLibrary(const std::string& path) { _szLibrary = path; }

private:
    uint32_t PadHydrel(const uint8_t* resource, uint32_t size, bool progressive);
    uint32_t UnpackDVCPro(const uint8_t* resource, uint32_t size, uint8_t pictureCode);
    uint32_t Copy(const uint8_t* resource, uint32_t size);

    platform::PageBuffer _pFrame;
    uint32_t _nSize = 0;
    std::string _szLibrary = kLibraryName;
};
