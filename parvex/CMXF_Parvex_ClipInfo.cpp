#include "parvex/CMXF_Parvex_ClipInfo.h"

#include <cinttypes>
#include <cstring>
#include <ctime>
#include <new>

#include "common/CFileReader.h"
#include "common/CLogManager.h"
#include "common/CTimeCode.h"
#include "common/FormatText.h"

namespace
{

constexpr uint32_t kMaxBlockNumber = parvex::kMaxBigBlocks * parvex::kBlocksPerBigBlock - 1;  // 0x7FFFF
constexpr uint32_t kLastEntry = parvex::kBlocksPerBigBlock - 1;
constexpr uint32_t kThumbnailRead = 0x10000;

// All index messages go to the default log.
#define INDEX_LOG(...) theLogManager.LogTo("", __VA_ARGS__)

}  // namespace

CMXF_Parvex_ClipInfo::CMXF_Parvex_ClipInfo()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // The local clock's reading counted as seconds since 1970.
    _qwSessionDate = static_cast<int64_t>(timegm(&local));
    _qwBackupCompletionTime = _qwSessionDate;
    char text[64];
    std::strftime(text, sizeof text, "%d %B %Y", &local);
    _szSessionDate = text;
    for (uint32_t i = 0; i < parvex::kMaxSessionKeywords; ++i)
        _szSessionKeywords[i] = FormatText("session keyword %u", i);
}

CMXF_Parvex_ClipInfo::~CMXF_Parvex_ClipInfo()
{
    FreeBigBlocks();
    FreeThumbnailBuffers();
    FreeClips();
}

// ---- Block index ----

int CMXF_Parvex_ClipInfo::Index_Add_Block(uint32_t n, uint32_t firstField, uint32_t endField, uint64_t filePos)
{
    if (n > kMaxBlockNumber) {
        INDEX_LOG("Index_Add_Block: bigblock_nb=%d reached NB_BIGBLOCKS_IN_CLIPINFO MAX VALUE -> FAILED", n >> 8);
        return 0;
    }
    auto& bigBlock = _pBigBlocks[n >> 8];
    const uint32_t entry = n & kLastEntry;
    if (!bigBlock) {
        bigBlock.reset(new (std::nothrow) CMXF_Parvex_BigBlock);
        if (!bigBlock)
            return 0;
        bigBlock->_nFieldIn = firstField;
        bigBlock->_nFieldOutExcluded = endField;
        bigBlock->_nLastBlockInUse = static_cast<int32_t>(entry);
        bigBlock->_nUserValue = GetBigBlockUserValue();
    } else {
        if (static_cast<int32_t>(entry) > bigBlock->_nLastBlockInUse)
            bigBlock->_nLastBlockInUse = static_cast<int32_t>(entry);
        if (bigBlock->_nFieldOutExcluded < endField)
            bigBlock->_nFieldOutExcluded = endField;
    }
    bigBlock->_aFieldIn[entry] = firstField;
    bigBlock->_aFilePos[entry] = filePos;
    return 1;
}

int32_t CMXF_Parvex_ClipInfo::AddBlock(uint32_t firstField, uint32_t endField, uint64_t filePos)
{
    const uint32_t n = _nBlockCounter;
    if (!Index_Add_Block(n, firstField, endField, filePos))
        return -1;
    ++_nBlockCounter;
    return static_cast<int32_t>(n);
}

uint32_t CMXF_Parvex_ClipInfo::GetBlockCount() const
{
    uint32_t count = 0;
    for (const auto& bigBlock : _pBigBlocks)
        if (bigBlock)
            count += bigBlock->BlockCount();
    return count;
}

void CMXF_Parvex_ClipInfo::FreeBigBlocks()
{
    for (auto& bigBlock : _pBigBlocks)
        bigBlock.reset();
    _nBlockCounter = 0;
}

int CMXF_Parvex_ClipInfo::GetBlockInfo(uint32_t n, uint32_t* firstField, uint64_t* filePos) const
{
    if ((n >> 8) >= parvex::kMaxBigBlocks)
        return -1;
    const auto& bigBlock = _pBigBlocks[n >> 8];
    if (!bigBlock || !bigBlock->InUse(n & kLastEntry))
        return -1;
    if (firstField)
        *firstField = bigBlock->_aFieldIn[n & kLastEntry];
    if (filePos)
        *filePos = bigBlock->_aFilePos[n & kLastEntry];
    return 0;
}

