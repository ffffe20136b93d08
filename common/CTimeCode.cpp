#include "common/CTimeCode.h"

#include <atomic>
#include <cmath>
#include <cstdio>

namespace
{

struct TcSystemInfo {
    const char* szName;
    uint32_t nFieldsPerSecond;  // nominal, for counting
    uint32_t nFieldsPerFrame;
    bool bDropFrame;
    uint32_t nFieldsPerDay;
    double dSecondsPerFrame;
    double dSecondsPerField;
    double dFieldRate;  // real, for seconds
};

// "24 Drop" is 23.976 frames per second counted as 24, without drop-frame labels of its own; the NTSC field rate
// is exactly 59.94, not 60/1.001.
constexpr TcSystemInfo kSystems[CTimeCode::kSystemCount] = {
    {"25 [0]", 50, 2, false, 4320000, 0.04, 0.02, 50.0},
    {"24 Drop", 48, 2, false, 4147200, 0.04170833333333333, 0.020854166666666667, 47.952047952047955},
    {"24", 48, 2, false, 4147200, 0.041666666666666664, 0.020833333333333332, 48.0},
    {"PAL", 50, 2, false, 4320000, 0.04, 0.02, 50.0},
    {"NTSC Drop", 60, 2, true, 5178816, 0.033366700033366704, 0.016683350016683352, 59.94},
    {"NTSC No Drop", 60, 2, false, 5184000, 0.033366700033366704, 0.016683350016683352, 59.94},
    {"Field-PAL", 50, 1, false, 4320000, 0.02, 0.02, 50.0},
    {"Field-NTSC Drop", 60, 1, true, 5178816, 0.016683350016683352, 0.016683350016683352, 59.94},
    {"Field-NTSC No Drop", 60, 1, false, 5184000, 0.016683350016683352, 0.016683350016683352, 59.94},
    {"25 [9]", 50, 2, false, 4320000, 0.04, 0.02, 50.0},
};

std::atomic<bool> g_bDayWrapping{true};

// Field count of a label. Drop-frame counting skips 4 fields at the start of every minute that is not a multiple
// of ten: labels 0 and 1 with two fields per frame, 0 to 3 with one; a skipped label lands on the first kept one.
uint64_t FieldsFromParts(uint64_t hours, uint64_t minutes, uint64_t seconds, uint64_t frames, bool oddField,
                         const TcSystemInfo& sys)
{
    const uint64_t fps = sys.nFieldsPerSecond;
    const uint64_t perFrame = sys.nFieldsPerFrame;
    uint64_t fields = ((hours * 60 + minutes) * 60 + seconds) * fps + frames * perFrame + (oddField ? 1 : 0);
    if (sys.bDropFrame) {
        fields -= 4 * (54 * hours + minutes - minutes / 10);
        const uint64_t skipped = 4 / perFrame;
        if (minutes % 10 != 0 && seconds == 0 && frames < skipped)
            fields += (skipped - frames) * perFrame;
    }
    return fields;
}

}  // namespace

CTimeCode::CTimeCode() : _nFields(kInvalidCount), _nHundredths(0), _nSystem(0), _bHasHundredths(false), _szText{} {}

CTimeCode::CTimeCode(uint16_t hours, uint16_t minutes, uint16_t seconds, uint16_t frames, bool oddField,
                     TcSystem system, int32_t hundredths)
    : CTimeCode()
{
    if (system >= kSystemCount)
        return;
    SetCount(FieldsFromParts(hours, minutes, seconds, frames, oddField, kSystems[system]), system);
    SetHundredths(hundredths);
}

CTimeCode::CTimeCode(uint32_t fields, TcSystem system, int32_t hundredths) : CTimeCode()
{
    if (fields == kInvalidCount || system >= kSystemCount)
        return;
    SetCount(fields, system);
    SetHundredths(hundredths);
}

CTimeCode::CTimeCode(const CTimeCode& other)
    : _nFields(other._nFields),
      _nHundredths(other._nHundredths),
      _nSystem(other._nSystem),
      _bHasHundredths(other._bHasHundredths),
      _szText{}
{
    if (_nFields == kInvalidCount)
        _nSystem = 0;
    else if (g_bDayWrapping)
        _nFields %= kSystems[_nSystem].nFieldsPerDay;
}

