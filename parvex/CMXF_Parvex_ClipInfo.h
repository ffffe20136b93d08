#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "parvex/CMXF_Parvex_BigBlock.h"
#include "parvex/CMXF_Parvex_ClipDescriptor.h"

// One small picture of the clip kept in the footer.
struct CMXF_Parvex_Thumbnail {
    uint32_t _nField = 0;
    uint64_t _qwFilePos = 0;  // of the pixel data, 0 when the file has none
    uint8_t _nCx = 0;
    uint8_t _nCy = 0;
    std::vector<uint8_t> _pPixels;  // cx x cy x 3 bytes once loaded, or set by a writer
};

// Everything known about one Parvex clip file: the file-level description, its clips (head clip first), the
// session metadata, three thumbnails and the block index that maps a field to the block that holds it.
class CMXF_Parvex_ClipInfo
{
public:
    enum Thumb { kThumbIn = 0, kThumbRef = 1, kThumbOut = 2, kThumbCount = 3 };

    CMXF_Parvex_ClipInfo();
    virtual ~CMXF_Parvex_ClipInfo();
    CMXF_Parvex_ClipInfo(const CMXF_Parvex_ClipInfo&) = delete;
    CMXF_Parvex_ClipInfo& operator=(const CMXF_Parvex_ClipInfo&) = delete;

    // Block index.
    // Block number or -1; the outputs are the block number, its first field and its file position.
    int32_t GetBlockFromField(uint32_t field, int32_t* block = nullptr, uint32_t* blockFirstField = nullptr,
                              uint64_t* filePos = nullptr);
    // 0, or -1 when block n is not in the index.
    int GetBlockInfo(uint32_t n, uint32_t* firstField, uint64_t* filePos) const;
    // 1, or 0 when n is beyond the index.
    int Index_Add_Block(uint32_t n, uint32_t firstField, uint32_t endField, uint64_t filePos);
    // Adds the block at the block counter: its number, or -1 when the index is full.
    int32_t AddBlock(uint32_t firstField, uint32_t endField, uint64_t filePos);
    uint32_t GetBlockCount() const;
    void FreeBigBlocks();
    const CMXF_Parvex_BigBlock* GetBigBlock(uint32_t b) const
    {
        return b < _pBigBlocks.size() ? _pBigBlocks[b].get() : nullptr;
    }
    // The first indexed field, 0 when no index was read.
    uint32_t GetFirstIndexedField() const { return _pBigBlocks[0] ? _pBigBlocks[0]->_nFieldIn : 0; }
    // 0 when the index was loaded: by the index loader from the named file, or the first of _szFileNames.
    int Load_Index(const std::string& fileName, int readHeader);
    // Reads the index (readHeader: the header too) of the named clip file into info: 0 when it was loaded.
    // Reading files is the readers' work: the clip file reader sets its loader on each info it fills.
    using IndexLoader = int (*)(CMXF_Parvex_ClipInfo& info, const std::string& fileName, int readHeader);
    void SetIndexLoader(IndexLoader loader) { _pIndexLoader = loader; }
    // 0 when every thumbnail the footer names was read.
    int Load_Thumbnails(const std::string& fileName);
    void FreeThumbnailBuffers();

    // Clips.
    virtual CMXF_Parvex_ClipDescriptor* CreateClip();
    virtual void DeleteClip(CMXF_Parvex_ClipDescriptor* clip);
    // A new clip descriptor at the end of the clips (the head when there is none); none on failure.
    CMXF_Parvex_ClipDescriptor* CreateClipInfo();
    CMXF_Parvex_ClipDescriptor* GetOrCreateFirstClip();
    CMXF_Parvex_ClipDescriptor* GetFirstClip() const { return _pHeadClip; }
    CMXF_Parvex_ClipDescriptor* FindClip(const std::string& clipId) const;
    CMXF_Parvex_ClipDescriptor* AddClip(const std::string& clipId, bool copyIntoInfo);
    void RenumberClips();
    void FreeClips();
    void UpdateFromMainClip();
    uint32_t GetClipCount() const { return _nClipCount; }

    // Texts.
    std::string GetVideoCodecString() const;
    std::string GetAudioCodecString() const;
    // Standard and system joined by one blank.
    std::string GetStandardString(std::string* standard = nullptr, std::string* system = nullptr) const;
    std::string FieldsToTcString(uint32_t fields, int fieldMark = 0, int withDays = 0) const;
    std::string FieldsToDurationString(uint32_t fields, int fieldMark = 0) const;

