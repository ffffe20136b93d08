#include "sender/CDornBlackFrame.h"

#include <cstring>

#include "common/ByteOrder.h"
#include "common/CLogManager.h"
#include "media/Vc3Compressions.h"
#include "platform/SharedLibrary.h"
#include "sender/DornCodecFrames.h"
#include "serverblock/CKorvoDVCProHelper.h"

namespace
{
using FindBlackFrameFn = const uint8_t* (*)(const char* name, uint32_t* size);

int64_t ScaleToMegabits(int64_t bitrate)
{
    if (bitrate > 999999)
        return bitrate / 1000000;
    if (bitrate > 999)
        return bitrate / 1000;
    return bitrate;
}

const char* RatePart(uint8_t pictureCode)
{
    switch (pictureCode) {
        case 3:
        case 6:
            return "50";
        case 4:
        case 7:
        case 8:
            return "60";
        default:
            return nullptr;
    }
}
}  // namespace

std::string CDornBlackFrame::ResourceName(int codec, int format, int64_t bitrate, bool progressive, int prefixKind,
                                          uint8_t pictureCode)
{
    static const char* const kPrefixes[] = {"FRAME_", "FIELD1_", "FIELD2_"};
    if (prefixKind < 0 || prefixKind > 2)
        return std::string();
    std::string name = kPrefixes[prefixKind];
    const int64_t mbps = ScaleToMegabits(bitrate);
    switch (codec) {
        case 3:
        case 4:
            if (mbps != 30 && mbps != 40 && mbps != 50)
                return std::string();
            name += "IMX_" + std::to_string(mbps) + "_";
            break;
        case 5:
            if (bitrate == 0)
                return std::string();
            if (mbps == 100)
                name += "Hydrel_100_";
            else if (mbps == 120 || mbps == 145)
                name += "Hydrel_LO_";
            else if (mbps == 185 || mbps == 220)
                name += "Hydrel_HI_";
            else {
                const bool sixty = pictureCode == 4 || pictureCode == 7 || pictureCode == 8;
                name += mbps > (sixty ? 219 : 184) ? "Hydrel_HI_" : "Hydrel_LO_";
            }
            break;
        case 7:
        case 8:
            name += "DVCPRO_HD_";
            break;
        case 9:
            name += "DVCPRO_50_";
            break;
        case 10:
            name += "DV_";
            break;
        case 11:
            name += "DVCPRO_25_";
            break;
        default:
            theLogManager.Log("CDornsend::LoadBlackFrame() : *** ERROR : Unsupported codec [%d]!", codec);
            return std::string();
    }
    const char* rate = RatePart(pictureCode);
    switch (format) {
        case 1:
        case 2:
            if (progressive)
                return std::string();
            return name + (format == 1 ? "525" : "625");
        case 3:
            if (!progressive || !rate)
                return std::string();
            return name + "720P" + rate;
        case 4:
            if (!rate)
                return std::string();
            return name + (progressive ? "1080P" : "1080I") + rate;
        default:
            return std::string();
    }
}

void CDornBlackFrame::Release()
{
    _pFrame.reset();
    _nSize = 0;
}

uint32_t CDornBlackFrame::Copy(const uint8_t* resource, uint32_t size)
{
    _pFrame = platform::MakePageBuffer(size);
    if (!_pFrame)
        return 0;
    std::memcpy(_pFrame.get(), resource, size);
    return size;
}

