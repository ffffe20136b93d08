#include "writers/parvex/KorvoMXFInfo.h"

#include <cstring>
#include <new>

KorvoMXFInfo::KorvoMXFInfo()
{
    Reset();
}

void KorvoMXFInfo::Reset()
{
    Clear();
    _nStandard = 4;
    _nVideoSystem = 1;
    _nAspectRatio = 2;
    _bProgressive = 0;
    _bFormatFlag = 0;
    _bDualLink = 0;
    _bSimultaneous = 0;
    _nVideoFormat = 1;
    _nAudioFormat = 1;
    _nTableHeaderByte = 0;
    _nVideoChannels = 1;
    _nAudioGroups = 1;
    _nAudioType = 0;
    _bTwoFields = 0;
    _nBitrate = 0;
    _nHydrelQuality = 0;
    _nProResQuality = 0;
    _nFirstField = 0;
    _nOutField = 0;
    _nSessionDate = 0;
    SetMaterialId("        ");
}

void KorvoMXFInfo::Clear()
{
    for (std::string& text : _szSessionTexts)
        text.clear();
    _vKeywords.clear();
    _vClips.clear();
}

void KorvoMXFInfo::SetMaterialId(const char* id)
{
    std::memset(_szMaterialId, 0, sizeof _szMaterialId);
    if (id)
        std::memcpy(_szMaterialId, id, strnlen(id, 8));
}

KorvoMXFResult KorvoMXFInfo::AddClip(const KorvoMXFClip& clip)
{
    try {
        _vClips.push_back(clip);
    } catch (const std::bad_alloc&) {
        return KORVOMXF_ERR_OUT_OF_MEMORY;
    }
    return KORVOMXF_OK;
}

const KorvoMXFClip* KorvoMXFInfo::GetFirstClip(size_t& iterator) const
{
    iterator = 0;
    return GetNextClip(iterator);
}

const KorvoMXFClip* KorvoMXFInfo::GetNextClip(size_t& iterator) const
{
    return iterator < _vClips.size() ? &_vClips[iterator++] : nullptr;
}