CTimeCode& CTimeCode::operator=(const CTimeCode& other)
{
    _nFields = other._nFields;
    _nHundredths = other._nHundredths;
    _nSystem = other._nSystem;
    _bHasHundredths = other._bHasHundredths;
    return *this;
}

CTimeCode::~CTimeCode() = default;

void CTimeCode::SetDayWrapping(bool on)
{
    g_bDayWrapping = on;
}

void CTimeCode::MakeInvalid()
{
    _nFields = kInvalidCount;
    _nSystem = 0;
    _nHundredths = 0;
    _bHasHundredths = false;
}

// A count that does not fit (only possible with day wrapping off) makes the value invalid rather than wrap silently.
void CTimeCode::SetCount(uint64_t fields, TcSystem system)
{
    if (g_bDayWrapping)
        fields %= kSystems[system].nFieldsPerDay;
    if (fields >= kInvalidCount) {
        MakeInvalid();
        return;
    }
    _nFields = static_cast<uint32_t>(fields);
    _nSystem = system;
}

void CTimeCode::SetHundredths(int32_t hundredths)
{
    _nHundredths = 0;
    _bHasHundredths = false;
    if (hundredths == -1 || _nFields == kInvalidCount)
        return;
    if (hundredths >= 100) {
        // Whole fields move into the count, which is deliberately not wrapped again.
        const uint64_t fields = uint64_t{_nFields} + static_cast<uint64_t>(hundredths / 100);
        if (fields >= kInvalidCount) {
            MakeInvalid();
            return;
        }
        _nFields = static_cast<uint32_t>(fields);
        hundredths %= 100;
    } else if (hundredths < 0) {
        hundredths = 0;
    }
    _nHundredths = hundredths;
    _bHasHundredths = true;
}

bool CTimeCode::SetSystem(TcSystem system)
{
    if (system >= kSystemCount)
        return false;
    _nSystem = system;
    return true;
}

void CTimeCode::SetHMSF(uint16_t hours, uint16_t minutes, uint16_t seconds, uint16_t frames)
{
    const bool hasHundredths = _bHasHundredths;
    const int32_t hundredths = _nHundredths;
    SetCount(FieldsFromParts(hours, minutes, seconds, frames, false, kSystems[_nSystem]), _nSystem);
    if (_nFields != kInvalidCount) {
        _bHasHundredths = hasHundredths;
        _nHundredths = hundredths;
    }
}

int CTimeCode::GetDHMSF(uint16_t& days, uint16_t& hours, uint16_t& minutes, uint16_t& seconds, uint16_t& frames) const
{
    const TcSystemInfo& sys = kSystems[_nSystem];
    const uint64_t fps = sys.nFieldsPerSecond;
    uint64_t d = _nFields / sys.nFieldsPerDay;
    uint64_t rest = _nFields - d * sys.nFieldsPerDay;
    if (sys.bDropFrame) {
        // Add back 4 fields per minute that is not a multiple of ten; the count of such minutes only grows with
        // each pass, so this settles.
        uint64_t dropped = 0;
        uint64_t previous;
        do {
            previous = dropped;
            const uint64_t labelled = rest + 4 * dropped;
            dropped = labelled / (60 * fps) - labelled / (600 * fps);
        } while (dropped != previous);
        rest += 4 * dropped;
    }
    uint64_t h = rest / (3600 * fps);
    rest -= h * 3600 * fps;
    if (h >= 24) {
        d += 1;
        h -= 24;
    }
    const uint64_t m = rest / (60 * fps);
    rest -= m * 60 * fps;
    const uint64_t s = rest / fps;
    days = static_cast<uint16_t>(d);
    hours = static_cast<uint16_t>(h);
    minutes = static_cast<uint16_t>(m);
    seconds = static_cast<uint16_t>(s);
    frames = static_cast<uint16_t>((rest - s * fps) / sys.nFieldsPerFrame);
    return 1;
}

