#include "outside/rix/CRixSimStore.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace rixsim
{

namespace
{
constexpr size_t kBavdBootstrap = 65;
constexpr size_t kBavdMediaHeaderOffset = 14;
constexpr size_t kBavdFieldCount = 26;
constexpr size_t k2kBlockSize = 0x200000;
constexpr size_t k2kTableOffset = 0x1FF800;

uint32_t Be32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint32_t Le32(const uint8_t* p)
{
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}
}  // namespace

std::optional<std::pair<uint32_t, uint32_t>> RixSimBlockFields(const uint8_t* pBlock, size_t nLength)
{
    if (nLength >= kBavdBootstrap && std::memcmp(pBlock, "BAVD", 4) == 0) {
        uint64_t nMediaHeader = Be32(pBlock + kBavdMediaHeaderOffset);
        uint64_t nCount = (uint64_t(pBlock[kBavdFieldCount]) << 8) | pBlock[kBavdFieldCount + 1];
        if (nMediaHeader > nLength || nLength - nMediaHeader < 4)
            return std::nullopt;
        uint64_t nFirst = Be32(pBlock + nMediaHeader);
        if (nCount == 0 || nCount > 0xFFFFFFFFull - nFirst)
            return std::nullopt;
        return std::make_pair(uint32_t(nFirst), uint32_t(nFirst + nCount));
    }
    if (nLength == k2kBlockSize) {
        uint32_t nFirst = Le32(pBlock + k2kTableOffset);
        uint32_t nEnd = Le32(pBlock + k2kTableOffset + 4);
        if (nEnd > nFirst)
            return std::make_pair(nFirst, nEnd);
    }
    return std::nullopt;
}

std::string CRixSimStore::Resolve(const std::string& szDirectory, const std::string& szPath)
{
    std::string szFull = (!szPath.empty() && szPath[0] == '/') ? szPath : szDirectory + "/" + szPath;
    std::vector<std::string> parts;
    size_t nPos = 0;
    while (nPos <= szFull.size()) {
        size_t nEnd = szFull.find('/', nPos);
        if (nEnd == std::string::npos)
            nEnd = szFull.size();
        std::string szPart = szFull.substr(nPos, nEnd - nPos);
        if (szPart == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!szPart.empty() && szPart != ".") {
            parts.push_back(szPart);
        }
        nPos = nEnd + 1;
    }
    std::string szResult;
    for (const auto& szPart : parts)
        szResult += "/" + szPart;
    return szResult.empty() ? "/" : szResult;
}

std::string CRixSimStore::Parent(const std::string& szPath)
{
    size_t nSlash = szPath.rfind('/');
    return (nSlash == std::string::npos || nSlash == 0) ? "/" : szPath.substr(0, nSlash);
}

std::string CRixSimStore::BaseName(const std::string& szPath)
{
    size_t nSlash = szPath.rfind('/');
    return nSlash == std::string::npos ? szPath : szPath.substr(nSlash + 1);
}

void CRixSimStore::AddDirectoryLocked(const std::string& szPath)
{
    for (std::string sz = szPath; sz != "/"; sz = Parent(sz))
        _setDirectories.insert(sz);
}

void CRixSimStore::AddDirectory(const std::string& szPath)
{
    std::lock_guard lock(_mx);
    AddDirectoryLocked(Resolve("/", szPath));
}

void CRixSimStore::AddFile(const std::string& szPath, RixSimBytes vData, uint32_t nBlockSize)
{
    std::string szFull = Resolve("/", szPath);
    {
        std::lock_guard lock(_mx);
        AddDirectoryLocked(Parent(szFull));
        File& file = _mapFiles[szFull];
        file._data.Assign(vData);
        file._nBlockSize = nBlockSize;
    }
    NotifyAll();
}

void CRixSimStore::AddClip(const std::string& szPath, const std::vector<RixSimBytes>& vBlocks, uint32_t nBlockSize,
                           const std::string& szClipTableXml, bool bGrowing)
{
    RixSimBytes vData;
    for (const auto& vBlock : vBlocks)
        vData.insert(vData.end(), vBlock.begin(), vBlock.end());
    std::string szFull = Resolve("/", szPath);
    AddFile(szFull, std::move(vData), nBlockSize);
    SetGrowing(szFull, bGrowing);
    if (!szClipTableXml.empty()) {
        std::string szXml = szFull.substr(0, std::min(szFull.rfind('.'), szFull.size())) + ".XML";
        AddFile(szXml, RixSimBytes(szClipTableXml.begin(), szClipTableXml.end()));
    }
}

bool CRixSimStore::AppendBlocks(const std::string& szPath, const std::vector<RixSimBytes>& vBlocks)
{
    {
        std::lock_guard lock(_mx);
        auto it = _mapFiles.find(Resolve("/", szPath));
        if (it == _mapFiles.end())
            return false;
        for (const auto& vBlock : vBlocks)
            it->second._data.Append(vBlock.data(), vBlock.size());
    }
    NotifyAll();
    return true;
}

bool CRixSimStore::SetGrowing(const std::string& szPath, bool bGrowing)
{
    {
        std::lock_guard lock(_mx);
        auto it = _mapFiles.find(Resolve("/", szPath));
        if (it == _mapFiles.end())
            return false;
        it->second._bGrowing = bGrowing;
    }
    NotifyAll();
    return true;
}

RixSimBytes CRixSimStore::FileData(const std::string& szPath) const
{
    std::lock_guard lock(_mx);
    auto it = _mapFiles.find(Resolve("/", szPath));
    return it == _mapFiles.end() ? RixSimBytes{} : it->second._data.Bytes();
}

bool CRixSimStore::IsDirectory(const std::string& szPath) const
{
    std::lock_guard lock(_mx);
    return _setDirectories.count(Resolve("/", szPath)) != 0;
}

std::optional<CRixSimStore::FileInfo> CRixSimStore::Info(const std::string& szPath) const
{
    std::lock_guard lock(_mx);
    auto it = _mapFiles.find(Resolve("/", szPath));
    if (it == _mapFiles.end())
        return std::nullopt;
    return FileInfo{it->second._data.Size(), it->second._nBlockSize, it->second._bGrowing, it->second._bWriting};
}

std::vector<std::string> CRixSimStore::List(const std::string& szDirectory) const
{
    std::string szDir = Resolve("/", szDirectory);
    std::lock_guard lock(_mx);
    std::vector<std::string> names;
    for (const auto& sz : _setDirectories)
        if (sz != "/" && Parent(sz) == szDir)
            names.push_back(BaseName(sz) + "/");
    for (const auto& [sz, file] : _mapFiles)
        if (Parent(sz) == szDir)
            names.push_back(BaseName(sz));
    return names;
}

bool CRixSimStore::MakeDirectory(const std::string& szPath)
{
    std::string szFull = Resolve("/", szPath);
    std::lock_guard lock(_mx);
    if (_setDirectories.count(szFull) || _mapFiles.count(szFull) || !_setDirectories.count(Parent(szFull)))
        return false;
    _setDirectories.insert(szFull);
    return true;
}

bool CRixSimStore::Delete(const std::string& szPath)
{
    {
        std::lock_guard lock(_mx);
        auto it = _mapFiles.find(Resolve("/", szPath));
        if (it == _mapFiles.end() || it->second._bWriting)
            return false;
        _mapFiles.erase(it);
    }
    NotifyAll();
    return true;
}

size_t CRixSimStore::Read(const std::string& szPath, uint64_t nOffset, uint8_t* pBuffer, size_t nLength) const
{
    std::lock_guard lock(_mx);
    auto it = _mapFiles.find(szPath);
    if (it == _mapFiles.end())
        return 0;
    return it->second._data.Read(nOffset, pBuffer, nLength);
}

bool CRixSimStore::BeginWrite(const std::string& szPath, uint64_t nOffset, uint32_t nBlockSize)
{
    {
        std::lock_guard lock(_mx);
        if (!_setDirectories.count(Parent(szPath)) || _setDirectories.count(szPath))
            return false;
        File& file = _mapFiles[szPath];
        if (file._bWriting || nOffset > file._data.Size())
            return false;
        file._data.Truncate(nOffset);
        file._nBlockSize = nBlockSize;
        file._bWriting = true;
    }
    NotifyAll();
    return true;
}

void CRixSimStore::Write(const std::string& szPath, const uint8_t* pData, size_t nLength)
{
    {
        std::lock_guard lock(_mx);
        auto it = _mapFiles.find(szPath);
        if (it != _mapFiles.end())
            it->second._data.Append(pData, nLength);
    }
    NotifyAll();
}

void CRixSimStore::EndWrite(const std::string& szPath)
{
    {
        std::lock_guard lock(_mx);
        auto it = _mapFiles.find(szPath);
        if (it != _mapFiles.end())
            it->second._bWriting = false;
    }
    NotifyAll();
}

std::optional<uint64_t> CRixSimStore::FindBlock(const std::string& szPath, uint32_t nField) const
{
    std::lock_guard lock(_mx);
    auto it = _mapFiles.find(szPath);
    if (it == _mapFiles.end() || it->second._nBlockSize == 0)
        return std::nullopt;
    const CRixSimFileData& data = it->second._data;
    uint64_t nBlockSize = it->second._nBlockSize;
    RixSimBytes vScratch;
    for (uint64_t nOffset = 0, nIndex = 0; nOffset < data.Size(); nOffset += nBlockSize, ++nIndex) {
        size_t nLength = static_cast<size_t>(std::min<uint64_t>(nBlockSize, data.Size() - nOffset));
        auto fields = RixSimBlockFields(data.View(nOffset, nLength, vScratch), nLength);
        if (fields && fields->first <= nField && nField < fields->second)
            return nIndex;
    }
    return std::nullopt;
}

std::optional<std::pair<uint32_t, uint32_t>> CRixSimStore::ClipFields(const std::string& szPath) const
{
    std::lock_guard lock(_mx);
    auto it = _mapFiles.find(Resolve("/", szPath));
    if (it == _mapFiles.end() || it->second._nBlockSize == 0 || it->second._data.Size() == 0)
        return std::nullopt;
    const CRixSimFileData& data = it->second._data;
    uint64_t nBlockSize = it->second._nBlockSize;
    uint64_t nLast = (data.Size() - 1) / nBlockSize * nBlockSize;
    size_t nFirstLength = static_cast<size_t>(std::min<uint64_t>(nBlockSize, data.Size()));
    size_t nLastLength = static_cast<size_t>(data.Size() - nLast);
    RixSimBytes vFirst, vLast;
    auto first = RixSimBlockFields(data.View(0, nFirstLength, vFirst), nFirstLength);
    auto last = RixSimBlockFields(data.View(nLast, nLastLength, vLast), nLastLength);
    if (!first || !last)
        return std::nullopt;
    return std::make_pair(first->first, last->second);
}

void CRixSimStore::WaitChange(std::chrono::milliseconds tTimeout) const
{
    std::unique_lock lock(_mx);
    _cvChanged.wait_for(lock, tTimeout);
}

void CRixSimStore::NotifyAll() const
{
    std::lock_guard lock(_mx);
    _cvChanged.notify_all();
}

void CRixSimStore::SetOccupied(char cCamera, const std::set<uint32_t>& locations)
{
    std::lock_guard lock(_mx);
    _mapOccupied[cCamera] = locations;
}

bool CRixSimStore::IsOccupied(const std::string& szDirectory, uint32_t nLocation, char cCamera) const
{
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%06u%c", nLocation, cCamera);
    std::string szDir = Resolve("/", szDirectory);
    std::lock_guard lock(_mx);
    auto it = _mapOccupied.find(cCamera);
    if (it != _mapOccupied.end() && it->second.count(nLocation))
        return true;
    for (const auto& [sz, file] : _mapFiles)
        if (Parent(sz) == szDir && BaseName(sz).compare(0, 7, prefix) == 0)
            return true;
    return false;
}

void CRixSimStore::SetSequence(uint16_t nSequence, const RixSimSequence& sequence)
{
    std::lock_guard lock(_mx);
    _mapSequences[nSequence] = sequence;
}

std::optional<RixSimSequence> CRixSimStore::Sequence(uint16_t nSequence) const
{
    std::optional<RixSimSequence> result;
    {
        std::lock_guard lock(_mx);
        auto it = _mapSequences.find(nSequence);
        if (it == _mapSequences.end())
            return std::nullopt;
        result = it->second;
    }
    if (!result->_szClip.empty()) {
        auto fields = ClipFields(result->_szClip);
        result->_nIn = fields ? fields->first : 0;
        result->_nOut = fields ? fields->second - 1 : 0;
    }
    return result;
}

void CRixSimStore::AddGbeClip(const RixSimGbeClip& clip)
{
    std::lock_guard lock(_mx);
    auto it = std::find_if(_vGbeClips.begin(), _vGbeClips.end(), [&](const RixSimGbeClip& c) {
        return c._nRixNumber == clip._nRixNumber && c._nClipNumber == clip._nClipNumber && c._cCamera == clip._cCamera;
    });
    if (it != _vGbeClips.end())
        *it = clip;
    else
        _vGbeClips.push_back(clip);
}

std::optional<RixSimGbeClip> CRixSimStore::FindGbeClip(const std::string& szUmId, uint32_t nRixNumber,
                                                       uint32_t nClipNumber, char cCamera) const
{
    std::lock_guard lock(_mx);
    for (const auto& clip : _vGbeClips) {
        bool bMatch = szUmId.empty() ? (clip._nRixNumber == nRixNumber && clip._nClipNumber == nClipNumber &&
                                        clip._cCamera == cCamera)
                                     : clip._szUmId == szUmId;
        if (bMatch)
            return clip;
    }
    return std::nullopt;
}

}  // namespace rixsim