int32_t CMXF_Parvex_ClipInfo::GetBlockFromField(uint32_t field, int32_t* block, uint32_t* blockFirstField,
                                                uint64_t* filePos)
{
    if (block)
        *block = -1;
    if (blockFirstField)
        *blockFirstField = 0;
    if (filePos)
        *filePos = 0;
    if (!_pBigBlocks[0]) {
        INDEX_LOG("GetBlockFromField: BigBlock 0 does not exist ?! ---> trying to load footer");
        Load_Index("", 0);
    }
    if (field < _nFileFieldIn) {
        INDEX_LOG("GetBlockFromField: field %u < file_field_in %u", field, _nFileFieldIn);
        return -1;
    }
    if (field >= _nFileFieldOutExcluded) {
        INDEX_LOG("GetBlockFromField: field %u >= file_field_out_excluded %u", field, _nFileFieldOutExcluded);
        return -1;
    }
    if (!_pBigBlocks[0]) {
        INDEX_LOG("GetBlockFromField: BigBlock 0 does not exist ?!");
        return -1;
    }
    if (field < _pBigBlocks[0]->_nFieldIn) {
        INDEX_LOG("GetBlockFromField: field %u < BigBlock[0]->field_in %u", field, _pBigBlocks[0]->_nFieldIn);
        return -1;
    }
    const int32_t b = FindBigBlock(field);
    if (b < 0)
        return -1;
    const int32_t k = FindBlockInBigBlock(field, static_cast<uint32_t>(b));
    if (k < 0)
        return -1;
    const uint32_t n = static_cast<uint32_t>(b) * parvex::kBlocksPerBigBlock + static_cast<uint32_t>(k);
    if (block)
        *block = static_cast<int32_t>(n);
    uint32_t first = 0;
    uint64_t pos = 0;
    if (GetBlockInfo(n, &first, &pos) != 0)
        first = 0;
    if (blockFirstField)
        *blockFirstField = first;
    if (filePos)
        *filePos = pos;
    return static_cast<int32_t>(n);
}

// The big block that should hold the field: -1 when none does.
int32_t CMXF_Parvex_ClipInfo::FindBigBlock(uint32_t field)
{
    const CMXF_Parvex_BigBlock& bb0 = *_pBigBlocks[0];
    int32_t b = 0;
    if (field < bb0._nFieldOutExcluded) {
        b = 0;
    } else if (!_pBigBlocks[1]) {
        INDEX_LOG("GetBlockFromField: field %u > BigBlock[0]->field_out_excluded %u and BigBlock[1] does not exist ?!",
                  field, bb0._nFieldOutExcluded);
        return -1;
    } else if (field < _pBigBlocks[1]->_nFieldOutExcluded) {
        b = 1;
    } else {
        // The first two big blocks give the mean span of one; a damaged index may give none.
        const int64_t out1 = _pBigBlocks[1]->_nFieldOutExcluded;
        const double span = static_cast<double>(out1 - int64_t{bb0._nFieldIn}) * 0.5;
        int64_t e = 2;
        if (span > 0)
            e = static_cast<int64_t>(static_cast<double>(int64_t{field} - out1) / span + 2.0);
        const int32_t last = static_cast<int32_t>(parvex::kMaxBigBlocks) - 1;
        b = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(e, 2), last));
        const int32_t estimate = b;
        if (!_pBigBlocks[b]) {
            for (int32_t i = b - 1; i >= 0; --i)
                if (_pBigBlocks[i] && _pBigBlocks[i]->_nFieldIn <= field) {
                    b = i;
                    break;
                }
        } else if (field < _pBigBlocks[b]->_nFieldIn) {
            int32_t i = b - 1;
            for (; i >= 0; --i) {
                if (!_pBigBlocks[i]) {
                    INDEX_LOG("field %u not found in BigBlocks from %d to 0 !!!", field, estimate);
                    return -1;
                }
                if (_pBigBlocks[i]->_nFieldIn <= field)
                    break;
            }
            if (i < 0) {
                INDEX_LOG("field %u not found in BigBlocks from %d to 0 !!!", field, estimate);
                return -1;
            }
            b = i;
        } else if (field >= _pBigBlocks[b]->_nFieldOutExcluded) {
            int32_t i = b + 1;
            for (;; ++i) {
                if (i > last || !_pBigBlocks[i]) {
                    INDEX_LOG("field %u not found in BigBlocks from %d to the end !!!", field, estimate);
                    return -1;
                }
                if (field < _pBigBlocks[i]->_nFieldOutExcluded)
                    break;
            }
            b = i;
        }
    }
    const auto& bigBlock = _pBigBlocks[b];
    if (!bigBlock) {
        INDEX_LOG("GetBlockFromField: BigBlock %d does not exist ?!", b);
        return -1;
    }
    const uint32_t first = static_cast<uint32_t>(b) * parvex::kBlocksPerBigBlock;
    INDEX_LOG("searching field %u in BigBlock %d (BD= 0x%X --> %X) (BigBlock in=%u  out=%u)", field, b, first,
              first + kLastEntry, bigBlock->_nFieldIn, bigBlock->_nFieldOutExcluded);
    if (field < bigBlock->_nFieldIn) {
        INDEX_LOG("field %u < BigBlock[%d]->field_in %u  !!!", field, b, bigBlock->_nFieldIn);
        return -1;
    }
    if (field >= bigBlock->_nFieldOutExcluded) {
        INDEX_LOG("field %u >= BigBlock[%d]->field_out_excluded %u  !!!", field, b, bigBlock->_nFieldOutExcluded);
        return -1;
    }
    if (bigBlock->_nLastBlockInUse < 0) {
        INDEX_LOG("field %u >= BigBlock[%d]->bigblock_last_block_in_use = %d  !!!", field, b,
                  bigBlock->_nLastBlockInUse);
        return -1;
    }
    return b;
}

