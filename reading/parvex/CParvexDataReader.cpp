#include "reading/parvex/CParvexDataReader.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "common/CLogManager.h"
#include "common/CTimeCode.h"
#include "common/TcDate.h"
#include "platform/File.h"
#include "platform/Registry.h"
#include "serverblock/ServerBlock.h"

namespace
{

constexpr uint32_t kMaxScanCandidates = 15;
constexpr uint32_t kPathCapacity = 260;
constexpr uint16_t kNoDateWord = 0xFFFF;
constexpr uint8_t kNoPrimaryTc = 0xFF;

// Rate system to the stamp's frame system: 25 fps, 29.97 drop-frame or 30 fps.
uint32_t StampSystem(uint32_t rateSystem)
{
    switch (rateSystem) {
        case 4:
        case 7:
            return 4;
        case 5:
        case 8:
            return 5;
        default:
            return 3;
    }
}

bool TwoDigits(const std::string& text, size_t at, int* value)
{
    if (text.size() < at + 2 || !std::isdigit(static_cast<unsigned char>(text[at])) ||
        !std::isdigit(static_cast<unsigned char>(text[at + 1])))
        return false;
    *value = (text[at] - '0') * 10 + (text[at + 1] - '0');
    return true;
}

}  // namespace

CParvexDataReader::CParvexDataReader(const std::string& logName, uint32_t bufferSize)
    : CDataReader(bufferSize, logName), _mxfFileReader(logName)
{
    _pTableBuffer = platform::MakePageBuffer(kBavdHeaderAreaSize);
}

CParvexDataReader::~CParvexDataReader()
{
    CParvexDataReader::Close();
}

void CParvexDataReader::Log(const char* format, ...) const
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    theLogManager.LogTo(_szLogName, "%s", text);
}

int32_t CParvexDataReader::Close()
{
    _bOpen = false;
    _pClipInfo.reset();
    _nCurrentBlock = -1;
    _pBlockData.reset();
    if (_mxfFileReader.IsOpen())
        _mxfFileReader.Close();
    return 0;
}

uint32_t CParvexDataReader::TcSystem() const
{
    if (!_pClipInfo)
        return 3;
    const uint32_t system = _pClipInfo->_nTCSystem ? _pClipInfo->_nTCSystem : _pClipInfo->_nSystem;
    return system > 0 && system < CTimeCode::kSystemCount ? system : 3;
}

uint32_t CParvexDataReader::FieldsPerFrame() const
{
    return CTimeCode::GetSystemFieldsPerFrame(TcSystem());
}

double CParvexDataReader::TimeOfField(uint32_t field) const
{
    const uint32_t in = _pClipInfo ? _pClipInfo->_nFileFieldIn : 0;
    const int64_t fields = int64_t{field} - in;
    return static_cast<double>(fields) * CTimeCode::GetFieldDuration(TcSystem());
}

int64_t CParvexDataReader::GetOffsetTC()
{
    return _pClipInfo ? static_cast<int64_t>(static_cast<int32_t>(_pClipInfo->_nOffsetTC)) : -1;
}

int32_t CParvexDataReader::BlockPosition(uint32_t n, uint64_t* position) const
{
    if (_bIndexed) {
        uint32_t first = 0;
        return _pClipInfo->GetBlockInfo(n, &first, position);
    }
    *position = kDataStart + uint64_t{n} * _pClipInfo->_nBlockSize;
    return 0;
}

int32_t CParvexDataReader::SetBlockIndex(int32_t n)
{
    if (!_bOpen || !_pClipInfo || n < 0)
        return -1;
    BeforeFileAccess();
    if (_bIndexed && static_cast<uint32_t>(n) >= _pClipInfo->_nBlocks)
        return kNoSuchBlock;
    uint64_t position = 0;
    if (const int32_t rc = BlockPosition(static_cast<uint32_t>(n), &position); rc != 0) {
        Log("%s (CParvexDataReader::SetBlockIndex) GetBlockInfo failed for block %d", kLogTag, n);
        return rc;
    }
    // The source was handed over at Open: the clip file reader is what reads the blocks.
    if (_mxfFileReader.Seek(position) != 0)
        return -1;
    _nCurrentBlock = n;
    return 0;
}

