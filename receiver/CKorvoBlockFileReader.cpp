#include "receiver/CKorvoBlockFileReader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "common/CLogManager.h"
#include "parvex/ParvexLayout.h"
#include "platform/File.h"
#include "serverblock/ServerBlock.h"

namespace
{
constexpr uint64_t kHeaderArea = parvex::kHeaderAreaSize;  // blocks follow the file's header area
}  // namespace

CKorvoBlockFileReader::CKorvoBlockFileReader() : CKorvoBlockReader(kBlockSize2MB) {}

CKorvoBlockFileReader::~CKorvoBlockFileReader()
{
    Close();
}

// One read of the next block on its own thread, with what it reads from and into, so that it can outlive the
// reader's Close.
struct CKorvoBlockFileReader::ReadAhead {
    std::shared_ptr<FileReader> pFile;
    platform::PageBuffer pBuffer;
    uint64_t nOffset = 0;
    uint32_t nSize = 0;
    bool bWhole = false;  // the whole block was read; set before bDone
    std::atomic<bool> bDone{false};
    std::mutex lock;
    std::condition_variable ended;

    void Run()
    {
        uint32_t delivered = 0;
        bWhole =
            pFile->Seek(nOffset) == 0 && pFile->ReadData(pBuffer.get(), nSize, &delivered) == 0 && delivered == nSize;
        std::lock_guard hold(lock);
        bDone = true;
        ended.notify_all();
    }
};

namespace
{
// The read-aheads a Close left running: each is joined once it has ended, at the latest when the module unloads.
class LeftReadAheads
{
public:
    ~LeftReadAheads()
    {
        for (auto& [thread, done] : _left)
            thread.join();
    }
    void Add(std::thread thread, std::shared_ptr<const std::atomic<bool>> done)
    {
        std::lock_guard hold(_lock);
        std::erase_if(_left, [](auto& entry) {
            if (!*entry.second)
                return false;
            entry.first.join();
            return true;
        });
        _left.emplace_back(std::move(thread), std::move(done));
    }

private:
    std::mutex _lock;
    std::vector<std::pair<std::thread, std::shared_ptr<const std::atomic<bool>>>> _left;
};

LeftReadAheads& TheLeftReadAheads()
{
    static LeftReadAheads left;
    return left;
}
}  // namespace

void CKorvoBlockFileReader::StartReadAhead(uint64_t offset)
{
    if (!_pSpareBuffer || offset >= _nDataEnd || _nDataEnd - offset < _nBlockSize)
        return;
    auto job = std::make_shared<ReadAhead>();
    job->pFile = _file;
    job->pBuffer = std::move(_pSpareBuffer);
    job->nOffset = offset;
    job->nSize = _nBlockSize;
    try {
        _readAheadThread = std::thread([job] { job->Run(); });
        _pReadAhead = std::move(job);
    } catch (const std::system_error&) {
        // No thread to be had: the block is read when it is asked for.
        _pSpareBuffer = std::move(job->pBuffer);
    }
}

void CKorvoBlockFileReader::EndReadAhead()
{
    if (_readAheadThread.joinable())
        _readAheadThread.join();
    if (_pReadAhead && _pReadAhead->pBuffer)
        _pSpareBuffer = std::move(_pReadAhead->pBuffer);
    _pReadAhead.reset();
}

bool CKorvoBlockFileReader::EndReadAheadWithin(uint32_t ms)
{
    if (_pReadAhead) {
        std::unique_lock hold(_pReadAhead->lock);
        if (!_pReadAhead->ended.wait_for(hold, std::chrono::milliseconds(ms),
                                         [&] { return _pReadAhead->bDone.load(); })) {
            hold.unlock();
            theLogManager.Log(
                "CKorvoBlockFileReader::Close - the read-ahead at 0x%llX still runs after %u ms: left "
                "to end on its own",
                static_cast<unsigned long long>(_pReadAhead->nOffset), ms);
            // The job keeps its file and buffer; only its end flag is watched.
            std::shared_ptr<const std::atomic<bool>> done(_pReadAhead, &_pReadAhead->bDone);
            TheLeftReadAheads().Add(std::move(_readAheadThread), std::move(done));
            _pReadAhead.reset();
            return false;
        }
    }
    EndReadAhead();
    return true;
}