// The entry of big block b that holds the field (its in <= field < out), -1 when none does.
int32_t CMXF_Parvex_ClipInfo::FindBlockInBigBlock(uint32_t field, uint32_t b)
{
    const CMXF_Parvex_BigBlock& bb = *_pBigBlocks[b];
    const auto last = static_cast<uint32_t>(bb._nLastBlockInUse);
    const uint32_t firstInFile = b * parvex::kBlocksPerBigBlock;
    // The mean span of a block; in < field < out, so it is never 0.
    const double span = static_cast<double>(bb._nFieldOutExcluded - bb._nFieldIn) / (last + 1);
    auto k = static_cast<uint32_t>(std::min(static_cast<double>(field - bb._nFieldIn) / span, double{kLastEntry}));
    INDEX_LOG("field %u should be in block %u (in=%u )", field, k, bb._aFieldIn[k]);
    // The end of entry j: the next entry's first field, the big block's end for the last one in use.
    auto endOf = [&](uint32_t j) { return j >= last ? bb._nFieldOutExcluded : bb._aFieldIn[j + 1]; };
    if (field < bb._aFieldIn[k]) {
        for (int32_t j = static_cast<int32_t>(k) - 1; j >= 0; --j)
            if (bb._aFieldIn[j] <= field) {
                INDEX_LOG("field %u is in block %d (in=%u) of BigBlock %u ---> block %u in file", field, j,
                          bb._aFieldIn[j], b, firstInFile + j);
                return j;
            }
        INDEX_LOG("search field %u in BigBlock %u (in=%u  out=%u) ---> retval=-1 !!!???", field, b, bb._nFieldIn,
                  bb._nFieldOutExcluded);
        for (uint32_t j = 0; j <= last; ++j)
            INDEX_LOG("BigBlock %u block %u : field_in = %u  filepos = 0x%" PRIX64, b, j, bb._aFieldIn[j],
                      bb._aFilePos[j]);
        return -1;
    }
    if (field >= endOf(k)) {
        for (uint32_t j = k + 1; j <= last; ++j)
            if (field < endOf(j)) {
                INDEX_LOG("field %u is in block %u of BigBlock %u ---> block %u in file", field, j, b, firstInFile + j);
                return static_cast<int32_t>(j);
            }
        INDEX_LOG("field %u not found in BigBlock[%u] !!!", field, b);
        return -1;
    }
    INDEX_LOG("field %u is in block %u of BigBlock %u ---> block %u in file", field, k, b, firstInFile + k);
    return static_cast<int32_t>(k);
}