int32_t CParvexDataReader::Seek(uint64_t position)
{
    if (!_bOpen || !_pClipInfo)
        return -1;
    if (position <= kDataStart)
        return SetBlockIndex(0);
    const uint64_t block = (position - kDataStart) / _pClipInfo->_nBlockSize;
    return SetBlockIndex(block > INT32_MAX ? INT32_MAX : static_cast<int32_t>(block));
}

int32_t CParvexDataReader::ReadBlockTable(uint32_t n, CBlockData* blockData)
{
    uint64_t position = 0;
    if (!_pTableBuffer || BlockPosition(n, &position) != 0)
        return -1;
    BeforeFileAccess();
    const uint32_t size = blockData->GetTableSize();
    uint32_t read = 0;
    if (_mxfFileReader.Seek(position + blockData->GetTableOffset()) != 0 ||
        _mxfFileReader.ReadData(_pTableBuffer.get(), size, &read) != 0 || read != size)
        return -1;
    return blockData->SetTable(_pTableBuffer.get()) == 0 ? 0 : kOpenBadFirstTable;
}

void CParvexDataReader::NoteBlock(uint32_t n, uint32_t first, uint32_t end)
{
    _blockMap[n] = BlockSpan{first, end - first};
    if (_pClipInfo->_nBlocks < n + 1)
        _pClipInfo->_nBlocks = n + 1;
    // Interlaced clips end on a whole frame, as the out field of a finished clip's index is taken.
    const uint32_t out = TcSystem() < 6 ? end - (end & 1) : end;
    if (_pClipInfo->_nFileFieldOutExcluded < out)
        _pClipInfo->_nFileFieldOutExcluded = out;
}