uint32_t CDornBlackFrame::PadHydrel(const uint8_t* resource, uint32_t size, bool progressive)
{
    theLogManager.Log("CDornsend::LoadBlackFrame() : Padding Hydrel Black Frame");
    const uint32_t id = dorncodec::HydrelCompressionId(resource, size);
    const uint32_t unit = vc3::UnitSize(id);
    theLogManager.Log("CDornsend::LoadBlackFrame() : Detected Hydrel Unit Size : %ld [VideoCoding : %ld]",
                      static_cast<long>(unit), static_cast<long>(id));
    theLogManager.Log("CDornsend::LoadBlackFrame() : Allocating padded Hydrel black frame (size : %ld)",
                      static_cast<long>(2 * unit));
    _pFrame = platform::MakePageBuffer(2 * size_t{unit});
    if (!_pFrame)
        return 0;
    std::memset(_pFrame.get(), 0, 2 * size_t{unit});
    theLogManager.Log("CDornsend::LoadBlackFrame() : Hydrel black frame allocated");
    uint32_t position = 0;
    for (int n = 0;; ++n) {
        // The buffer holds two units: a resource with a third fails.
        if (n >= 2) {
            theLogManager.Log("CDornsend::LoadBlackFrame() : *** More than two Hydrel fields in the black frame");
            return 0;
        }
        theLogManager.Log("CDornsend::LoadBlackFrame() : Processing Hydrel field Nr %d", n + 1);
        const uint8_t* source = resource + position;
        const uint32_t left = size - position;
        uint8_t* slot = _pFrame.get() + static_cast<size_t>(n) * unit;
        const uint32_t field = dorncodec::HydrelCodedSizeOffset(source, left);
        const uint32_t coded = field ? ReadBigEndian32(source + field) : 0;
        uint32_t copied = 0;
        if (coded != 0) {
            if (uint64_t{coded} + 640 > unit - 4 || uint64_t{coded} + 640 > left)
                return 0;
            copied = coded + 640;
            std::memcpy(slot, source, copied);
            std::memset(slot + field, 0, 4);
        } else {
            if (left < unit)
                return 0;
            copied = unit;
            std::memcpy(slot, source, unit - 4);
        }
        slot[unit - 4] = 0x60;
        slot[unit - 3] = 0x0D;
        slot[unit - 2] = 0xC0;
        slot[unit - 1] = 0xDE;
        position += copied;
        // The next unit starts at the next header prefix 00 00 02 80.
        bool found = false;
        for (; position + 4 < size; ++position) {
            if (resource[position] == 0 && resource[position + 1] == 0 && resource[position + 2] == 2 &&
                resource[position + 3] == 0x80) {
                found = true;
                break;
            }
        }
        if (!found)
            break;
    }
    theLogManager.Log("CDornsend::LoadBlackFrame() : Finished padding Hydrel Black Frame");
    return progressive ? unit : 2 * unit;
}

uint32_t CDornBlackFrame::UnpackDVCPro(const uint8_t* resource, uint32_t size, uint8_t pictureCode)
{
    theLogManager.Log("CDornsend::LoadBlackFrame() : Converting DVCPro Frame back to standard");
    CKorvoDVCProHelper helper;
    if (!helper.InitFromPackedFrame(resource, size, pictureCode == 3 || pictureCode == 6 ? 3 : 4)) {
        theLogManager.Log("CDornsend::LoadBlackFrame() : *** ERROR : Exception while initializing DVCPro HD frame!");
        return 0;
    }
    uint32_t difSize = 0;
    const uint8_t* frame = helper.ConvertToDVCPro(resource, size) ? helper.GetDVCProFrame(&difSize) : nullptr;
    if (!frame || difSize == 0) {
        theLogManager.Log("CDornsend::LoadBlackFrame() : *** ERROR : Exception while converting DVCPro HD frame!");
        return 0;
    }
    return Copy(frame, difSize);
}

uint32_t CDornBlackFrame::LoadBlackFrame(int codec, int format, int64_t bitrate, bool progressive, int prefixKind,
                                         uint8_t pictureCode)
{
    theLogManager.Log("CDornsend::LoadBlackFrame() : Trying to identify black frame type (BitRate = %ld)",
                      static_cast<long>(bitrate));
    const std::string name = ResourceName(codec, format, bitrate, progressive, prefixKind, pictureCode);
    if (name.empty())
        return 0;
    theLogManager.Log("CDornsend::LoadBlackFrame() : Trying to open black frame [%s]", name.c_str());
    platform::SharedLibrary library;
    FindBlackFrameFn find = nullptr;
    if (library.Open(_szLibrary))
        find = reinterpret_cast<FindBlackFrameFn>(library.Symbol("FindBlackFrame"));
    if (!find) {
        theLogManager.Log("CDornsend::LoadBlackFrame() : *** Black frames DLL not found [%s]", "BlackFrames.dll");
        return 0;
    }
    uint32_t size = 0;
    const uint8_t* resource = find(name.c_str(), &size);
    if (!resource) {
        theLogManager.Log("CDornsend::LoadBlackFrame() : *** Black frame [%s] does not exist in DLL", name.c_str());
        return 0;
    }
    if (size == 0) {
        theLogManager.Log("CDornsend::LoadBlackFrame() : *** Invalid black frame size [%d]", 0);
        return 0;
    }
    if (_pFrame) {
        theLogManager.Log("CDornsend::LoadBlackFrame() : BlackFrame already in memory : deleting");
        Release();
    }
    uint32_t prepared = 0;
    if (codec == 5)
        prepared = PadHydrel(resource, size, progressive);
    else if (codec == 7 || codec == 8 || codec == 9)
        prepared = UnpackDVCPro(resource, size, pictureCode);
    else
        prepared = Copy(resource, size);
    if (prepared == 0) {
        theLogManager.Log("CDornsend::LoadBlackFrame() : *** Failed to allocate resources for the black frame");
        Release();
        return 0;
    }
    _nSize = prepared;
    theLogManager.Log(
        "CDornsend::LoadBlackFrame() : Finished loading and processing Black Frame (Final frame size : %ld)",
        static_cast<long>(_nSize));
    return _nSize;
}
