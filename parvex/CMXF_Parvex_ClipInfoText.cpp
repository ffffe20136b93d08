// The texts of a clip info: codec names, standard and system, field counts as timecodes.
#include "common/CTimeCode.h"
#include "common/FormatText.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"

namespace
{

constexpr const char* kVideoCodecs[] = {"Undefined",
                                        "SD MJPEG Standard",
                                        "IMX 30",
                                        "IMX 40",
                                        "IMX 50",
                                        "HD MJPEG Korvo",
                                        "HD MJPEG Standard",
                                        "SD MJPEG LowRes",
                                        "Mirel Hydrel 8 b Low",
                                        "Mirel Hydrel 8 b High",
                                        "Mirel Hydrel 10 b High",
                                        "SD MPEG2 Intra",
                                        "HD MPEG2 Intra",
                                        "HD MJPEG 4b_",
                                        "Apple ProRes 422",
                                        "Apple ProRes 422 (HQ)",
                                        "HD MPEG2 Intra",
                                        "Apple ProRes 422 (LT)",
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        "DVCPRO50",
                                        "DVCPRO HD"};
constexpr const char* kStandards[] = {"SD_525", "SD_625", "HD_720", "HD_1080"};
constexpr const char* kSystems[] = {nullptr,         "sys_23.976", "sys_24",    "sys_25 (PAL)", "sys_29.97 (NTSC)",
                                    "sys_30 (NTSC)", "sys_50",     "sys_59.94", "sys_60"};
constexpr uint32_t kFieldsPerDay50 = 4320000;
constexpr char kMarkDrop = static_cast<char>(0xA4);
constexpr char kMarkNonDrop = static_cast<char>(0x95);

// Counts of the 50-field systems: always exact, no drop-frame.
std::string Fields50(uint32_t f, bool dayPrefix)
{
    const uint32_t days = f / kFieldsPerDay50;
    const uint32_t rest = f % kFieldsPerDay50;
    const uint32_t h = rest / 180000, m = rest % 180000 / 3000, s = rest % 3000 / 50, frame = f % 50 / 2;
    if (dayPrefix && days >= 1)
        return FormatText("%u-%02u:%02u:%02u.%02u", days, h, m, s, frame);
    return FormatText("%02u:%02u:%02u.%02u", h, m, s, frame);
}

// Counts of the 30-frame families through CTimeCode.
std::string FieldsTc(uint32_t f, TcSystem system, bool dayPrefix, char separator, bool fieldMark, char mark)
{
    if (static_cast<int32_t>(f) < 0)
        return FormatText("Invalid TC (%d fields)", static_cast<int32_t>(f));
    CTimeCode tc(f, system);
    uint16_t hours = 0, minutes = 0, seconds = 0, frames = 0;
    tc.GetHMSF(hours, minutes, seconds, frames);
    if (tc.GetFieldsPerFrame() == 1)
        frames /= 2;
    std::string text =
        dayPrefix && hours >= 24
            ? FormatText("%d-%02d:%02d:%02d%c%02d", hours / 24, hours % 24, minutes, seconds, separator, frames)
            : FormatText("%02d:%02d:%02d%c%02d", hours, minutes, seconds, separator, frames);
    if (fieldMark && tc.IsSecondField())
        text += FormatText(" %c", mark);
    return text;
}

}  // namespace

std::string CMXF_Parvex_ClipInfo::GetVideoCodecString() const
{
    if (_nVideoCodec < std::size(kVideoCodecs) && kVideoCodecs[_nVideoCodec])
        return kVideoCodecs[_nVideoCodec];
    return FormatText("Unknown Codec %d", static_cast<int>(_nVideoCodec));
}

std::string CMXF_Parvex_ClipInfo::GetAudioCodecString() const
{
    if (_nAudioCodec == 0)
        return "PCM";
    if (_nAudioCodec == 1)
        return "Dolby E";
    return FormatText("Unknown Codec %d", static_cast<int>(_nAudioCodec));
}

std::string CMXF_Parvex_ClipInfo::GetStandardString(std::string* standard, std::string* system) const
{
    const uint32_t high = _nStandardAndSystem >> 4, low = _nStandardAndSystem & 15;
    std::string s1 = high < std::size(kStandards) ? kStandards[high] : FormatText("unknown standard %u", high);
    std::string s2 = low < std::size(kSystems) && kSystems[low] ? kSystems[low] : FormatText("unknown system %u", low);
    if (standard)
        *standard = s1;
    if (system)
        *system = s2;
    return s1 + " " + s2;
}

std::string CMXF_Parvex_ClipInfo::FieldsToTcString(uint32_t fields, int fieldMark, int withDays) const
{
    const uint32_t system = _pHeadClip ? _pHeadClip->_nTCSystem : _nTCSystem;
    switch (system) {
        case 3:
        case 6:
            return fields == 0xFFFFFFFF ? "-1" : Fields50(fields, withDays != 0);
        case 4:
        case 7:
            return FieldsTc(fields, system, withDays != 0, ',', fieldMark != 0, kMarkDrop);
        case 5:
        case 8:
            return FieldsTc(fields, system, withDays != 0, '.', fieldMark != 0, kMarkNonDrop);
        default:
            return FormatText("%u fields", fields);
    }
}

std::string CMXF_Parvex_ClipInfo::FieldsToDurationString(uint32_t fields, int fieldMark) const
{
    const uint32_t system = _pHeadClip ? _pHeadClip->_nTCSystem : _nTCSystem;
    switch (system) {
        case 3:
        case 6:
            return fields == 0xFFFFFFFF ? "" : Fields50(fields, true);
        case 4:
        case 5:
        case 7:
        case 8:
            return FieldsTc(fields, 5, true, '.', fieldMark != 0, kMarkNonDrop);
        default:
            return FormatText("%u fields", fields);
    }
}
