#include "writers/parvex/CMXF_Parvex_FileWriter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <optional>

#include "common/CLogManager.h"
#include "common/FormatText.h"
#include "media/MxfLabels.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "parvex/ParvexLayout.h"
#include "serverblock/ServerBlock.h"

using namespace parvex;

namespace
{

constexpr uint32_t kIndexBufferSize = 0x10000;
constexpr uint32_t kSetHeadSize = 20;        // key and 4-byte length in the header (0x83 + 3 bytes)
constexpr uint32_t kFooterSetHeadSize = 21;  // key and 5-byte length in the footer (0x84 + 4 bytes)
constexpr uint32_t kFillHeadSize = 21;
constexpr uint32_t kFillEnd = kEssenceKeyOffset;
constexpr uint32_t kIndexItemMax = 4 + kBigBlockHeadSize + kBlocksPerBigBlock * kBlockDescriptorSize;

void PutBe16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void PutBe32(uint8_t* p, uint32_t v)
{
    PutBe16(p, v >> 16);
    PutBe16(p + 2, v);
}
void PutBe64(uint8_t* p, uint64_t v)
{
    PutBe32(p, static_cast<uint32_t>(v >> 32));
    PutBe32(p + 4, static_cast<uint32_t>(v));
}

// Appends items of the Korvo metadata set to a buffer of fixed room. An item whose value does not fit its 16-bit
// length field is left out; running out of room marks the set as overflowed.
class SetBuilder
{
public:
    SetBuilder(uint8_t* buffer, uint32_t room, uint64_t filePos) : _p(buffer), _room(room), _qwFilePos(filePos) {}

    // The file position the next item's value will have.
    uint64_t NextValuePos() const { return _qwFilePos + _pos + 4; }
    uint32_t Size() const { return _pos; }
    bool Overflowed() const { return _bOverflow; }