const std::string* CMXF_Parvex_ClipInfo::PickFileName(const std::string& fileName) const
{
    if (!fileName.empty())
        return &fileName;
    for (const std::string& name : _szFileNames)
        if (!name.empty())
            return &name;
    return nullptr;
}

int CMXF_Parvex_ClipInfo::Load_Index(const std::string& fileName, int readHeader)
{
    const std::string* name = PickFileName(fileName);
    if (!name) {
        INDEX_LOG("Load_Index: unable to load index: empty filename !!!!!!!!!!!!!!!!");
        return -1;
    }
    if (!_pIndexLoader) {
        INDEX_LOG("Load_Index: no reader for %s ---> unable to LoadIndex", name->c_str());
        return -1;
    }
    return _pIndexLoader(*this, *name, readHeader);
}

int CMXF_Parvex_ClipInfo::Load_Thumbnails(const std::string& fileName)
{
    if (!_pBigBlocks[0]) {
        INDEX_LOG("Load_Thumbnails: BigBlock 0 does not exist ?! ---> trying to load footer");
        Load_Index(fileName, 0);
        INDEX_LOG("Load_Thumbnails: after Load_Index: thumbnail_short_in_field_filepos=0x%" PRIX64,
                  _aThumbnails[kThumbIn]._qwFilePos);
    }
    const std::string* name = PickFileName(fileName);
    if (!name) {
        INDEX_LOG("Load_Thumbnails: no file to Open !!! ---> abort");
        return -1;
    }
    // Thumbnails are small: a plain reader with small reads, not the clip reader's 8 MB buffer.
    CFileReader reader("");
    reader.SetMinMaxRd(kThumbnailRead, kThumbnailRead);
    if (reader.Open(*name) != 0) {
        INDEX_LOG("Load_Thumbnails: FAILED to Open File !!! ---> abort");
        return -1;
    }
    int result = 0;
    for (CMXF_Parvex_Thumbnail& thumb : _aThumbnails) {
        if (thumb._qwFilePos == 0)
            continue;
        const uint32_t size = uint32_t{thumb._nCx} * thumb._nCy * 3;
        thumb._pPixels.assign(size, 0);
        uint32_t delivered = 0;
        // A thumbnail cut short by the end of the file is dropped, not shown half read.
        if (reader.Seek(thumb._qwFilePos) != 0 || reader.ReadData(thumb._pPixels.data(), size, &delivered) != 0 ||
            delivered != size) {
            INDEX_LOG("Load_Thumbnails: thumbnail at 0x%" PRIX64 " cut short (0x%X of 0x%X bytes)", thumb._qwFilePos,
                      delivered, size);
            thumb._pPixels.clear();
            result = -1;
        }
    }
    reader.Close();
    return result;
}

void CMXF_Parvex_ClipInfo::FreeThumbnailBuffers()
{
    for (CMXF_Parvex_Thumbnail& thumb : _aThumbnails)
        std::vector<uint8_t>().swap(thumb._pPixels);
}

// ---- Clips ----

CMXF_Parvex_ClipDescriptor* CMXF_Parvex_ClipInfo::CreateClip()
{
    return new (std::nothrow) CMXF_Parvex_ClipDescriptor;
}

void CMXF_Parvex_ClipInfo::DeleteClip(CMXF_Parvex_ClipDescriptor* clip)
{
    delete clip;
}

CMXF_Parvex_ClipDescriptor* CMXF_Parvex_ClipInfo::CreateClipInfo()
{
    CMXF_Parvex_ClipDescriptor* clip = CreateClip();
    if (!clip)
        return nullptr;
    ++_nClipCount;
    if (!_pHeadClip) {
        clip->_pNext = _pFirstClip;
        _pHeadClip = clip;
    } else if (!_pFirstClip) {
        _pFirstClip = _pLastClip = clip;
        _pHeadClip->_pNext = clip;
    } else {
        _pLastClip->_pNext = clip;
        _pLastClip = clip;
    }
    RenumberClips();
    return clip;
}

CMXF_Parvex_ClipDescriptor* CMXF_Parvex_ClipInfo::GetOrCreateFirstClip()
{
    if (_pHeadClip)
        return _pHeadClip;
    return CreateClipInfo();
}