uint64_t CKorvoBlockFileReader::WholeBlocksEnd(uint64_t fileSize) const
{
    if (fileSize <= kHeaderArea)
        return kHeaderArea;
    return kHeaderArea + (fileSize - kHeaderArea) / _nBlockSize * _nBlockSize;
}

uint64_t CKorvoBlockFileReader::FinishedEnd()
{
    EndReadAhead();
    // A writer that finished names its essence in the header; the footer after it is no block.
    _file->DiscardBuffer();
    uint64_t essence = 0;
    uint64_t footer = 0;
    if (_file->GetFileInfo(&essence, &footer) == 0 && essence > 0)
        return kHeaderArea + essence / _nBlockSize * _nBlockSize;
    if (footer > kHeaderArea)
        return WholeBlocksEnd(footer);
    return WholeBlocksEnd(_file->GetFileSize());
}

int CKorvoBlockFileReader::Open(const std::string& fileName)
{
    Close();
    _bCancelled = false;
    _cancelEvent.Reset();
    _nRefused = 0;
    if (_file->Open(fileName) != 0)
        return 1;
    _szFileName = fileName;
    int indexed = 0;
    if (const int32_t rc = _file->GetHeaderData(&_clipInfo, 1, &indexed); rc != 0) {
        theLogManager.Log("CKorvoBlockFileReader::OpenBlockSrc - header not readable [%d] !", rc);
        Close();
        return 2;
    }
    _bIndexed = indexed != 0;
    // Only the block sizes the system writes: the size also sizes the buffer.
    const uint32_t size = _clipInfo._nBlockSize;
    const uint32_t type = _clipInfo._nBlockType;
    const bool known = (type == 1 && size == kBlockSize2MB) ||
                       ((type == 2 || type == 3) && (size == kBlockSize2MB || size == kBlockSize8MB));
    if (!known) {
        theLogManager.Log("CKorvoBlockFileReader::OpenBlockSrc - block size 0x%X of type %u not supported !", size,
                          type);
        Close();
        return 2;
    }
    _nBlockSize = size;
    _pBlockBuffer = platform::MakePageBuffer(_nBlockSize);
    _pSpareBuffer = platform::MakePageBuffer(_nBlockSize);
    if (!_pBlockBuffer) {
        Close();
        return 2;
    }
    if (type == 1) {
        theLogManager.Log("CKorvoBlockFileReader::OpenBlockSrc - detected 2MB 2kTable Blocks !");
        _pBlockData = std::make_unique<CKorvo2kBlockData>();
    } else {
        theLogManager.Log("CKorvoBlockFileReader::OpenBlockSrc - detected %liMB BAVD Blocks !",
                          static_cast<long>(_nBlockSize >> 20));
        _pBlockData = std::make_unique<CKorvo8MBlockData>();
    }
    if (_bIndexed) {
        uint32_t first = 0;
        uint64_t offset = 0;
        _nDataEnd = FinishedEnd();
        if (_clipInfo.GetBlockInfo(0, &first, &offset) != 0 || offset < kHeaderArea || offset >= _nDataEnd) {
            theLogManager.Log("CKorvoBlockFileReader::OpenBlockSrc - no first block in the index !");
            Close();
            return 2;
        }
        _nReadPos = offset;
        return 0;
    }
    _nDataEnd = WholeBlocksEnd(_file->GetFileSize());
    // Blocks near the end of a file still being written may not be complete yet.
    if (platform::File::IsLockedForWriting(fileName)) {
        const uint64_t heldBack = uint64_t{kHeldBackAtOpen} * _nBlockSize;
        if (_nDataEnd - kHeaderArea > heldBack)
            _nDataEnd -= heldBack;
        else if (_nDataEnd > kHeaderArea + _nBlockSize)
            _nDataEnd = kHeaderArea + _nBlockSize;
    } else {
        _nDataEnd = FinishedEnd();
    }
    _nReadPos = kHeaderArea;
    return 0;
}