    void Raw(uint16_t tag, const void* data, size_t length)
    {
        if (tag == 0 || length > 0xFFFF)
            return;
        if (length + 4 > _room - _pos) {
            _bOverflow = true;
            return;
        }
        PutBe16(_p + _pos, tag);
        PutBe16(_p + _pos + 2, static_cast<uint32_t>(length));
        if (length)
            std::memcpy(_p + _pos + 4, data, length);
        _pos += 4 + static_cast<uint32_t>(length);
    }
    void Text(uint16_t tag, const std::string& text) { Raw(tag, text.data(), text.size()); }
    void U32(uint16_t tag, uint32_t v)
    {
        uint8_t b[4];
        PutBe32(b, v);
        Raw(tag, b, 4);
    }
    void U16(uint16_t tag, uint32_t v)
    {
        uint8_t b[2];
        PutBe16(b, v);
        Raw(tag, b, 2);
    }
    void U8(uint16_t tag, uint8_t v) { Raw(tag, &v, 1); }
    // A pack: entries of a 2-byte length and the bytes.
    void Pack(uint16_t tag, const std::vector<std::string>& entries)
    {
        std::string value;
        for (const std::string& entry : entries) {
            const size_t n = std::min<size_t>(entry.size(), 0xFFFF);
            value += static_cast<char>(n >> 8);
            value += static_cast<char>(n & 0xFF);
            value.append(entry, 0, n);
        }
        Text(tag, value);
    }

private:
    uint8_t* _p;
    uint32_t _room;
    uint64_t _qwFilePos;
    uint32_t _pos = 0;
    bool _bOverflow = false;
};

void BuildPartitionPack(uint8_t* p, bool footer, uint64_t thisPartition, uint64_t footerPos, uint64_t headerBytes)
{
    std::memset(p, 0, kPartitionPackSize);
    std::memcpy(p, footer ? kFooterPartitionKey : kHeaderPartitionKey, 16);
    const uint8_t length[5] = {0x84, 0, 0, 0, kPartitionValueSize};
    std::memcpy(p + 16, length, 5);
    uint8_t* v = p + 21;
    PutBe16(v, 1);
    PutBe16(v + 2, 2);
    PutBe32(v + 4, 1);
    PutBe64(v + 8, thisPartition);
    PutBe64(v + 24, footerPos);
    PutBe64(v + 32, headerBytes);
    PutBe64(v + 52, footer ? 0 : kEssenceKeyOffset);
    PutBe32(v + 60, footer ? 0 : 1);
    std::memcpy(v + 64, kOperationalPattern, 16);
    PutBe32(v + 80, 1);
    PutBe32(v + 84, 16);
    std::memcpy(v + 88, kEssenceKey, 16);
}

void BuildPrimerPack(uint8_t* p)
{
    std::memcpy(p, kPrimerPackKey, 16);
    const uint8_t length[4] = {0x83, 0x00, 0x05, 0xBA};
    std::memcpy(p + 16, length, 4);
    PutBe32(p + 20, kPrimerEntryCount);
    PutBe32(p + 24, kPrimerEntrySize);
    std::vector<uint16_t> tags = {kTagSignature, kTagMetadataVersion};
    for (uint16_t t = kTagClipUmID; t <= kTagVideosSimultaneous; ++t)
        tags.push_back(t);
    tags.insert(tags.end(), {kTagKeywords, kTagWideKeywords});
    for (uint16_t t = kTagSessionDate; t <= kTagSessionName; ++t)
        tags.push_back(t);
    tags.insert(tags.end(), {kTagBackupCompletionTime, kTagSessionKeywords, kTagIndexBigBlock});
    for (uint16_t group : {kTagThumbInCx, kTagThumbRefCx, kTagThumbOutCx})
        for (uint16_t t = group; t < group + 4; ++t)
            tags.push_back(t);
    uint8_t* entry = p + 28;
    for (uint16_t tag : tags) {
        PutBe16(entry, tag);
        std::memcpy(entry + 2, mxf::kKorvoMetaDataItemPrefix, 14);
        entry[16] = static_cast<uint8_t>((tag >> 8) - 0x7F);
        entry[17] = static_cast<uint8_t>(tag);
        entry += kPrimerEntrySize;
    }
}

void BuildClipGroup(SetBuilder& set, const CMXF_Parvex_ClipDescriptor& clip)
{
    set.Text(kTagClipUmID, clip._szClipId);
    set.Text(kTagClipName, clip._szClipName);
    if (clip._bWideClipName)
        set.Raw(kTagWideClipName, clip._aWideClipName, kWideNameSize);
    set.U32(kTagNumClip, static_cast<uint32_t>(clip._nNumClip));
    set.U8(kTagCamera, clip._cCamera);
    set.U8(kTagNumMachine, clip._nNumMachine);
    set.U32(kTagShortIn, clip._nShortIn);
    set.U32(kTagShortOut, clip._nShortOut);
    set.U32(kTagOffsetTC, clip._nOffsetTC);
    set.U8(kTagCameraPref, clip._cCameraPref);
    set.Text(kTagServerName, clip._szServerName);
    set.U32(kTagShortRef, clip._nShortRef);
    set.U32(kTagStatus, clip._nStatus);
    set.U32(kTagStatusParvex, clip._nFileStatus);
    set.U32(kTagTCSystem, clip._nTCSystem);
    set.U32(kTagSession, clip._nSession);
    set.U32(kTagUnicodeFlag, clip._nUnicodeFlag);
    set.U32(kTagFillAndKeyType, clip._nFillAndKeyType);
    set.Text(kTagFillAndKey, clip._szFillAndKey);
    set.Text(kTagClipIdSrc, clip._szClipIdSrc);
    set.Text(kTagClipNameSrc, clip._szClipNameSrc);
    if (clip._bWideClipNameSrc)
        set.Raw(kTagWideClipNameSrc, clip._aWideClipNameSrc, kWideNameSize);
    set.Text(kTagVarId, clip._szVarId);
    if (clip._bWideVarId) {
        set.Raw(kTagWideVarId, clip._aWideVarId, kWideVarIdSize);
        set.U16(kTagWideVarIdSize, clip._nWideVarIdSize);
    }
    set.U16(kTagQuality, clip._nQuality);
    set.U32(kTagMchSerialNb, clip._nMchSerialNb);
    set.Raw(kTagUserBits, clip._aUserBits, 8);
    set.U16(kTagSerTCVersion, clip._nSerTCVersion);
    if (clip._nSerTCVersion != 0xFFFF) {
        set.Raw(kTagSerTCTod, clip._aSerTCTod, kSerTCSize);
        set.Raw(kTagSerTCUsr, clip._aSerTCUsr, kSerTCSize);
        set.U8(kTagTypeTCTod, clip._nTypeTCTod);
        set.U8(kTagTypeTCUser, clip._nTypeTCUser);
        set.Raw(kTagSerTCTodSrc, clip._aSerTCTodSrc, kSerTCSize);
        set.Raw(kTagSerTCUsrSrc, clip._aSerTCUsrSrc, kSerTCSize);
        set.U8(kTagPrimaryTC, clip._nPrimaryTC);
    }
    set.Pack(kTagKeywords, std::vector<std::string>(std::begin(clip._szKeywords), std::end(clip._szKeywords)));
    std::vector<std::string> wide;
    for (uint32_t i = 0; i < kMaxKeywords; ++i)
        wide.emplace_back(clip._bKeywordWide[i]
                              ? std::string(reinterpret_cast<const char*>(clip._aKeywordWide[i]), kWideKeywordSize)
                              : std::string());
    set.Pack(kTagWideKeywords, wide);
}

// The items that the header and the footer sets share.
void BuildItems(SetBuilder& set, const CMXF_Parvex_ClipInfo& info)
{
    set.Raw(kTagSignature, kSignature, kSignatureLength);
    set.U32(kTagMetadataVersion, 1);
    set.U32(kTagIn, info._nIn);
    set.U32(kTagOut, info._nOut);
    set.U32(kTagNbAudios, info._nAudioGroups);
    set.U32(kTagVideoFormat, info._nVideoFormat);
    set.U32(kTagSystem, info._nSystem);
    set.U32(kTag2KTableVersion, info._n2KTableVersion);
    set.U32(kTagVideoRate, info._nBitrate);
    set.Text(kTagClipIdMaterial, info._szMaterialId);
    set.U32(kTagNbVideos, info._nVideos);
    set.U32(kTagAudioType, info._nAudioType);
    set.U32(kTagCreationTimeGMT, static_cast<uint32_t>(info._qwCreationTimeGMT));
    set.U32(kTagCreationTimeZone, static_cast<uint32_t>(info._nTimeZone));
    set.U32(kTagBlockSize, info._nBlockSize);
    set.U32(kTagBlockType, info._nBlockType);
    set.U32(kTagVideoCodec, info._nVideoCodec);
    set.U32(kTagVideosDualLink, info._nDualLink);
    set.U32(kTagVideosSimultaneous, info._nSimultaneous);
    set.U32(kTagSessionDate, static_cast<uint32_t>(info._qwSessionDate));
    set.Text(kTagSessionDateText, info._szSessionDate);
    set.Text(kTagSessionName, info._szSessionName);
    set.Text(kTagSessionSport, info._szSessionSport);
    set.Text(kTagSessionCompetition, info._szSessionCompetition);
    set.Text(kTagSessionCompetitionLevel, info._szSessionCompetitionLevel);
    set.Text(kTagSessionLocation, info._szSessionLocation);
    set.Text(kTagSessionPlayerA, info._szSessionTeamA);
    set.Text(kTagSessionPlayerB, info._szSessionTeamB);
    set.U32(kTagBackupCompletionTime, static_cast<uint32_t>(info._qwBackupCompletionTime));
    set.Pack(kTagSessionKeywords,
             std::vector<std::string>(std::begin(info._szSessionKeywords), std::end(info._szSessionKeywords)));
    for (const CMXF_Parvex_ClipDescriptor* clip = info.GetFirstClip(); clip; clip = clip->_pNext)
        BuildClipGroup(set, *clip);
    if (info.GetFirstClip())
        BuildClipGroup(set, *info.GetFirstClip());
}

}  // namespace