CMXF_Parvex_ClipDescriptor* CMXF_Parvex_ClipInfo::FindClip(const std::string& clipId) const
{
    if (_pHeadClip && _pHeadClip->_szClipId == clipId)
        return _pHeadClip;
    for (CMXF_Parvex_ClipDescriptor* clip = _pFirstClip; clip; clip = clip->_pNext)
        if (clip->_szClipId == clipId)
            return clip;
    return nullptr;
}

CMXF_Parvex_ClipDescriptor* CMXF_Parvex_ClipInfo::AddClip(const std::string& clipId, bool copyIntoInfo)
{
    if (CMXF_Parvex_ClipDescriptor* found = FindClip(clipId))
        return found;
    CMXF_Parvex_ClipDescriptor* clip = CreateClip();
    if (!clip)
        return nullptr;
    clip->_szClipId = clipId;
    clip->_nFileIn = _nIn;
    clip->_nFileOut = _nOut;
    ++_nClipCount;
    if (clipId == _szMaterialId && _pHeadClip) {
        // The clip of the material becomes the head; the old head leads the list.
        CMXF_Parvex_ClipDescriptor* oldHead = _pHeadClip;
        oldHead->_pNext = _pFirstClip;
        _pFirstClip = oldHead;
        if (!_pLastClip)
            _pLastClip = oldHead;
        _pHeadClip = clip;
        clip->_pNext = _pFirstClip;
        if (copyIntoInfo)
            UpdateFromMainClip();
    } else if (!_pHeadClip) {
        _pHeadClip = clip;
        clip->_pNext = _pFirstClip;
    } else if (!_pFirstClip) {
        _pFirstClip = _pLastClip = clip;
        _pHeadClip->_pNext = clip;
    } else if (!_pLastClip) {
        clip->_pNext = _pFirstClip;
        _pFirstClip = clip;
        _pHeadClip->_pNext = clip;
    } else {
        _pLastClip->_pNext = clip;
        _pLastClip = clip;
    }
    RenumberClips();
    return clip;
}

void CMXF_Parvex_ClipInfo::RenumberClips()
{
    uint32_t number = 0;
    if (_pHeadClip)
        _pHeadClip->_nListNumber = number++;
    for (CMXF_Parvex_ClipDescriptor* clip = _pFirstClip; clip; clip = clip->_pNext)
        clip->_nListNumber = number++;
}

void CMXF_Parvex_ClipInfo::FreeClips()
{
    CMXF_Parvex_ClipDescriptor* clip = _pFirstClip;
    while (clip) {
        CMXF_Parvex_ClipDescriptor* next = clip->_pNext;
        DeleteClip(clip);
        clip = next;
    }
    if (_pHeadClip)
        DeleteClip(_pHeadClip);
    _pHeadClip = _pFirstClip = _pLastClip = nullptr;
    _nClipCount = 0;
}

void CMXF_Parvex_ClipInfo::UpdateFromMainClip()
{
    if (const CMXF_Parvex_ClipDescriptor* head = _pHeadClip) {
        _szClipId = head->_szClipId;
        _szClipName = head->_szClipName;
        _nNumClip = head->_nNumClip;
        _cCamera = head->_cCamera;
        _nNumMachine = head->_nNumMachine;
        _cCameraPref = head->_cCameraPref;
        _nShortIn = head->_nShortIn;
        _nShortRef = head->_nShortRef;
        _nShortOut = head->_nShortOut;
        _nOffsetTC = head->_nOffsetTC;
        _nTCSystem = head->_nTCSystem;
        _nStatus = head->_nStatus;
        _nQuality = head->_nQuality;
        _nFileStatus = head->_nFileStatus;
        _nSession = head->_nSession;
        _nUnicodeFlag = head->_nUnicodeFlag;
        _nFillAndKeyType = head->_nFillAndKeyType;
        _szClipIdSrc = head->_szClipIdSrc;
        _szClipNameSrc = head->_szClipNameSrc;
        _szFillAndKey = head->_szFillAndKey;
        _szServerName = head->_szServerName;
        std::memcpy(_aUserBits, head->_aUserBits, sizeof _aUserBits);
        for (uint32_t i = 0; i < parvex::kMaxKeywords; ++i)
            _szKeywords[i] = head->_szKeywords[i];
    }
    for (CMXF_Parvex_ClipDescriptor* clip = _pHeadClip; clip; clip = clip->_pNext) {
        clip->_nFileIn = _nIn;
        clip->_nFileOut = _nOut;
    }
}