int CKorvoBlockFileReader::Close()
{
    if (!EndReadAheadWithin(_nCloseWaitMs))
        _file = std::make_shared<FileReader>();  // the read left running closes its file when it ends
    else if (_file->IsOpen())
        _file->Close();
    _pBlockData.reset();
    _pBlockBuffer.reset();
    _pSpareBuffer.reset();
    _nDataEnd = 0;
    _nReadPos = 0;
    _bIndexed = false;
    return 0;
}

int CKorvoBlockFileReader::ReadBlockAt(uint64_t offset)
{
    if (offset < kHeaderArea || offset >= _nDataEnd || _nDataEnd - offset < _nBlockSize)
        return kReadEnd;
    bool readAhead = false;
    if (_pReadAhead && _pReadAhead->nOffset == offset) {
        _readAheadThread.join();
        readAhead = _pReadAhead->bWhole;
        if (readAhead)
            std::swap(_pBlockBuffer, _pReadAhead->pBuffer);
    }
    EndReadAhead();
    if (!readAhead) {
        uint32_t delivered = 0;
        if (_file->Seek(offset) != 0 || _file->ReadData(_pBlockBuffer.get(), _nBlockSize, &delivered) != 0)
            return kReadError;
        if (delivered < _nBlockSize)
            return kReadShort;
    }
    _nReadPos = offset + _nBlockSize;
    if (_pBlockData->SetBlockData(_pBlockBuffer.get(), _nBlockSize) != kBlockDataOk)
        return kReadDamaged;
    return kReadOk;
}

int CKorvoBlockFileReader::LoadNextBlock(uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = 0;
    if (!_file->IsOpen() || !_pBlockData)
        return kReadNotOpen;
    if (_nReadPos >= _nDataEnd) {
        if (_bIndexed)
            return kReadEnd;
        bool grown = false;
        for (uint32_t attempt = 0; attempt < kGrowAttempts && !grown && !IsCancelled(); ++attempt) {
            const bool held = platform::File::IsLockedForWriting(_szFileName);
            uint64_t candidate = 0;
            if (held) {
                EndReadAhead();
                candidate = WholeBlocksEnd(_file->GetFileSize());
                const uint64_t heldBack = uint64_t{kHeldBackWhileGrowing} * _nBlockSize;
                candidate = candidate - kHeaderArea > heldBack ? candidate - heldBack : kHeaderArea;
            } else {
                candidate = FinishedEnd();
            }
            if (candidate > _nDataEnd) {
                _nDataEnd = candidate;
                grown = true;
            } else if (!held || !Sleep(_nGrowWaitMs)) {
                break;
            }
        }
        if (!grown)
            return kReadEnd;
    }
    const int rc = ReadBlockAt(_nReadPos);
    // Only a reader going front to back reads ahead: a search's steps would drop what it read.
    if (rc == kReadOk)
        StartReadAhead(_nReadPos);
    if (rc == kReadOk && elementsPerField)
        *elementsPerField = _pBlockData->ElementsPerField();
    return rc;
}

int32_t CKorvoBlockFileReader::BackToFirstBlock(uint32_t* elementsPerField)
{
    uint32_t first = 0;
    uint64_t offset = kHeaderArea;
    if (_bIndexed)
        _clipInfo.GetBlockInfo(0, &first, &offset);
    if (ReadBlockAt(offset) == kReadOk && elementsPerField)
        *elementsPerField = _pBlockData->ElementsPerField();
    return 0;
}