CMXF_Parvex_FileWriter::CMXF_Parvex_FileWriter(CLogFile* log)
    : _pLog(log ? log : &theLogManager), _pWork(platform::MakePageBuffer(kWorkBufferSize))
{
    SetLogPrefix("CMXF_Parvex_FileWriter");
    SetMinMaxWr(kBlockSize2MB, kBlockSize8MB);
}

void CMXF_Parvex_FileWriter::Log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = FormatTextV(format, args);
    va_end(args);
    _pLog->Log("%s", text.c_str());
}

int CMXF_Parvex_FileWriter::SetHeaderData(CMXF_Parvex_ClipInfo* info, uint64_t essenceBytes, uint64_t footerPos)
{
    if (!_pWork || !info)
        return -1;
    uint8_t* p = _pWork.get();
    BuildPartitionPack(p, false, 0, footerPos, kHeaderByteCount);
    BuildPrimerPack(p + kPartitionPackSize);
    const uint32_t items = kMetaDataSetOffset + kSetHeadSize;
    SetBuilder set(p + items, kFillEnd - kFillHeadSize - items, items);
    BuildItems(set, *info);
    if (set.Overflowed()) {
        Log("CMXF_Parvex_FileWriter::SetHeaderData: metadata does not fit the header area");
        return 2;
    }
    std::memcpy(p + kMetaDataSetOffset, kKorvoMetaDataKey, 16);
    p[kMetaDataSetOffset + 16] = 0x83;
    p[kMetaDataSetOffset + 17] = static_cast<uint8_t>(set.Size() >> 16);
    PutBe16(p + kMetaDataSetOffset + 18, set.Size());
    // The fill runs up to the essence key; it is cleared so that no stale bytes go into the file.
    const uint32_t fill = items + set.Size();
    const uint32_t fillLength = kFillEnd - (fill + kFillHeadSize);
    std::memcpy(p + fill, kFillKey, 16);
    p[fill + 16] = 0x84;
    PutBe32(p + fill + 17, fillLength);
    std::memset(p + fill + kFillHeadSize, 0, fillLength);
    std::memcpy(p + kEssenceKeyOffset, kEssenceKey, 16);
    p[kEssenceKeyOffset + 16] = 0x88;
    PutBe64(p + kEssenceKeyOffset + 17, essenceBytes);
    return 0;
}