    // The value a new big block takes.
    virtual uint32_t GetBigBlockUserValue() { return 0; }

    // File level.
    std::string _szMaterialId;
    std::string _szClipId;
    std::string _szClipName;
    uint32_t _nIn = 0;   // Lenmark_in: first field of the recording
    uint32_t _nOut = 0;  // Lenmark_out: the field after its last
    uint32_t _nVideoCodec = 0;
    uint32_t _nAudioCodec = 0;
    uint32_t _nAudioType = 0;
    uint32_t _nBitrate = 0;      // Lenmark_VideoRate, Mbit/s
    uint32_t _nVideoFormat = 0;  // 32-bit video format word: video standard, system, aspect, progressive, codec byte
    uint32_t _nSystem = 3;       // Lenmark_system: the file's TC system (the writer's standard, same numbering)
    uint32_t _nTCSystem = 0;     // of the head clip
    uint32_t _n2KTableVersion = 0;
    uint32_t _nAudioGroups = 0;  // Lenmark_nb_audios: groups of four mono channels
    uint32_t _nVideos = 1;
    uint32_t _nDualLink = 0;
    uint32_t _nSimultaneous = 0;
    uint8_t _nStandardAndSystem = 0;  // high nibble video standard, low nibble frame system
    uint32_t _nBlocks = 0;
    uint32_t _nBlockSize = 0x200000;
    uint32_t _nBlockType = 1;  // 1 2 MB with 2k table, 2 BAVD 2 MB, 3 BAVD 8 MB
    int64_t _qwCreationTimeGMT = 0;
    int32_t _nTimeZone = -5;  // hours
    int64_t _qwLocalCreationTime = 0;

    // Session.
    int64_t _qwSessionDate = 0;
    std::string _szSessionDate;
    std::string _szSessionName = "session name";
    std::string _szSessionSport = "session sport";
    std::string _szSessionCompetition = "session competition";
    std::string _szSessionCompetitionLevel = "session competition level";
    std::string _szSessionLocation = "session location";
    std::string _szSessionTeamA = "session team A";
    std::string _szSessionTeamB = "session team B";
    std::string _szSessionKeywords[parvex::kMaxSessionKeywords];
    uint32_t _nSessionKeywords = 0;
    int64_t _qwBackupCompletionTime = 0;

    // Copies of the head clip.
    int32_t _nNumClip = -1;
    uint8_t _cCamera = 0;
    uint8_t _nNumMachine = 0;
    uint8_t _cCameraPref = 0;
    uint32_t _nShortIn = 0;
    uint32_t _nShortRef = 0;
    uint32_t _nShortOut = 0;
    uint32_t _nOffsetTC = 0;
    uint16_t _nStatus = 0;
    uint16_t _nQuality = 0;
    uint16_t _nFileStatus = 0;
    uint32_t _nSession = 0;
    uint32_t _nUnicodeFlag = 0;
    uint32_t _nFillAndKeyType = 0;
    std::string _szServerName;
    std::string _szClipIdSrc;
    std::string _szClipNameSrc;
    std::string _szFillAndKey;
    uint8_t _aUserBits[8] = {};
    std::string _szKeywords[parvex::kMaxKeywords];

    std::string _szFileNames[3];  // tried in order when no name is given
    uint64_t _qwFooterOffset = 0;

    // Index.
    uint32_t _nFileFieldIn = 0;
    uint32_t _nFileFieldOutExcluded = 0;
    uint32_t _nBlockCounter = 0;

    CMXF_Parvex_Thumbnail _aThumbnails[kThumbCount];

private:
    const std::string* PickFileName(const std::string& fileName) const;
    int32_t FindBigBlock(uint32_t field);
    int32_t FindBlockInBigBlock(uint32_t field, uint32_t b);

    std::array<std::unique_ptr<CMXF_Parvex_BigBlock>, parvex::kMaxBigBlocks> _pBigBlocks;
    CMXF_Parvex_ClipDescriptor* _pHeadClip = nullptr;
    CMXF_Parvex_ClipDescriptor* _pFirstClip = nullptr;
    CMXF_Parvex_ClipDescriptor* _pLastClip = nullptr;
    uint32_t _nClipCount = 0;
    IndexLoader _pIndexLoader = nullptr;
};