int CTimeCode::GetHMSF(uint16_t& hours, uint16_t& minutes, uint16_t& seconds, uint16_t& frames) const
{
    if (_nSystem == 0) {
        hours = minutes = seconds = frames = 0;
        return 0;
    }
    uint16_t days = 0;
    GetDHMSF(days, hours, minutes, seconds, frames);
    hours = static_cast<uint16_t>(days * 24 + hours);
    return 1;
}

uint32_t CTimeCode::GetFrameRate() const
{
    return kSystems[_nSystem].nFieldsPerSecond / kSystems[_nSystem].nFieldsPerFrame;
}

bool CTimeCode::IsDropFrame() const
{
    return kSystems[_nSystem].bDropFrame;
}

uint32_t CTimeCode::GetFieldsPerFrame() const
{
    return kSystems[_nSystem].nFieldsPerFrame;
}

uint32_t CTimeCode::GetSystemFieldsPerFrame(TcSystem system)
{
    return system < kSystemCount ? kSystems[system].nFieldsPerFrame : 0;
}

double CTimeCode::GetFieldDuration(TcSystem system)
{
    return system < kSystemCount ? kSystems[system].dSecondsPerField : 0.0;
}

double CTimeCode::GetSeconds() const
{
    const double perField = kSystems[_nSystem].dSecondsPerField;
    double seconds = _nFields * perField;
    if (_bHasHundredths)
        seconds += _nHundredths * perField * 0.01;
    return seconds;
}

CTimeCode CTimeCode::FromSeconds(double seconds, TcSystem system, bool withHundredths)
{
    if (system >= kSystemCount)
        return CTimeCode();
    // The bias lifts a value a hair below a whole field to that field.
    const double x = seconds * kSystems[system].dFieldRate + 0.001;
    if (!std::isfinite(x) || x < 0)
        return CTimeCode();
    double whole = std::floor(x);
    const double fraction = x - whole;
    if (whole >= kInvalidCount) {
        if (!g_bDayWrapping)
            return CTimeCode();
        whole = std::fmod(whole, kSystems[system].nFieldsPerDay);
    }
    const int32_t hundredths = withHundredths ? static_cast<int32_t>(std::floor(100 * fraction)) : -1;
    return CTimeCode(static_cast<uint32_t>(whole), system, hundredths);
}

CTimeCode CTimeCode::FromMilliseconds(double milliseconds, TcSystem system, bool withHundredths)
{
    return FromSeconds(milliseconds * 0.001, system, withHundredths);
}

uint32_t CTimeCode::GetFrameCount() const
{
    return kSystems[_nSystem].nFieldsPerFrame == 1 ? _nFields : _nFields / 2;
}

bool CTimeCode::IsSecondField() const
{
    return _nFields % kSystems[_nSystem].nFieldsPerFrame != 0;
}

CTimeCode& CTimeCode::NextFrame()
{
    if (_nFields != kInvalidCount)
        SetCount(uint64_t{_nFields} + kSystems[_nSystem].nFieldsPerFrame, _nSystem);
    return *this;
}

bool CTimeCode::operator==(const CTimeCode& other) const
{
    if (_nSystem != other._nSystem || _nFields != other._nFields)
        return false;
    return !(_bHasHundredths && other._bHasHundredths) || _nHundredths == other._nHundredths;
}