bool CMXF_Parvex_FileWriter::WriteAll(const uint8_t* data, uint32_t n, const char* what)
{
    uint32_t taken = 0;
    if (WriteData(data, n, &taken) == 0 && taken == n)
        return true;
    Log("CMXF_Parvex_FileWriter::%s: write 0x%X bytes return 0x%X bytes written ?!", what, n, taken);
    return false;
}

bool CMXF_Parvex_FileWriter::Reserve(uint64_t position, uint64_t length)
{
    switch (_file.Allocate(position, length)) {
        case platform::File::Allocation::Done:
            return true;
        case platform::File::Allocation::Unsupported:
            if (!_bNoReserveLogged)
                Log("CMXF_Parvex_FileWriter::Reserve: the file system reserves no space: %s",
                    platform::ErrorText(_file.LastError()).c_str());
            _bNoReserveLogged = true;
            return true;
        case platform::File::Allocation::Failed:
            break;
    }
    Log("CMXF_Parvex_FileWriter::Reserve: 0x%llX bytes at 0x%llX cannot be reserved: %s",
        static_cast<unsigned long long>(length), static_cast<unsigned long long>(position),
        platform::ErrorText(_file.LastError()).c_str());
    return false;
}

int CMXF_Parvex_FileWriter::WriteHeader()
{
    if (!_pWork)
        return -1;
    const uint64_t previous = GetCurrentPos();
    if (SetFilePos(0) != 0 || !WriteAll(_pWork.get(), kWorkBufferSize, "WriteHeader")) {
        SetFilePos(previous);
        return 1;
    }
    return SetFilePos(previous) == 0 ? 0 : 1;
}

