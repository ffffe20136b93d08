#include "writers/parvex/KorvoMXFClip.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace
{

constexpr char16_t kAnsi[] = u"<ANSI>";

template <size_t N>
void CopyText(char (&target)[N], const char* text)
{
    std::memset(target, 0, N);
    if (text)
        std::memcpy(target, text, strnlen(text, N - 1));
}

template <size_t N>
void CopyWide(char16_t (&target)[N], const char16_t* text)
{
    std::fill(std::begin(target), std::end(target), u'\0');
    for (size_t i = 0; text && text[i] && i < N - 1; ++i)
        target[i] = text[i];
}

}  // namespace

KorvoMXFClip::KorvoMXFClip()
{
    CopyText(_szUmId, "        ");
    CopyText(_szClipIdSource, "        ");
    CopyText(_szFillAndKey, "        ");
    CopyWide(_wszName, kAnsi);
    CopyWide(_wszNameSource, kAnsi);
    for (auto& keyword : _wszKeywords)
        CopyWide(keyword, kAnsi);
}

void KorvoMXFClip::SetUmId(const char* id)
{
    CopyText(_szUmId, id);
}

void KorvoMXFClip::SetVarId(const uint8_t* data, uint32_t length, bool binary)
{
    _nVarIdLength = std::min(length, kVarIdSize);
    std::memset(_aVarId, 0, sizeof _aVarId);
    if (data)
        std::memcpy(_aVarId, data, _nVarIdLength);
    _bVarIdBinary = binary;
}

void KorvoMXFClip::SetName(const char* name)
{
    CopyText(_szName, name);
    CopyWide(_wszName, kAnsi);
    _bWideName = false;
}

void KorvoMXFClip::SetClipNameSource(const char* name)
{
    CopyText(_szClipNameSource, name);
    CopyWide(_wszNameSource, kAnsi);
    _bWideNameSource = false;
}

void KorvoMXFClip::SetClipIdSource(const char* id)
{
    CopyText(_szClipIdSource, id);
}

void KorvoMXFClip::SetServerName(const char* name)
{
    CopyText(_szServerName, name);
}

void KorvoMXFClip::SetKeyword(uint32_t n, const char* keyword)
{
    if (n < kKeywords)
        CopyText(_szKeywords[n], keyword);
}

void KorvoMXFClip::SetFillAndKey(const char* text)
{
    CopyText(_szFillAndKey, text);
}

void KorvoMXFClip::SetWideName(const char16_t* name)
{
    CopyWide(_wszName, name);
    _bWideName = true;
}

void KorvoMXFClip::SetWideClipNameSource(const char16_t* name)
{
    CopyWide(_wszNameSource, name);
    _bWideNameSource = true;
}

void KorvoMXFClip::SetWideKeyword(uint32_t n, const char16_t* keyword)
{
    if (n >= kKeywords)
        return;
    CopyWide(_wszKeywords[n], keyword);
    _bWideKeyword[n] = true;
}

void KorvoMXFClip::SetTime(Time which, const uint8_t (&packed)[8])
{
    std::memcpy(_aTimes[which], packed, 8);
    _bHasTime[which] = true;
}