char* CTimeCode::Format(char* buffer, size_t size, uint32_t code) const
{
    if (!buffer || size == 0)
        return buffer;
    if (_nFields == kInvalidCount || _nSystem == 0) {
        snprintf(buffer, size, "invalid");
        return buffer;
    }
    uint16_t hours, minutes, seconds, frames;
    GetHMSF(hours, minutes, seconds, frames);
    const int H = hours, m = minutes, s = seconds, f = frames;
    const int D = H / 24, h = H % 24;
    const int S = (h * 60 + m) * 60 + s;
    const int T = (H * 60 + m) * 60 + s;
    const char* N = kSystems[_nSystem].szName;
    const char mark = IsSecondField() ? '*' : ' ';
    switch (code) {
        case 1:
            snprintf(buffer, size, "%02d:%02d:%02d:%02d%c", H, m, s, f, mark);
            break;
        case 2:
            snprintf(buffer, size, "%02d:%02d:%02d:%02d", H, m, s, f);
            break;
        case 3:
            snprintf(buffer, size, "%02d:%02d:%02d", H, m, s);
            break;
        case 4:
            snprintf(buffer, size, "%06ds", T);
            break;
        case 5:
            snprintf(buffer, size, "%02dh%02dm", H, m);
            break;
        case 9:
            snprintf(buffer, size, "%s", N);
            break;
        case 17:
            snprintf(buffer, size, "%02d.%02d:%02d:%02d:%02d%c", D, h, m, s, f, mark);
            break;
        case 18:
            snprintf(buffer, size, "%02d.%02d:%02d:%02d:%02d", D, h, m, s, f);
            break;
        case 19:
            snprintf(buffer, size, "%02d.%02d:%02d:%02d", D, h, m, s);
            break;
        case 20:
            snprintf(buffer, size, "%02d%06ds", D, S);
            break;
        case 21:
            snprintf(buffer, size, "%02d.%02dh%02dm", D, h, m);
            break;
        case 257:
            snprintf(buffer, size, "%s %02d:%02d:%02d:%02d%c", N, H, m, s, f, mark);
            break;
        case 258:
            snprintf(buffer, size, "%s %02d:%02d:%02d:%02d", N, H, m, s, f);
            break;
        case 259:
            snprintf(buffer, size, "%s %02d:%02d:%02d", N, H, m, s);
            break;
        case 260:
            snprintf(buffer, size, "%s %06ds", N, T);
            break;
        case 261:
            snprintf(buffer, size, "%s %02dh%02dm", N, H, m);
            break;
        case 273:
            snprintf(buffer, size, "%s %02d.%02d:%02d:%02d:%02d%c", N, D, h, m, s, f, mark);
            break;
        case 274:
            snprintf(buffer, size, "%s %02d.%02d:%02d:%02d:%02d", N, D, h, m, s, f);
            break;
        case 275:
            snprintf(buffer, size, "%s %02d.%02d:%02d:%02d", N, D, h, m, s);
            break;
        case 276:
            snprintf(buffer, size, "%s %02d%06ds", N, D, S);
            break;
        case 277:
            snprintf(buffer, size, "%s %02d.%02dh%02dm", N, D, h, m);
            break;
        case 4097:
            snprintf(buffer, size, "%02d:%02d:%02d:%02d%c", h, m, s, f, mark);
            break;
        case 4098:
            snprintf(buffer, size, "%02d:%02d:%02d:%02d", h, m, s, f);
            break;
        case 4099:
            snprintf(buffer, size, "%02d:%02d:%02d", h, m, s);
            break;
        case 4100:
            snprintf(buffer, size, "%06ds", S);
            break;
        case 4101:
            snprintf(buffer, size, "%02dh%02dm", h, m);
            break;
        default:
            snprintf(buffer, size, "%s %02d:%02d:%02d:%02d", N, H, m, s, f);
            break;
    }
    return buffer;
}

const char* CTimeCode::ToString(uint32_t code)
{
    return Format(_szText, sizeof(_szText), code);
}

uint8_t* CTimeCode::ToMpegGopTimeCode(uint8_t* buffer) const
{
    if (!buffer)
        return buffer;
    uint16_t hours = 0, minutes = 0, seconds = 0, frames = 0;
    if (_nFields != kInvalidCount)
        GetHMSF(hours, minutes, seconds, frames);
    const uint32_t drop = kSystems[_nSystem].bDropFrame ? 1 : 0;
    // drop(1) hours(5) minutes(6) marker(1) seconds(6) pictures(6), most significant bit first
    const uint32_t bits = drop << 24 | (hours % 32u) << 19 | (minutes & 0x3Fu) << 13 | 1u << 12 |
                          (seconds & 0x3Fu) << 6 | (frames & 0x3Fu);
    buffer[0] = static_cast<uint8_t>(bits >> 17);
    buffer[1] = static_cast<uint8_t>(bits >> 9);
    buffer[2] = static_cast<uint8_t>(bits >> 1);
    buffer[3] = static_cast<uint8_t>((bits & 1) << 7 | (buffer[3] & 0x7F));
    return buffer;
}
