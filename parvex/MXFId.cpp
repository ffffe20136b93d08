#include "parvex/MXFId.h"

#include <cstring>

namespace
{

constexpr char kA64[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-+";
constexpr char kA79[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-+!#$(),;=[]^_{}~";
constexpr const char* kSymbols = kA79 + 64;  // the 15 symbols that start a kind-2 text
constexpr uint32_t kSymbolCount = 15;
constexpr uint32_t kIdLength = 8;
constexpr char kForbidden[] = ".\\/:*?\"<>|%";

// Place weights of the kind-2 text: 79^7 down to 1.
constexpr uint64_t kWeights[kIdLength] = {19203908986159ull, 243087455521ull, 3077056399ull, 38950081ull,
                                          493039ull,         6241ull,         79ull,         1ull};

// Position of c in the first n characters of the alphabet, or -1.
int IndexIn(const char* alphabet, uint32_t n, char c)
{
    if (c == '\0')
        return -1;
    const void* hit = std::memchr(alphabet, c, n);
    return hit ? static_cast<int>(static_cast<const char*>(hit) - alphabet) : -1;
}

void SetBits(uint64_t& value, uint32_t shift, uint64_t mask, uint64_t n)
{
    value = (value & ~(mask << shift)) | ((n & mask) << shift);
}

}  // namespace

void MXFIdType1::SetSerial(uint32_t n)
{
    SetBits(_qwValue, 34, kMaxSerial, n);
}
void MXFIdType1::SetSeconds(uint32_t n)
{
    SetBits(_qwValue, 5, kMaxSeconds, n);
}
void MXFIdType1::SetCounter(uint32_t n)
{
    SetBits(_qwValue, 0, kMaxCounter, n);
}
uint32_t MXFIdType1::GetSerial() const
{
    return static_cast<uint32_t>(_qwValue >> 34) & kMaxSerial;
}
uint32_t MXFIdType1::GetSeconds() const
{
    return static_cast<uint32_t>(_qwValue >> 5) & kMaxSeconds;
}
uint32_t MXFIdType1::GetCounter() const
{
    return static_cast<uint32_t>(_qwValue) & kMaxCounter;
}

char* MXFIdType1::Format(char* buffer) const
{
    buffer[0] = '\0';
    if (_qwValue == 0)
        return buffer;
    for (uint32_t i = 0; i < kIdLength; ++i)
        buffer[i] = kA64[(_qwValue >> (6 * (kIdLength - 1 - i))) & 63];
    buffer[kIdLength] = '\0';
    return buffer;
}

void MXFIdType1::Parse(const char* text)
{
    _qwValue = 0;
    if (!text || std::strlen(text) != kIdLength)
        return;
    for (uint32_t i = 0; i < kIdLength; ++i) {
        const int digit = IndexIn(kA64, 64, text[i]);
        if (digit >= 0)
            _qwValue |= uint64_t(digit) << (6 * (kIdLength - 1 - i));
    }
}

void MXFIdType2::SetSerial(uint32_t n)
{
    SetBits(_qwValue, 32, kMaxSerial, n);
}
void MXFIdType2::SetSeconds(uint32_t n)
{
    SetBits(_qwValue, 2, kMaxSeconds, n);
}
void MXFIdType2::SetCounter(uint32_t n)
{
    SetBits(_qwValue, 0, kMaxCounter, n);
}
uint32_t MXFIdType2::GetSerial() const
{
    return static_cast<uint32_t>(_qwValue >> 32);
}
uint32_t MXFIdType2::GetSeconds() const
{
    return static_cast<uint32_t>(_qwValue >> 2) & kMaxSeconds;
}
uint32_t MXFIdType2::GetCounter() const
{
    return static_cast<uint32_t>(_qwValue) & kMaxCounter;
}

char* MXFIdType2::Format(char* buffer) const
{
    buffer[0] = '\0';
    if (_qwValue == 0)
        return buffer;
    uint64_t rest = _qwValue;
    for (uint32_t i = 0; i < kIdLength; ++i) {
        const uint64_t q = rest / kWeights[i];
        rest %= kWeights[i];
        if (q > (i == 0 ? kSymbolCount - 1 : 78u)) {
            buffer[0] = '\0';
            return buffer;
        }
        buffer[i] = i == 0 ? kSymbols[q] : kA79[q];
    }
    buffer[kIdLength] = '\0';
    return buffer;
}

void MXFIdType2::Parse(const char* text)
{
    _qwValue = 0;
    if (!text || std::strlen(text) != kIdLength)
        return;
    for (uint32_t i = 0; i < kIdLength; ++i) {
        const int digit = i == 0 ? IndexIn(kSymbols, kSymbolCount, text[i]) : IndexIn(kA79, 79, text[i]);
        if (digit >= 0)
            _qwValue += uint64_t(digit) * kWeights[i];
    }
}

int CheckMXFId(const char* text, int* kind)
{
    if (kind)
        *kind = 0;
    if (!text)
        return 0;
    const size_t length = std::strlen(text);
    if (length > kIdLength)
        return 0;
    bool kind1 = length == kIdLength;
    bool kind2 = length == kIdLength;
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 32 || c >= 128 || std::strchr(kForbidden, c))
            return 0;
        kind1 = kind1 && IndexIn(kA64, 64, text[i]) >= 0;
        kind2 = kind2 && (i == 0 ? IndexIn(kSymbols, kSymbolCount, text[i]) : IndexIn(kA79, 79, text[i])) >= 0;
    }
    if (length == kIdLength && text[0] == '@' && text[kIdLength - 1] == '!')
        return 0;
    if (kind)
        *kind = (kind1 || length < kIdLength) ? 1 : kind2 ? 2 : 0;
    return 1;
}

int64_t MXFIdToTime(const char* text)
{
    int kind = 0;
    if (!CheckMXFId(text, &kind))
        return 0;
    if (kind == 1) {
        MXFIdType1 id;
        id.Parse(text);
        return id.GetSeconds() + MXFIdType1::kEpoch;
    }
    if (kind == 2) {
        MXFIdType2 id;
        id.Parse(text);
        return id.GetSeconds() + MXFIdType2::kEpoch;
    }
    return 0;
}