int32_t CParvexDataReader::Open(uint32_t flag)
{
    Close();
    char path[kPathCapacity];
    if (!_pSource || _pSource->GetPath(path, sizeof path) < 0)
        return kOpenNoName;
    _szFileName = path;
    if (flag && _pSource == _pOwnedSource.get()) {
        // The reader reads the file itself from now on.
        _pOwnedSource.reset();
        _pSource = nullptr;
    }
    _blockMap.clear();

    _mxfFileReader.SetMinMaxRd(0x80000, 0x800000);
    if (const uint32_t rc = _mxfFileReader.Open(_szFileName); rc != 0) {
        Log("CMXF_Parvex_AudioDataReader::Open - _mxfFileReader.Open Failed");
        return static_cast<int32_t>(rc);
    }
    _pClipInfo = std::make_unique<CMXF_Parvex_ClipInfo>();
    int indexed = 0;
    if (const int32_t rc = _mxfFileReader.GetHeaderData(_pClipInfo.get(), 1, &indexed); rc != 0) {
        Log("CMXF_Parvex_DataReader::Open - _mxfFileReader.GetHeaderData Failed");
        Close();
        return rc;
    }
    _bIndexed = indexed != 0;
    CMXF_Parvex_ClipInfo& info = *_pClipInfo;
    // BAVD clips of 8 MB blocks may carry block kind 3; the block size tells the BAVD size.
    const uint32_t kind = info._nBlockType == 3 ? 2 : info._nBlockType;
    _pBlockData = CreateBlockData(kind, info._nBlockSize);
    if (!_pBlockData) {
        Log("%s Unknown Rix Block Size !!! (kind %u, size 0x%X)", kLogTag, info._nBlockType, info._nBlockSize);
        Close();
        return kOpenUnknownBlock;
    }
    // Reads below look at the open flag; it is cleared again on failure.
    _bOpen = true;

    if (!_bIndexed) {
        const int32_t rc = ReadBlockTable(0, _pBlockData.get());
        if (rc != 0) {
            Log(rc == kOpenBadFirstTable ? "%s *** Block's SetBlockInfo FAILED !"
                                         : "%s *** Read Block Buffer's Info FAILED",
                kLogTag);
            Close();
            return rc == kOpenBadFirstTable ? kOpenBadFirstTable : kOpenNoFirstTable;
        }
        info._nBlocks = 0;
        info._nFileFieldIn = 0;
        info._nFileFieldOutExcluded = 0;
        NoteBlock(0, _pBlockData->GetFirstField(), _pBlockData->GetEndField());
        if (!FindLastValidBlock()) {
            Log("%s *** FAILED to Load LAST Valid Block !", kLogTag);
            Close();
            return kOpenNoLastBlock;
        }
    }

    if (TcSystem() < 6) {
        auto raise = [](uint32_t& field) { field += field & 1; };
        auto lower = [](uint32_t& field) { field -= field & 1; };
        raise(info._nIn);
        raise(info._nFileFieldIn);
        lower(info._nOut);
        lower(info._nFileFieldOutExcluded);
    }
    if (info._nFileFieldIn == 0 && !_blockMap.empty())
        info._nFileFieldIn = _blockMap.begin()->second.nFirst;
    if (info._nFileFieldOutExcluded < info._nFileFieldIn)
        info._nFileFieldOutExcluded = info._nFileFieldIn;
    if (info._nBlocks == 0)
        info._nBlocks = info.GetBlockCount();

    _nTimecodeOffset = static_cast<int32_t>(info._nOffsetTC);
    SetInPointStamps();
    const uint32_t usePrimary =
        platform::Registry::GetDword(platform::RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Common", "Use PrimaryTC")
            .value_or(1);
    const CMXF_Parvex_ClipDescriptor* head = info.GetFirstClip();
    if (usePrimary && head && head->_nPrimaryTC != kNoPrimaryTc && _nTcInStamp[0] != kUnknownStamp &&
        _nTcInStamp[1] != kUnknownStamp) {
        TcDate chosen;
        uint8_t packed[TcDate::kPackedSize];
        const uint64_t stamp = _nTcInStamp[head->_nPrimaryTC ? 0 : 1];
        for (int i = 0; i < 8; ++i)
            packed[i] = static_cast<uint8_t>(stamp >> (56 - 8 * i));
        if (chosen.Unpack(false, packed) == TcDate::kPackedSize)
            _nTimecodeOffset = int64_t{chosen.GetFieldOfDay()} - info._nFileFieldIn;
    }
    _nCurrentBlock = -1;
    return 0;
}

uint64_t CParvexDataReader::InPointStamp(const uint8_t* stored, uint32_t field) const
{
    const CMXF_Parvex_ClipDescriptor* head = _pClipInfo->GetFirstClip();
    if (!head)
        return kUnknownStamp;
    TcDate date;
    if (head->_nSerTCVersion != kNoDateWord)
        return date.Unpack(true, stored) == TcDate::kPackedSize ? date.GetPacked() : kUnknownStamp;

    std::tm day{};
    bool haveDay = false;
    const std::string& keyword = head->_szKeywords[parvex::kMaxKeywords - 1];
    if (keyword.size() >= 6) {
        int d = 0, m = 0, y = 0;
        if (!TwoDigits(keyword, 0, &d) || !TwoDigits(keyword, 2, &m) || !TwoDigits(keyword, 4, &y)) {
            Log("*** CParvexDataReader::GetTcIn EXCEPTION ! Failed to convert keyword5 to a date.");
            return kUnknownStamp;
        }
        y += 2000;
        haveDay = y >= 2001 && y <= 2200 && m >= 1 && m <= 12 && d <= 31;
        day.tm_year = y - 1900;
        day.tm_mon = m - 1;
        day.tm_mday = d;
    }
    if (!haveDay) {
        // The creation time is the local wall-clock time counted as seconds since 1970.
        const auto t = static_cast<std::time_t>(_pClipInfo->_qwLocalCreationTime);
        if (!gmtime_r(&t, &day))
            return kUnknownStamp;
        const int y = day.tm_year + 1900;
        if (y < 1901 || y > 2200)
            return kUnknownStamp;
    }
    TcDateFromDateFields(StampSystem(_pClipInfo->_nSystem), day, field, 0, &date);
    return date.GetPacked();
}

void CParvexDataReader::SetInPointStamps()
{
    _nTcInStamp[0] = _nTcInStamp[1] = kUnknownStamp;
    const CMXF_Parvex_ClipDescriptor* head = _pClipInfo->GetFirstClip();
    if (!head)
        return;
    const uint32_t field = _pClipInfo->_nFileFieldIn + _pClipInfo->_nOffsetTC;
    _nTcInStamp[0] = InPointStamp(head->_aSerTCTod, field);
    _nTcInStamp[1] = InPointStamp(head->_aSerTCUsr, field);
}

bool CParvexDataReader::FindLastValidBlock()
{
    if (!_pClipInfo)
        return false;
    CMXF_Parvex_ClipInfo& info = *_pClipInfo;
    const uint64_t size = platform::File::SizeOf(_szFileName).value_or(0);
    const uint64_t whole = size > kDataStart ? (size - kDataStart) / info._nBlockSize : 0;
    // A file without footer is still being recorded, and its last whole block may still be in the making: its
    // size can be on disk before its bytes are (a writer on another host, whose lock is not seen here). That
    // block is left out, so that no unwritten bytes are ever handed out as pictures, unless the file goes on
    // past it (the writer began the next block or wrote its footer) and its last picture is there.
    const bool movedOn = size > kDataStart + whole * info._nBlockSize;
    const uint64_t margin = movedOn ? 1 : 2;
    if (whole < margin) {
        info._nBlocks = 0;
        info._nFileFieldOutExcluded = info._nFileFieldIn;
        return false;
    }
    uint32_t candidate = static_cast<uint32_t>(std::min<uint64_t>(whole - margin, UINT32_MAX - 1));
    Log("%s Measured File Size: %" PRIu64 " [%u Blocks]", kLogTag, kDataStart + uint64_t{candidate} * info._nBlockSize,
        candidate);
    if (_blockMap.count(candidate)) {
        Log("%s -> UNCHANGED FILE END !!", kLogTag);
        return true;
    }

    CFileReader reader(_szLogName);
    const uint32_t kind = info._nBlockType == 3 ? 2 : info._nBlockType;
    std::unique_ptr<CBlockData> scratch = CreateBlockData(kind, info._nBlockSize);
    if (!scratch || reader.Open(_szFileName) != 0) {
        Log("%s FAILED to allocate File Reader !!!", kLogTag);
        return false;
    }
    platform::PageBuffer table = platform::MakePageBuffer(scratch->GetTableSize());
    bool found = false;
    for (uint32_t tries = 0; table && tries < kMaxScanCandidates; ++tries) {
        const uint64_t position = kDataStart + uint64_t{candidate} * info._nBlockSize + scratch->GetTableOffset();
        uint32_t read = 0;
        if (reader.Seek(position) == 0 && reader.ReadData(table.get(), scratch->GetTableSize(), &read) == 0 &&
            read == scratch->GetTableSize() && scratch->IsValid(table.get()) &&
            (tries > 0 || !movedOn || LastPictureWritten(reader, candidate))) {
            found = true;
            break;
        }
        if (candidate == 0)
            break;
        --candidate;
    }
    reader.Close();
    if (!found) {
        Log("%s -> NO Valid Block found !!!", kLogTag);
        return false;
    }
    Log("%s Last Valid Block found location: %" PRIu64 " [%u Blocks]", kLogTag,
        kDataStart + uint64_t{candidate} * info._nBlockSize, candidate);
    if (_blockMap.count(candidate)) {
        Log("%s -> LAST BLOCK UNCHANGED !!", kLogTag);
        return true;
    }
    // The scratch object keeps the current block of the readers untouched.
    if (scratch->SetTable(table.get()) != 0)
        return false;
    NoteBlock(candidate, scratch->GetFirstField(), scratch->GetEndField());
    Log("%s -> New File End: %u", kLogTag, info._nFileFieldOutExcluded);
    return true;
}

bool CParvexDataReader::LastPictureWritten(CFileReader& reader, uint32_t block)
{
    const CMXF_Parvex_ClipInfo& info = *_pClipInfo;
    const uint32_t kind = info._nBlockType == 3 ? 2 : info._nBlockType;
    std::unique_ptr<CBlockData> data = CreateBlockData(kind, info._nBlockSize);
    platform::PageBuffer bytes = platform::MakePageBuffer(info._nBlockSize);
    uint32_t read = 0;
    if (!data || !bytes || reader.Seek(kDataStart + uint64_t{block} * info._nBlockSize) != 0 ||
        reader.ReadData(bytes.get(), info._nBlockSize, &read) != 0 || read != info._nBlockSize ||
        data->SetBlock(bytes.get()) != 0 || data->GetEndField() == data->GetFirstField())
        return false;
    uint32_t pictureSize = 0;
    const uint8_t* picture = data->GetFieldData(data->GetEndField() - data->GetFirstField() - 1, &pictureSize);
    // Every coding's picture starts with a header of its own: one of zeros has not been written yet.
    const bool written =
        picture && pictureSize > 0 && std::any_of(picture, picture + pictureSize, [](uint8_t b) { return b != 0; });
    if (!written)
        Log("%s -> Last block %u not written yet", kLogTag, block);
    return written;
}

int32_t CParvexDataReader::SearchBlockMap(uint32_t target)
{
    for (;;) {
        // The known blocks on either side of the target; block numbers and fields grow together.
        const auto hi = std::find_if(_blockMap.begin(), _blockMap.end(),
                                     [target](const auto& b) { return b.second.nFirst > target; });
        if (hi == _blockMap.begin())
            return kBeyondEnd;
        const auto lo = std::prev(hi);
        if (target - lo->second.nFirst < lo->second.nCount)
            return SetBlockIndex(static_cast<int32_t>(lo->first));
        if (hi == _blockMap.end() || hi->first - lo->first < 2) {
            // Past the known end, or a gap of fields between adjacent blocks: nothing holds the target.
            _nCurrentBlock = -1;
            return kBeyondEnd;
        }
        const double perBlock =
            static_cast<double>(hi->second.nFirst - lo->second.nFirst) / static_cast<double>(hi->first - lo->first);
        const double estimate = lo->first + (target - lo->second.nFirst) / perBlock;
        const uint32_t guess =
            std::clamp<uint32_t>(static_cast<uint32_t>(std::lround(estimate)), lo->first + 1, hi->first - 1);
        const int32_t rc = ReadBlockTable(guess, _pBlockData.get());
        if (rc != 0) {
            _nCurrentBlock = -1;
            return rc;
        }
        NoteBlock(guess, _pBlockData->GetFirstField(), _pBlockData->GetEndField());
    }
}

int32_t CParvexDataReader::GoToFieldOffset(int64_t field)
{
    if (!_bOpen || !_pClipInfo)
        return -1;
    CMXF_Parvex_ClipInfo& info = *_pClipInfo;
    const int64_t wanted = std::max<int64_t>(field, 0) + info._nFileFieldIn;
    uint32_t target = static_cast<uint32_t>(std::min<int64_t>(wanted, UINT32_MAX));
    if (_bIndexed) {
        if (target >= info._nFileFieldOutExcluded) {
            const uint32_t back = FieldsPerFrame();
            target = info._nFileFieldOutExcluded >= info._nFileFieldIn + back ? info._nFileFieldOutExcluded - back
                                                                              : info._nFileFieldIn;
        }
        int32_t block = -1;
        if (info.GetBlockFromField(target, &block) < 0 || block < 0)
            return -1;
        return SetBlockIndex(block);
    }
    if (!_blockMap.empty()) {
        const auto& last = *_blockMap.rbegin();
        if (target >= last.second.nFirst + last.second.nCount) {
            FindLastValidBlock();
            const auto& now = *_blockMap.rbegin();
            if (target >= now.second.nFirst + now.second.nCount) {
                _nCurrentBlock = -1;
                return kBeyondEnd;
            }
        }
    }
    return SearchBlockMap(target);
}

uint32_t CParvexDataReader::ReachedField() const
{
    uint32_t first = 0;
    if (_nCurrentBlock < 0)
        return _pClipInfo ? _pClipInfo->_nFileFieldIn : 0;
    if (_bIndexed) {
        uint64_t position = 0;
        _pClipInfo->GetBlockInfo(static_cast<uint32_t>(_nCurrentBlock), &first, &position);
    } else if (auto it = _blockMap.find(static_cast<uint32_t>(_nCurrentBlock)); it != _blockMap.end()) {
        first = it->second.nFirst;
    }
    return first;
}

int32_t CParvexDataReader::GoToTime(double* seconds)
{
    if (!_bOpen || !_pClipInfo || !seconds)
        return -1;
    const double wanted = std::isnan(*seconds) || *seconds < 0 ? 0.0 : *seconds;
    const double fields = std::floor(wanted / CTimeCode::GetFieldDuration(TcSystem()) + 0.001);
    const int32_t rc =
        GoToFieldOffset(fields < static_cast<double>(INT32_MAX) ? static_cast<int64_t>(fields) : INT32_MAX);
    if (rc == 0)
        *seconds = TimeOfField(ReachedField());
    return rc;
}

int32_t CParvexDataReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    if (!_bOpen || !_pClipInfo)
        return -1;
    if (in)
        *in = static_cast<int32_t>(_pClipInfo->_nFileFieldIn + _nTimecodeOffset);
    if (out) {
        if (!_bIndexed) {
            Log("%s Invalid footer, reading last block !", kLogTag);
            FindLastValidBlock();
        }
        *out = static_cast<int32_t>(_pClipInfo->_nFileFieldOutExcluded + _nTimecodeOffset);
    }
    if (system)
        *system = static_cast<int32_t>(TcSystem());
    return 0;
}