int32_t CKorvoBlockFileReader::StartFieldOffset(int32_t fields, uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = 0;
    if (!_pBlockData)
        return 0;
    if (!_pBlockData->IsValid() && ReadNextBlock(elementsPerField) != kReadOk)
        return 0;
    const int64_t field = int64_t{_pBlockData->GetFirstField()} + fields;
    if (field < 0 || field > UINT32_MAX)
        return 0;
    return SetFirstField(static_cast<uint32_t>(field), elementsPerField);
}

int32_t CKorvoBlockFileReader::SetFirstField(uint32_t serverField, uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = 0;
    if (!_pBlockData)
        return 0;
    if (_bIndexed) {
        int32_t n = -1;
        uint32_t first = 0;
        uint64_t offset = 0;
        _clipInfo.GetBlockFromField(serverField, &n, &first, &offset);
        // Offset 0 is the index's "no such block": the file's header is no block.
        if (n < 0 || offset < kHeaderArea) {
            theLogManager.Log("CKorvoBlockFileReader::SetFirstField - Block %li NOT FOUND IN FILE !!!",
                              static_cast<long>(n));
            return BackToFirstBlock(elementsPerField);
        }
        if (ReadBlockAt(offset) != kReadOk) {
            theLogManager.Log("CKorvoBlockFileReader::SetFirstField - Block %li READ FAILED !!!", static_cast<long>(n));
            return BackToFirstBlock(elementsPerField);
        }
        const uint32_t perField = _pBlockData->ElementsPerField();
        if (elementsPerField)
            *elementsPerField = perField;
        return ElementOf(serverField, perField);
    }
    if (!_pBlockData->IsValid() && ReadNextBlock(elementsPerField) != kReadOk)
        return 0;
    // Blocks are contiguous: estimate the block from the current one's fields, then step to it.
    const uint64_t blocksEnd = (_nDataEnd - kHeaderArea) / _nBlockSize;
    int64_t k = static_cast<int64_t>((_nReadPos - kHeaderArea) / _nBlockSize) - 1;
    for (uint64_t steps = 0; steps <= blocksEnd + 1; ++steps) {
        const uint32_t perField = _pBlockData->ElementsPerField();
        if (elementsPerField)
            *elementsPerField = perField;
        const uint32_t first = _pBlockData->GetFirstField();
        const uint32_t end = _pBlockData->GetEndField();
        if (serverField >= first && serverField < end)
            return ElementOf(serverField, perField);
        const int64_t perBlock = std::max<int64_t>(end - first, 1);
        const int64_t estimate = steps == 0 ? (int64_t{serverField} - first) / perBlock : 0;
        const int64_t previous = k;
        k += estimate != 0 ? estimate : serverField >= end ? 1 : -1;
        // An estimate from a short last block may overshoot the file: it only moves within it.
        if (estimate != 0)
            k = std::clamp<int64_t>(k, 0, static_cast<int64_t>(blocksEnd) - 1);
        if (k == previous)
            k += serverField >= end ? 1 : -1;
        if (k < 0)
            return ElementOf(serverField, perField);
        if (static_cast<uint64_t>(k) >= blocksEnd) {
            theLogManager.Log("--- NOT Found Src Block !!");
            return 0;
        }
        if (ReadBlockAt(kHeaderArea + static_cast<uint64_t>(k) * _nBlockSize) != kReadOk) {
            theLogManager.Log("CKorvoBlockFileReader::SetFirstField - Block %li READ FAILED !!!", static_cast<long>(k));
            return BackToFirstBlock(elementsPerField);
        }
        theLogManager.Log("CKorvoBlockFileReader::SetFirstField - got block [%li, %li[",
                          static_cast<long>(_pBlockData->GetFirstField()),
                          static_cast<long>(_pBlockData->GetEndField()));
    }
    theLogManager.Log("--- NOT Found Src Block !!");
    return 0;
}
