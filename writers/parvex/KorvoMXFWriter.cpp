#include "writers/parvex/KorvoMXFWriter.h"

#include <cstring>
#include <ctime>
#include <new>
#include <system_error>
#include <utility>

#include "common/TcDate.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "parvex/MXFId.h"
#include "parvex/ParvexLayout.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "writers/parvex/CMXF_Parvex_FileWriter.h"

namespace
{

// The clip info's codec numbering from the picture settings.
uint32_t VideoCodecCode(const KorvoMXFInfo& info, uint32_t blockType)
{
    if (!info.IsHD()) {
        switch (info._nVideoFormat) {
            case 1:
                return info._bTwoFields ? 7 : 1;
            case 3:
                return 11;
            case 4:
                return info._nBitrate == 30 ? 2 : info._nBitrate == 40 ? 3 : info._nBitrate == 50 ? 4 : 0;
            case 9:
                return 22;
            default:
                return 0;
        }
    }
    switch (info._nVideoFormat) {
        case 1:
            return 6;
        case 2:
            return blockType == KORVOMXF_BLOCK_TBL2K_2MB ? 5 : 13;
        case 3:
            return 12;
        case 4:
            return 16;
        case 5:
            return info._nHydrelQuality >= 1 && info._nHydrelQuality <= 3 ? 7 + info._nHydrelQuality : 0;
        case 6:
            return info._nProResQuality == 1 ? 14 : info._nProResQuality == 2 ? 15 : 0;
        case 7:
        case 8:
            return 23;
        default:
            return 0;
    }
}

// 24 bytes of UTF-16 little-endian from 12 units.
void WideBytes(uint8_t* target, const char16_t* text, uint32_t units)
{
    for (uint32_t i = 0; i < units; ++i) {
        target[2 * i] = static_cast<uint8_t>(text[i]);
        target[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
}

}  // namespace

KorvoMXFWriter::KorvoMXFWriter() = default;

KorvoMXFWriter::~KorvoMXFWriter()
{
    if (IsOpen())
        Close();
}

int KorvoMXFWriter::SetLog(const char* path, uint32_t maxSize)
{
    // The block being written may log: it finishes on the log it began with.
    if (_blockWrite.valid())
        _blockWrite.wait();
    const int result = KorvoMXFLog::SetLog(path, maxSize);
    if (_pBlockWriter)
        _pBlockWriter->ShareLog(this);
    return result;
}

void KorvoMXFWriter::Release()
{
    if (_blockWrite.valid())
        _blockWrite.wait();
    _blockWrite = {};
    // The block writer shares this object's log: it goes first.
    _pBlockWriter.reset();
    _pBlock.reset();
    _pSpare.reset();
    _pClipInfo.reset();
    _pFileWriter.reset();
}

KorvoMXFResult KorvoMXFWriter::ConfigureBlockWriter(uint32_t blockFormat)
{
    uint32_t type = 0;
    switch (blockFormat) {
        case 0:
        case KORVOMXF_FORMAT_TBL2K_2MB:
            type = KORVOMXF_BLOCK_TBL2K_2MB;
            break;
        case KORVOMXF_FORMAT_BAVD_8MB_V257:
        case KORVOMXF_FORMAT_BAVD_8MB:
            type = KORVOMXF_BLOCK_BAVD_8MB;
            break;
        case KORVOMXF_FORMAT_BAVD_2MB:
            type = KORVOMXF_BLOCK_BAVD_2MB;
            break;
        default:
            Log("(KorvoMXFWriter::Open) Unknown output block format (%u)", blockFormat);
            return KORVOMXF_ERR_UNSUCCESSFUL;
    }
    if (KorvoMXFResult rc = _pBlockWriter->SetBlockType(type); rc != KORVOMXF_OK)
        return rc;
    if (blockFormat == KORVOMXF_FORMAT_BAVD_8MB_V257) {
        for (auto setter :
             {&KorvoMXFBlockWriter::SetBavdBootStrapVersion, &KorvoMXFBlockWriter::SetBavdHeaderVersion,
              &KorvoMXFBlockWriter::SetBavdElemFieldVersion, &KorvoMXFBlockWriter::SetBavdElemRecordVersion})
            if (KorvoMXFResult rc = ((*_pBlockWriter).*setter)(257); rc != KORVOMXF_OK)
                return rc;
    }
    // The clip info's block type is the block writer's: 1 2k table, 2 BAVD 2 MB, 3 BAVD 8 MB.
    _pClipInfo->_nBlockType = type;
    _nBlockSize = _pBlockWriter->GetBlockSize();
    _pClipInfo->_nBlockSize = _nBlockSize;
    return KORVOMXF_OK;
}

KorvoMXFResult KorvoMXFWriter::Open(const char* path, uint32_t openMode, uint32_t blockFormat)
{
    if (IsOpen())
        Close();
    if (!path || openMode > KORVOMXF_OPEN_UPDATE)
        return KORVOMXF_ERR_INVALID_PARAMETER;
    _pFileWriter.reset(new (std::nothrow) CMXF_Parvex_FileWriter(_pLog));
    _pClipInfo.reset(new (std::nothrow) CMXF_Parvex_ClipInfo);
    _pBlockWriter.reset(new (std::nothrow) KorvoMXFBlockWriter);
    if (!_pFileWriter || !_pClipInfo || !_pBlockWriter) {
        Release();
        return KORVOMXF_ERR_OUT_OF_MEMORY;
    }
    _pBlockWriter->ShareLog(this);
    if (KorvoMXFResult rc = ConfigureBlockWriter(blockFormat); rc != KORVOMXF_OK) {
        Release();
        return rc;
    }
    _pBlock = platform::MakePageBuffer(_nBlockSize);
    _pSpare = platform::MakePageBuffer(_nBlockSize);
    if (!_pBlock || !_pSpare) {
        Release();
        return KORVOMXF_ERR_OUT_OF_MEMORY;
    }
    if (KorvoMXFResult rc = _pBlockWriter->SetBlockBuffer(_pBlock.get(), _nBlockSize); rc != KORVOMXF_OK) {
        Release();
        return rc;
    }
    _nOpenMode = openMode;
    _nBlocksWritten = 0;
    _nFailure = KORVOMXF_OK;
    _pFileWriter->SetMinMaxWr(0x80000, 0x800000);
    if (const uint32_t rc = _pFileWriter->Open(path); rc != 0) {
        Log("(KorvoMXFWriter::Open) CMXF_Parvex_FileWriter::Open failed: result=%u", rc);
        Release();
        return KORVOMXF_ERR_MXF_WRITE;
    }
    if (openMode == KORVOMXF_OPEN_CREATE) {
        if (_pFileWriter->SetSize(0) != 0) {
            Log("(KorvoMXFWriter::Open) CMXF_Parvex_FileWriter::SetSize failed");
            _pFileWriter->Close();
            Release();
            return KORVOMXF_ERR_MXF_WRITE;
        }
        return KORVOMXF_OK;
    }
    const KorvoMXFResult rc = OpenForUpdate(path);
    if (rc != KORVOMXF_OK) {
        _pFileWriter->Close();
        Release();
    }
    return rc;
}

KorvoMXFResult KorvoMXFWriter::OpenForUpdate(const char* path)
{
    CMXF_Parvex_FileReader reader("");
    if (const uint32_t rc = reader.Open(path); rc != 0) {
        Log("(KorvoMXFWriter::Open) CMXF_Parvex_FileReader::Open failed: result=%u", rc);
        return KORVOMXF_ERR_MXF_READ;
    }
    int indexed = 0;
    if (const int32_t rc = reader.GetHeaderData(_pClipInfo.get(), 1, &indexed); rc != 0) {
        Log("(KorvoMXFWriter::Open) CMXF_Parvex_FileReader::GetHeaderData failed: result=%d", rc);
        return KORVOMXF_ERR_MXF_READ;
    }
    if (!indexed) {
        Log("(KorvoMXFWriter::Open) CMXF_Parvex_FileReader::GetHeaderData - Invalid footer");
        return KORVOMXF_ERR_MXF_INFO;
    }
    _pClipInfo->_szFileNames[0] = path;
    uint64_t essenceBytes = 0, footerPos = 0;
    if (const uint32_t rc = reader.GetFileInfo(&essenceBytes, &footerPos); rc != 0) {
        Log("(KorvoMXFWriter::Open) CMXF_Parvex_FileReader::GetFileInfo failed: result=%u", rc);
        return KORVOMXF_ERR_MXF_INFO;
    }
    if (const uint32_t rc = _pFileWriter->SetFilePos(footerPos); rc != 0) {
        Log("(KorvoMXFWriter::Open) CMXF_Parvex_FileWriter::SetFilePos failed: result=%u", rc);
        return KORVOMXF_ERR_MXF_WRITE;
    }
    if (const uint32_t rc = reader.Close(); rc != 0) {
        Log("(KorvoMXFWriter::Open) CMXF_Parvex_FileReader::Close failed: result=%u", rc);
        return KORVOMXF_ERR_MXF_READ;
    }
    // The blocks already in the file stay counted, so that Close records the essence length they have.
    _nBlocksWritten = static_cast<uint32_t>(essenceBytes / _pClipInfo->_nBlockSize);
    return KORVOMXF_OK;
}

KorvoMXFResult KorvoMXFWriter::SetInfo(const KorvoMXFInfo& info)
{
    if (!IsOpen())
        return KORVOMXF_ERR_UNSUCCESSFUL;
    if (_nFailure != KORVOMXF_OK)
        return _nFailure;
    KorvoMXFBlockWriter& bw = *_pBlockWriter;
    bw.SetStandard(static_cast<uint32_t>(info._nStandard));
    bw.SetVideoSystem(static_cast<uint32_t>(info._nVideoSystem));
    bw.SetAspectRatio(static_cast<uint32_t>(info._nAspectRatio));
    bw.SetProgressive(info._bProgressive != 0);
    bw.SetFormatFlag(info._bFormatFlag != 0);
    bw.SetDualLink(info._bDualLink != 0);
    bw.SetSimultaneousMode(info._bSimultaneous != 0);
    bw.SetVideoFormat(static_cast<uint32_t>(info._nVideoFormat));
    bw.SetAudioFormat(static_cast<uint32_t>(info._nAudioFormat));
    bw.SetTableHeaderByte(info._nTableHeaderByte);
    bw.SetVideoChannelCount(info._nVideoChannels);
    bw.SetAudioGroupCount(info._nAudioGroups);
    bw.SetTwoFields(info._bTwoFields != 0);

    CMXF_Parvex_ClipInfo& ci = *_pClipInfo;
    ci._szMaterialId = std::string(info._szMaterialId, strnlen(info._szMaterialId, 8));
    // The id carries the local wall-clock time counted as if UTC; read back as local time it gives the true UTC.
    const int64_t t = MXFIdToTime(ci._szMaterialId.c_str());
    const std::time_t local = static_cast<std::time_t>(t);
    std::tm broken{};
    gmtime_r(&local, &broken);
    std::tm asLocal = broken;
    asLocal.tm_isdst = -1;
    const int64_t g = static_cast<int64_t>(std::mktime(&asLocal));
    ci._qwLocalCreationTime = t;
    ci._qwCreationTimeGMT = g;
    ci._nTimeZone = static_cast<int32_t>((t - g) / 3600);

    ci._nVideoCodec = VideoCodecCode(info, bw.GetBlockType());
    ci._nVideoFormat = bw.GetVideoFormatWord();
    ci._nStandardAndSystem = static_cast<uint8_t>(ci._nVideoFormat >> 24);
    ci._n2KTableVersion = ci._nVideoFormat & 0xFF;
    ci._nSystem = static_cast<uint32_t>(info._nStandard);
    ci._nAudioGroups = info._nAudioGroups;
    ci._nAudioType = static_cast<uint32_t>(info._nAudioType);
    ci._nVideos = info._nVideoChannels;
    ci._nBitrate = static_cast<uint32_t>(info._nBitrate);
    ci._nDualLink = static_cast<uint32_t>(info._bDualLink);
    ci._nSimultaneous = static_cast<uint32_t>(info._bSimultaneous);
    ci._nIn = info._nFirstField;
    ci._nOut = info._nOutField;
    ci._qwSessionDate = info._nSessionDate;
    ci._szSessionDate = info._szSessionTexts[KorvoMXFInfo::kSessionDate];
    ci._szSessionName = info._szSessionTexts[KorvoMXFInfo::kSessionName];
    ci._szSessionSport = info._szSessionTexts[KorvoMXFInfo::kSessionSport];
    ci._szSessionCompetition = info._szSessionTexts[KorvoMXFInfo::kSessionCompetition];
    ci._szSessionCompetitionLevel = info._szSessionTexts[KorvoMXFInfo::kSessionCompetitionLevel];
    ci._szSessionLocation = info._szSessionTexts[KorvoMXFInfo::kSessionLocation];
    ci._szSessionTeamA = info._szSessionTexts[KorvoMXFInfo::kSessionPlayerA];
    ci._szSessionTeamB = info._szSessionTexts[KorvoMXFInfo::kSessionPlayerB];
    for (uint32_t i = 0; i < parvex::kMaxSessionKeywords; ++i) {
        const char* keyword = info.GetKeyword(i);
        ci._szSessionKeywords[i] = keyword ? keyword : "";
    }
    ci._nSessionKeywords = parvex::kMaxSessionKeywords;

    // The clips are built anew on every call.
    ci.FreeClips();
    size_t it = 0;
    for (const KorvoMXFClip* clip = info.GetFirstClip(it); clip; clip = info.GetNextClip(it)) {
        CMXF_Parvex_ClipDescriptor* d = ci.CreateClipInfo();
        if (!d) {
            Log("(KorvoMXFWriter::SetInfo) CMXF_Parvex_ClipInfo::CreateClipInfo failed");
            return KORVOMXF_ERR_MXF_INFO;
        }
        d->_szClipId = std::string(clip->_szUmId, strnlen(clip->_szUmId, 8));
        if (clip->_bVarIdBinary) {
            d->_szVarId = "<BINARY>";
            std::memcpy(d->_aWideVarId, clip->_aVarId, sizeof d->_aWideVarId);
            d->_nWideVarIdSize = static_cast<uint16_t>(clip->_nVarIdLength);
            d->_bWideVarId = true;
        } else {
            d->_szVarId.assign(reinterpret_cast<const char*>(clip->_aVarId),
                               strnlen(reinterpret_cast<const char*>(clip->_aVarId), clip->_nVarIdLength));
        }
        d->_szClipName = clip->_szName;
        if (clip->_bWideName) {
            WideBytes(d->_aWideClipName, clip->_wszName, parvex::kWideNameSize / 2);
            d->_bWideClipName = true;
        }
        d->_szServerName = clip->_szServerName;
        d->_nNumClip = clip->_nClipNumber;
        d->_cCamera = clip->_cCamera;
        d->_nNumMachine = static_cast<uint8_t>(clip->_nMachineNumber);
        d->_cCameraPref = clip->_cCameraPref;
        d->_nShortIn = clip->_nShortIn;
        d->_nShortOut = clip->_nShortOut;
        d->_nShortRef = clip->_nShortRef;
        d->_nOffsetTC = clip->_nOffset;
        d->_nTCSystem = clip->_nTCSystem;
        d->_nQuality = clip->_nQuality;
        d->_nSession = clip->_nSession;
        d->_nFillAndKeyType = clip->_nFillAndKeyType;
        d->_nStatus = static_cast<uint16_t>(((clip->_nQuality & 3u) << 2 | (info._nAudioType & 3u)) << 10);
        d->_nUnicodeFlag = 0;
        std::memcpy(d->_aUserBits, clip->_aUserBits, 8);
        d->_szFillAndKey = std::string(clip->_szFillAndKey, strnlen(clip->_szFillAndKey, 8));
        d->_szClipIdSrc = std::string(clip->_szClipIdSource, strnlen(clip->_szClipIdSource, 8));
        d->_szClipNameSrc = clip->_szClipNameSource;
        if (clip->_bWideNameSource) {
            WideBytes(d->_aWideClipNameSrc, clip->_wszNameSource, parvex::kWideNameSize / 2);
            d->_bWideClipNameSrc = true;
        }
        for (uint32_t k = 0; k < KorvoMXFClip::kKeywords; ++k) {
            d->_szKeywords[k] = clip->_szKeywords[k];
            d->_bKeywordWide[k] = clip->_bWideKeyword[k];
            if (clip->_bWideKeyword[k])
                WideBytes(d->_aKeywordWide[k], clip->_wszKeywords[k], parvex::kWideKeywordSize / 2);
        }

        // Serial timecodes: what the clip gives, else the creation date at the clip's first field.
        d->_nSerTCVersion = 0;
        if (clip->_bHasTime[KorvoMXFClip::kTimeTodSource]) {
            std::memcpy(d->_aSerTCTodSrc, clip->_aTimes[KorvoMXFClip::kTimeTodSource], 8);
        } else {
            TcDate date;
            TcDateFromDateFields(clip->_nTCSystem, broken, clip->_nOffset + info._nFirstField, 3, &date);
            if (date.Pack(false, d->_aSerTCTodSrc) != TcDate::kPackedSize) {
                Log("(KorvoMXFWriter::SetInfo) TcDate::Save failed");
                return KORVOMXF_ERR_TCDATE;
            }
        }
        auto pick = [&](KorvoMXFClip::Time which, uint8_t* target, const uint8_t* fallback) {
            std::memcpy(target, clip->_bHasTime[which] ? clip->_aTimes[which] : fallback, 8);
        };
        pick(KorvoMXFClip::kTimeUserSource, d->_aSerTCUsrSrc, d->_aSerTCTodSrc);
        pick(KorvoMXFClip::kTimeTod, d->_aSerTCTod, d->_aSerTCTodSrc);
        pick(KorvoMXFClip::kTimeUser, d->_aSerTCUsr, d->_aSerTCUsrSrc);
        d->_bSerTCUsr = true;
        TcDate user;
        if (user.Unpack(false, d->_aSerTCUsr) != TcDate::kPackedSize) {
            Log("(KorvoMXFWriter::SetInfo) TcDate::Load failed");
            return KORVOMXF_ERR_TCDATE;
        }
        d->_nTypeTCTod = clip->_nUserTCType;
        d->_nTypeTCUser = static_cast<uint8_t>(user.GetFlags() & 3);
        d->_nPrimaryTC = clip->_nPrimaryTC;
    }
    ci.UpdateFromMainClip();

    // The header goes out after the block being written, whose failure it reports.
    if (KorvoMXFResult rc = FinishBlockWrite(); rc != KORVOMXF_OK)
        return rc;
    if (_pFileWriter->SetHeaderData(&ci, uint64_t{_nBlockSize} * _nBlocksWritten, 0) != 0) {
        Log("(KorvoMXFWriter::SetInfo) CMXF_Parvex_FileWriter::SetHeaderData failed");
        return KORVOMXF_ERR_MXF_INFO;
    }
    if (_pFileWriter->WriteHeader() != 0) {
        Log("(KorvoMXFWriter::SetInfo) CMXF_Parvex_FileWriter::WriteHeader failed");
        return Keep(KORVOMXF_ERR_MXF_WRITE);
    }
    return KORVOMXF_OK;
}

KorvoMXFResult KorvoMXFWriter::SetFirstField(uint32_t field)
{
    if (!IsOpen())
        return KORVOMXF_ERR_UNSUCCESSFUL;
    if (_nFailure != KORVOMXF_OK)
        return _nFailure;
    return _pBlockWriter->SetFirstField(field);
}

KorvoMXFResult KorvoMXFWriter::AddPicture(uint32_t videoCount, const KorvoMXFVideoInfo* videoInfo,
                                          const uint8_t* videoData, uint32_t audioCount,
                                          const KorvoMXFAudioInfo* audioInfo, const uint8_t* audioData,
                                          uint32_t dataBlockCount, const uint32_t* dataBlockSizes,
                                          const uint8_t* dataBlocks)
{
    if (!IsOpen())
        return KORVOMXF_ERR_UNSUCCESSFUL;
    if (_nOpenMode == KORVOMXF_OPEN_UPDATE) {
        Log("(KorvoMXFWriter::AddPicture) Not implemented in UPDATE mode");
        return KORVOMXF_ERR_NOT_IMPLEMENTED;
    }
    if (_nFailure != KORVOMXF_OK)
        return _nFailure;
    auto add = [&] {
        return _pBlockWriter->AddPicture(videoCount, videoInfo, videoData, audioCount, audioInfo, audioData,
                                         dataBlockCount, dataBlockSizes, dataBlocks);
    };
    KorvoMXFResult rc = add();
    if (rc == KORVOMXF_ERR_INSUFFICIENT_BUFFER && _pBlockWriter->GetBlockFieldCount() > 0) {
        if (KorvoMXFResult written = WriteCurrentBlock(); written != KORVOMXF_OK) {
            Log("(KorvoMXFWriter::AddPicture) WriteCurrentBlock failed: %s", KorvoMXFErrorText(written));
            return written;
        }
        rc = add();
    }
    return rc;
}

KorvoMXFResult KorvoMXFWriter::Keep(KorvoMXFResult rc)
{
    if (_nFailure == KORVOMXF_OK)
        _nFailure = rc;
    return _nFailure;
}

KorvoMXFResult KorvoMXFWriter::FinishBlockWrite()
{
    if (_blockWrite.valid())
        Keep(_blockWrite.get());
    return _nFailure;
}

KorvoMXFResult KorvoMXFWriter::WriteBlock(uint8_t* block)
{
    uint32_t written = 0;
    if (const uint32_t rc = _pFileWriter->WriteData(block, _nBlockSize, &written); rc != 0) {
        Log("(KorvoMXFWriter::WriteCurrentBlock) CMXF_Parvex_FileWriter::WriteData failed: result=%u", rc);
        return KORVOMXF_ERR_MXF_WRITE;
    }
    if (written != _nBlockSize) {
        Log("(KorvoMXFWriter::WriteCurrentBlock) CMXF_Parvex_FileWriter::WriteData - dwBytesWr[0x%X] != "
            "BLOCK_SIZE[0x%X]",
            written, _nBlockSize);
        return KORVOMXF_ERR_MXF_WRITE;
    }
    // The buffer starts its next block clean, so no bytes of this one stay in its unused room.
    std::memset(block, 0, _nBlockSize);
    return KORVOMXF_OK;
}

KorvoMXFResult KorvoMXFWriter::WriteCurrentBlock()
{
    if (!IsOpen())
        return KORVOMXF_ERR_UNSUCCESSFUL;
    if (KorvoMXFResult rc = FinishBlockWrite(); rc != KORVOMXF_OK)
        return rc;
    const uint64_t position = parvex::kHeaderAreaSize + uint64_t{_nBlocksWritten} * _nBlockSize;
    if (_pFileWriter->GetCurrentPos() != position) {
        if (const uint32_t rc = _pFileWriter->SetFilePos(position); rc != 0) {
            Log("(KorvoMXFWriter::WriteCurrentBlock) CMXF_Parvex_FileWriter::SetFilePos failed: result=%u", rc);
            return Keep(KORVOMXF_ERR_MXF_WRITE);
        }
    }
    // A block the disk cannot hold fails here, with the picture that filled it.
    if (!_pFileWriter->Reserve(position, _nBlockSize)) {
        Log("(KorvoMXFWriter::WriteCurrentBlock) CMXF_Parvex_FileWriter::Reserve failed");
        return Keep(KORVOMXF_ERR_MXF_WRITE);
    }
    const uint32_t current = _pBlockWriter->GetCurrentField();
    if (_pClipInfo->AddBlock(current - _pBlockWriter->GetBlockFieldCount(), current, position) < 0) {
        Log("(KorvoMXFWriter::WriteCurrentBlock) CMXF_Parvex_ClipInfo::AddBlock failed: index full");
        return Keep(KORVOMXF_ERR_WRITE_BLOCK_INDEX);
    }
    ++_nBlocksWritten;
    std::swap(_pBlock, _pSpare);
    try {
        _blockWrite = std::async(std::launch::async, &KorvoMXFWriter::WriteBlock, this, _pSpare.get());
    } catch (const std::system_error&) {
        // No thread to be had: the block is written when it is waited for.
        _blockWrite = std::async(std::launch::deferred, &KorvoMXFWriter::WriteBlock, this, _pSpare.get());
    }
    return _pBlockWriter->SetBlockBuffer(_pBlock.get(), _nBlockSize);
}

KorvoMXFResult KorvoMXFWriter::Close()
{
    if (!IsOpen())
        return KORVOMXF_OK;
    if (_nOpenMode == KORVOMXF_OPEN_CREATE && _nFailure == KORVOMXF_OK && _pBlockWriter->GetBlockFieldCount() > 0) {
        if (KorvoMXFResult rc = WriteCurrentBlock(); rc != KORVOMXF_OK)
            Log("(KorvoMXFWriter::Close) WriteCurrentBlock failed: %s", KorvoMXFErrorText(rc));
    }
    if (KorvoMXFResult rc = FinishBlockWrite(); rc != KORVOMXF_OK)
        Log("(KorvoMXFWriter::Close) WriteCurrentBlock failed: %s", KorvoMXFErrorText(rc));
    // A footer and header would index a block the file does not hold: the file is closed as it is.
    if (_nFailure == KORVOMXF_OK) {
        // The footer follows the last block, wherever the header writes left the file position.
        const uint64_t essenceEnd = parvex::kHeaderAreaSize + uint64_t{_nBlocksWritten} * _nBlockSize;
        bool footerWritten = false;
        uint64_t footer = essenceEnd;
        if (const uint32_t rc = _pFileWriter->SetFilePos(essenceEnd); rc != 0) {
            Log("(KorvoMXFWriter::Close) CMXF_Parvex_FileWriter::SetFilePos failed: result=%u", rc);
            Keep(KORVOMXF_ERR_MXF_WRITE);
        } else {
            footer = _pFileWriter->WriteFooter(_pClipInfo.get(), false, &footerWritten);
        }
        if (!footerWritten) {
            Log("(KorvoMXFWriter::Close) CMXF_Parvex_FileWriter::WriteFooter failed");
            Keep(KORVOMXF_ERR_WRITE_BLOCK_INDEX);
        }
        if (_pFileWriter->SetHeaderData(_pClipInfo.get(), uint64_t{_nBlockSize} * _nBlocksWritten, footer) != 0) {
            Log("(KorvoMXFWriter::Close) CMXF_Parvex_FileWriter::SetHeaderData failed");
            Keep(KORVOMXF_ERR_MXF_INFO);
        } else if (_pFileWriter->WriteHeader() != 0) {
            Log("(KorvoMXFWriter::Close) CMXF_Parvex_FileWriter::WriteHeader failed");
            Keep(KORVOMXF_ERR_MXF_WRITE);
        }
    }
    if (const uint32_t rc = _pFileWriter->Close(); rc != 0) {
        Log("(KorvoMXFWriter::Close) CMXF_Parvex_FileWriter::Close failed: result=%u", rc);
        Keep(KORVOMXF_ERR_MXF_WRITE);
    }
    const KorvoMXFResult result = _nFailure;
    Release();
    return result;
}