uint64_t CMXF_Parvex_FileWriter::WriteFooter(CMXF_Parvex_ClipInfo* info, bool truncate, bool* success)
{
    *success = false;
    const uint64_t footer = GetCurrentPos();
    if (!_pWork || !info)
        return footer;
    uint8_t* p = _pWork.get();
    Log("CMXF_Parvex_FileWriter::WriteFooter: before Insert_FooterMetaData_Korvo_MetaData");
    BuildPrimerPack(p + kPartitionPackSize);
    const uint32_t items = kMetaDataSetOffset + kFooterSetHeadSize;
    SetBuilder set(p + items, kWorkBufferSize - items, footer + items);
    BuildItems(set, *info);
    // Thumbnails: sizes, pixels where the info holds them, the field shown.
    for (int i = 0; i < CMXF_Parvex_ClipInfo::kThumbCount; ++i) {
        CMXF_Parvex_Thumbnail& thumb = info->_aThumbnails[i];
        const uint16_t base = i == 0 ? kTagThumbInCx : i == 1 ? kTagThumbRefCx : kTagThumbOutCx;
        set.U8(base, thumb._nCx);
        set.U8(base + 1, thumb._nCy);
        if (!thumb._pPixels.empty()) {
            // Pixels longer than the 16-bit length field are never written.
            if (thumb._pPixels.size() > 0xFFFF) {
                Log("CMXF_Parvex_FileWriter::WriteFooter: thumbnail %d of %zu bytes does not fit its item ---> left "
                    "out",
                    i, thumb._pPixels.size());
                thumb._qwFilePos = 0;
            } else {
                thumb._qwFilePos = set.NextValuePos();
                set.Raw(base + 2, thumb._pPixels.data(), thumb._pPixels.size());
            }
        }
        set.U32(base + 3, thumb._nField);
    }
    Log("CMXF_Parvex_FileWriter::WriteFooter: after  Insert_FooterMetaData_Korvo_MetaData");
    if (set.Overflowed()) {
        Log("CMXF_Parvex_FileWriter::WriteFooter: metadata does not fit the work buffer");
        return footer;
    }
    std::memcpy(p + kMetaDataSetOffset, kKorvoMetaDataKey, 16);
    const uint32_t end = items + set.Size();
    Log("CMXF_Parvex_FileWriter::WriteFooter: before WriteData: %u bytes to write", end);
    BuildPartitionPack(p, true, footer, footer, 0);
    bool ok = WriteAll(p, end, "WriteFooter");
    Log("CMXF_Parvex_FileWriter::WriteFooter: after  WriteData: %u bytes written", ok ? end : 0);

    // The index, one item per big block up to the first missing one.
    Log("CMXF_Parvex_FileWriter::Insert_FooterMetaData_Korvo_MetaData_Index");
    platform::PageBuffer index = platform::MakePageBuffer(kIndexBufferSize);
    uint64_t indexLength = 0;
    for (uint32_t b = 0; ok && index && b < kMaxBigBlocks; ++b) {
        const CMXF_Parvex_BigBlock* bigBlock = info->GetBigBlock(b);
        if (!bigBlock)
            break;
        const uint32_t n = bigBlock->BlockCount();
        Log("CMXF_Parvex_FileWriter::WriteFooter: index bigblock %u (0x%X)", b, b * kBlocksPerBigBlock);
        Log("CMXF_Parvex_FileWriter::WriteFooter: index bigblock %u: field_in=%u  field_out=%u  last_block=%d", b,
            bigBlock->_nFieldIn, bigBlock->_nFieldOutExcluded, bigBlock->_nLastBlockInUse);
        uint8_t* q = index.get();
        const uint32_t itemLength = kBigBlockHeadSize + n * kBlockDescriptorSize;
        static_assert(kIndexItemMax <= kIndexBufferSize);
        PutBe16(q, kTagIndexBigBlock);
        PutBe16(q + 2, itemLength);
        PutBe32(q + 4, bigBlock->_nFieldIn);
        PutBe32(q + 8, bigBlock->_nFieldOutExcluded);
        PutBe16(q + 12, n);
        PutBe16(q + 14, kBlockDescriptorSize);
        for (uint32_t j = 0; j < n; ++j) {
            PutBe32(q + 16 + j * kBlockDescriptorSize, bigBlock->_aFieldIn[j]);
            PutBe64(q + 20 + j * kBlockDescriptorSize, bigBlock->_aFilePos[j]);
        }
        Log("CMXF_Parvex_FileWriter::WriteFooter: index bigblock %u: nb_block_descriptors=%u , total %u bytes to write",
            b, n, itemLength + 4);
        ok = WriteAll(q, itemLength + 4, FormatText("WriteFooter: bigblock %u", b).c_str());
        indexLength += itemLength + 4;
    }
    ok = ok && index;
    Log("CMXF_Parvex_FileWriter::Insert_FooterMetaData_Korvo_MetaData_Index: total_index_length=%" PRIu64, indexLength);

    // The set's length and the header byte count now take the index in.
    const uint64_t setLength = set.Size() + indexLength;
    const uint64_t footerEnd = footer + items + setLength;
    BuildPartitionPack(p, true, footer, footer, kPrimerPackSize + kFooterSetHeadSize + setLength);
    p[kMetaDataSetOffset + 16] = 0x84;
    PutBe32(p + kMetaDataSetOffset + 17, static_cast<uint32_t>(setLength));
    ok =
        ok && SetFilePos(footer) == 0 && WriteAll(p, items, "WriteFooter_Korvo_MetaData") && SetFilePos(footerEnd) == 0;
    if (ok && truncate) {
        Log("CMXF_Parvex_FileWriter::WriteFooter_Korvo_MetaData_Index: setting file_size to 0x%" PRIX64
            " (total_index_length=0x%" PRIX64 ")",
            footerEnd, indexLength);
        ok = SetSize(footerEnd) == 0;
    }
    *success = ok;
    return footer;
}
