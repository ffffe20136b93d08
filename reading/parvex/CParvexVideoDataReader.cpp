#include "reading/parvex/CParvexVideoDataReader.h"

#include <algorithm>
#include <cstring>

#include "common/CSlowCallWatch.h"
#include "common/CTimeCode.h"
#include "platform/Wait.h"

namespace
{

constexpr uint8_t kMarker[4] = {0xFF, 0xFE, 0xFD, 0xFC};
constexpr uint32_t kChunkUnit = 128;
constexpr uint32_t kProgressiveBit = 1u << 22;

VideoType TypeOfBlockFormat(uint32_t format)
{
    switch (format) {
        case 1:
            return Mjpeg_Video;
        case 2:
            return Mjpeg4_Video;
        case 3:
            return MPEGField_Video;
        case 4:
            return MPEGFrame_Video;
        case 5:
            return Hydrel_Video;
        default:
            return Unknown_Video;
    }
}

}  // namespace

CParvexVideoDataReader::CParvexVideoDataReader(const std::string& logName, bool raw, bool allChannels)
    : CParvexDataReader(logName), _bRaw(raw), _bAllChannels(allChannels)
{
}

CParvexVideoDataReader::~CParvexVideoDataReader()
{
    CParvexVideoDataReader::Close();
}

bool CParvexVideoDataReader::StripMetadataChunks(const uint8_t** picture, uint32_t* size)
{
    while (*size > 3 && std::memcmp(*picture, kMarker, std::min<uint32_t>(*size, 4)) == 0) {
        // The length lies at bytes 6..7: a marker without it, a chunk of no length or one longer than the
        // picture is refused rather than skipped.
        if (*size < 8)
            return false;
        const uint32_t length = kChunkUnit * (uint32_t{(*picture)[6]} << 8 | (*picture)[7]);
        if (length == 0 || length > *size)
            return false;
        *picture += length;
        *size -= length;
    }
    return true;
}

// ---- The preload thread ----

void CParvexVideoDataReader::PreloadLoop()
{
    for (;;) {
        const uint32_t woken = platform::Event::WaitForMultiple({&_stop, &_go}, false, platform::kInfinite);
        if (woken != platform::kWaitObject0 + 1)
            return;
        uint32_t read = 0;
        uint32_t result = _mxfFileReader.Seek(_nPreloadPosition);
        if (result == 0)
            result = _mxfFileReader.ReadData(Slot(_nPreloadSlot), _nBlockSize, &read);
        _nPreloadResult = result;
        _nPreloadRead = read;
        _done.Set();
    }
}

void CParvexVideoDataReader::StartPreload()
{
    if (!_thread.joinable() || _bPreloadPending || _nCurrentBlock < 0)
        return;
    // Only blocks known to be whole are read ahead: a recording file's next block may still be written.
    const uint32_t next = static_cast<uint32_t>(_nCurrentBlock) + 1;
    uint64_t position = 0;
    if (next >= GetBlockCount() || BlockPosition(next, &position) != 0)
        return;
    _nPreloadBlock = static_cast<int32_t>(next);
    _nPreloadPosition = position;
    _nPreloadSlot = 1 - _nSlot;
    _bPreloadPending = true;
    _go.Set();
}

void CParvexVideoDataReader::WaitForPreload()
{
    if (!_bPreloadPending)
        return;
    _bPreloadPending = false;
    _done.Wait(platform::kInfinite);
}

void CParvexVideoDataReader::StopThread()
{
    if (_thread.joinable()) {
        _stop.Set();
        _thread.join();
    }
    _bPreloadPending = false;
    _go.Reset();
    _done.Reset();
    _stop.Reset();
}

// ---- Blocks ----

int32_t CParvexVideoDataReader::ReadDataBlock()
{
    CSlowCallWatch watch("MJPEG ReadDataBlock", 1000, _szLogName);
    const uint32_t previous = _nSlot;
    uint32_t slot = 1 - _nSlot;
    bool loaded = false;
    if (_bPreloadPending && _nPreloadBlock == _nCurrentBlock) {
        _bPreloadPending = false;
        if (_done.Wait(platform::kInfinite) != platform::kWaitObject0)
            return kWaitFailed;
        if (_nPreloadResult != 0) {
            _bOpen = false;
            return -1;
        }
        // A short read ahead is read again: the block may have been completed since.
        loaded = _nPreloadRead == _nBlockSize;
        slot = _nPreloadSlot;
    }
    WaitForPreload();
    if (!loaded) {
        uint64_t position = 0;
        uint32_t read = 0;
        if (BlockPosition(static_cast<uint32_t>(_nCurrentBlock), &position) != 0 ||
            _mxfFileReader.Seek(position) != 0 || _mxfFileReader.ReadData(Slot(slot), _nBlockSize, &read) != 0) {
            _bOpen = false;
            return -1;
        }
        if (read < _nBlockSize)
            return kShortBlock;
    }

    if (const int rc = _pBlockData->SetBlock(Slot(slot)); rc != 0) {
        _pBlockData->SetBlock(Slot(previous));
        return rc;
    }
    const uint32_t first = _pBlockData->GetFirstField();
    const uint32_t end = _pBlockData->GetEndField();
    if (_nVideoChannels == 0) {
        // The first block loaded tells the channels and the fields of a picture.
        _nVideoChannels = std::max<uint32_t>(1, _pBlockData->GetVideoChannels());
        const uint32_t format = _pBlockData->GetVideoFormat();
        _nFieldsPerPicture = format == 4 || format == 8 || format == 9 ? 2 : _pBlockData->GetFieldsPerPicture();
    }
    const uint32_t count = (end - first) * _nVideoChannels;
    if (!_bIndexed) {
        if (!_pBlockData->GetFieldData(0, nullptr) || !_pBlockData->GetFieldData(count - 1, nullptr)) {
            _pBlockData->SetBlock(Slot(previous));
            return kIncompleteBlock;
        }
        NoteBlock(static_cast<uint32_t>(_nCurrentBlock), first, end);
    }
    _nSlot = slot;
    _nBlockFirst = first;
    _nBlockEnd = end;
    _nElementCount = count;
    return 0;
}

int32_t CParvexVideoDataReader::LoadBlock(int32_t n)
{
    const int32_t previous = _nCurrentBlock;
    _nCurrentBlock = n;
    const int32_t rc = ReadDataBlock();
    if (rc != 0) {
        _nCurrentBlock = previous;
        return rc;
    }
    StartPreload();
    return 0;
}

uint32_t CParvexVideoDataReader::CursorOfField(uint32_t field) const
{
    if (field <= _nBlockFirst)
        return 0;
    const uint64_t picture = (field - _nBlockFirst) / _nFieldsPerPicture;
    const uint64_t cursor = picture * _nFieldsPerPicture * _nVideoChannels;
    if (cursor > _nElementCount) {
        Log("ParvexDataReader::GoToFieldOffset !!! WRONG Field Index !!!");
        return _nElementCount;
    }
    return static_cast<uint32_t>(cursor);
}

int32_t CParvexVideoDataReader::StepForward()
{
    while (_nCursor >= _nElementCount) {
        const uint32_t next = static_cast<uint32_t>(_nCurrentBlock) + 1;
        if (next >= GetBlockCount()) {
            if (_bIndexed)
                return kNoMoreData;
            FindLastValidBlock();
            if (next >= GetBlockCount())
                return kNoMoreData;
        }
        const uint32_t over = _nCursor - _nElementCount;
        if (const int32_t rc = LoadBlock(static_cast<int32_t>(next)); rc != 0)
            return rc;
        _nCursor = over;
    }
    return 0;
}

int32_t CParvexVideoDataReader::StepBackward()
{
    const uint32_t in = _pClipInfo->_nFileFieldIn;
    for (;;) {
        const bool atIn = _nCurrentBlock == 0 && _nCursor <= CursorOfField(in);
        if (atIn || (_nCursor < Step() && _nCurrentBlock <= 0))
            return kNoMoreData;
        if (_nCursor >= Step())
            break;
        const uint32_t before = _nCursor;
        if (const int32_t rc = LoadBlock(_nCurrentBlock - 1); rc != 0)
            return rc;
        _nCursor = _nElementCount + before;
    }
    _nCursor -= Step();
    return 0;
}

int32_t CParvexVideoDataReader::PictureAtCursor(const uint8_t** picture, uint32_t* size)
{
    *size = 0;
    *picture = _pBlockData->GetFieldData(_nCursor, size);
    if (!*picture)
        return kNoPicture;
    if (!_bRaw && !StripMetadataChunks(picture, size)) {
        Log("Strange M-JPEG Field Metadata !?!?!?");
        return kWaitFailed;
    }
    return 0;
}

double CParvexVideoDataReader::CursorTime() const
{
    const uint32_t picture = _nCursor / _nFieldsPerPicture / _nVideoChannels;
    double seconds = TimeOfField(_nBlockFirst + picture * _nFieldsPerPicture);
    if (_bAllChannels && _nVideoChannels >= 2) {
        const uint32_t hundredths = (_nCursor / _nFieldsPerPicture) % _nVideoChannels * 100 / _nVideoChannels;
        seconds += hundredths * 0.01 * CTimeCode::GetFieldDuration(TcSystem());
    }
    return seconds;
}

uint32_t CParvexVideoDataReader::ReachedField() const
{
    return _nBlockFirst + _nCursor / _nVideoChannels;
}

// ---- Interface ----

int32_t CParvexVideoDataReader::Open(uint32_t flag)
{
    StopThread();
    if (const int32_t rc = CParvexDataReader::Open(flag); rc != 0)
        return rc;
    _nBlockSize = _pClipInfo->_nBlockSize;
    _nSlot = 0;
    _nCursor = 0;
    _nElementCount = 0;
    _nVideoChannels = 0;
    _nFieldsPerPicture = 1;
    _nBlockFirst = _nBlockEnd = 0;
    if (ResizeBuffer(2 * _nBlockSize) != 0) {
        Log("%s (CParvexVideoDataReader::Open) No read buffer of 2 x 0x%X bytes", kLogTag, _nBlockSize);
        Close();
        return -1;
    }
    _thread = std::thread([this] { PreloadLoop(); });
    int32_t rc = _bIndexed ? 0 : GoToDataEnd();
    if (rc == 0)
        rc = GoToDataStart();
    if (rc != 0) {
        Close();
        return rc;
    }
    return 0;
}

int32_t CParvexVideoDataReader::Close()
{
    StopThread();
    _nElementCount = 0;
    _nCursor = 0;
    return CParvexDataReader::Close();
}

int32_t CParvexVideoDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!_bOpen)
        return kNotSupported;
    if (!buffer)
        return kNoBuffer;
    if (const int32_t rc = StepForward(); rc != 0)
        return rc;
    const uint8_t* picture = nullptr;
    uint32_t bytes = 0;
    if (const int32_t rc = PictureAtCursor(&picture, &bytes); rc != 0)
        return rc;
    if (sizeOut)
        *sizeOut = bytes;
    if (!*buffer)
        *buffer = const_cast<uint8_t*>(picture);
    else if (bytes > size)
        return kBufferTooSmall;
    else
        std::memcpy(*buffer, picture, bytes);
    if (secondsOut)
        *secondsOut = CursorTime();
    _nCursor += Step();
    return kDataOk;
}

int32_t CParvexVideoDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!_bOpen)
        return kNotSupported;
    if (!buffer)
        return kNoBuffer;
    if (const int32_t rc = StepBackward(); rc != 0)
        return rc;
    const uint8_t* picture = nullptr;
    uint32_t bytes = 0;
    int32_t rc = PictureAtCursor(&picture, &bytes);
    if (rc == 0) {
        if (sizeOut)
            *sizeOut = bytes;
        if (!*buffer)
            *buffer = const_cast<uint8_t*>(picture);
        else if (bytes > size)
            rc = kBufferTooSmall;
        else
            std::memcpy(*buffer, picture, bytes);
    }
    if (rc != 0) {
        // Nothing was delivered: the cursor stays after the picture.
        _nCursor += Step();
        return rc;
    }
    if (secondsOut)
        *secondsOut = CursorTime();
    return kDataOk;
}

int32_t CParvexVideoDataReader::SkipNextData()
{
    if (!_bOpen)
        return kNotSupported;
    if (const int32_t rc = StepForward(); rc != 0)
        return rc;
    _nCursor += Step();
    return 0;
}

int32_t CParvexVideoDataReader::SkipPrevData()
{
    if (!_bOpen)
        return kNotSupported;
    return StepBackward();
}

int32_t CParvexVideoDataReader::GoToFieldOffset(int64_t field)
{
    if (!_bOpen)
        return kNotSupported;
    const CMXF_Parvex_ClipInfo& info = *_pClipInfo;
    // Kept within the clip: from its in field to its last picture.
    const uint32_t in = info._nFileFieldIn;
    const uint32_t out = info._nFileFieldOutExcluded;
    const uint32_t last = out >= in + _nFieldsPerPicture ? out - _nFieldsPerPicture : in;
    const int64_t wanted = std::clamp<int64_t>(field, 0, int64_t{last} - in);
    const uint32_t target = in + static_cast<uint32_t>(wanted);
    if (_nElementCount > 0 && target >= _nBlockFirst && target < _nBlockEnd) {
        _nCursor = CursorOfField(target);
        return 0;
    }
    WaitForPreload();
    const int32_t previous = _nCurrentBlock;
    int32_t rc = CParvexDataReader::GoToFieldOffset(wanted);
    if (rc == 0)
        rc = LoadBlock(_nCurrentBlock);
    if (rc != 0) {
        // The block loaded before stays current.
        _nCurrentBlock = previous;
        return rc;
    }
    _nCursor = CursorOfField(target);
    return 0;
}

int32_t CParvexVideoDataReader::GoToDataStart()
{
    if (!_bOpen)
        return kNotSupported;
    WaitForPreload();
    if (const int32_t rc = LoadBlock(0); rc != 0)
        return rc;
    _nCursor = CursorOfField(_pClipInfo->_nFileFieldIn);
    return 0;
}

int32_t CParvexVideoDataReader::GoToDataEnd()
{
    if (!_bOpen)
        return kNotSupported;
    WaitForPreload();
    if (!_bIndexed)
        FindLastValidBlock();
    if (GetBlockCount() == 0)
        return kNoMoreData;
    if (const int32_t rc = LoadBlock(static_cast<int32_t>(GetBlockCount() - 1)); rc != 0)
        return rc;
    const uint32_t out = _pClipInfo->_nFileFieldOutExcluded;
    _nCursor = out >= _nBlockEnd ? _nElementCount : CursorOfField(out);
    return 0;
}

uint32_t CParvexVideoDataReader::GetFormat(uint8_t** format)
{
    if (!format || !_bOpen || _nElementCount == 0 || !_pBlockData->GetTable())
        return 0;
    const uint32_t size = _pBlockData->GetTableSize();
    *format = new uint8_t[size];
    std::memcpy(*format, _pBlockData->GetTable(), size);
    return size;
}

uint32_t CParvexVideoDataReader::AspectCode() const
{
    const uint32_t word = _pClipInfo->_nVideoFormat;
    return word >> 28 <= 1 ? (word >> 16) & 0x3F : 3;
}

bool CParvexVideoDataReader::GetVideoInfo(VideoInfo* info)
{
    if (!info || !_pClipInfo)
        return false;
    const uint32_t word = _pClipInfo->_nVideoFormat;
    *info = VideoInfo();
    info->bProgressive = (word & kProgressiveBit) != 0;
    info->nAspect = static_cast<uint8_t>(AspectCode());
    const int32_t codec = static_cast<int32_t>(_pClipInfo->_nVideoCodec);
    const VideoRaster raster = ServerVideoRaster(word, codec);
    info->nStandard = raster.nStandard;
    info->nWidth = raster.nWidth;
    info->nHeight = raster.nHeight;
    // A code the readers do not know leaves the type to the block's video format.
    info->nVideoType = ReaderCodecToVideoType(codec);
    if (info->nVideoType == Unknown_Video && _nElementCount > 0)
        info->nVideoType = TypeOfBlockFormat(_pBlockData->GetVideoFormat());
    return true;
}

bool CParvexVideoDataReader::GetDataDescriptor(char** text, uint32_t* length)
{
    if (!text || !_pClipInfo)
        return false;
    const uint32_t word = _pClipInfo->_nVideoFormat;
    const uint32_t standard = word >> 28;
    std::string resolution = standard == 2 ? "HD-720" : standard >= 3 ? "HD-1080" : "SD";
    std::string type;
    switch (_pClipInfo->_nVideoCodec) {
        case 1:
        case 6:
            type = "MJPEG";
            break;
        case 2:
        case 3:
        case 4:
            type = "IMX";
            break;
        case 5:
        case 13:
            type = "MJPEG4";
            break;
        case 7:
            resolution = "LowRes";
            type = "MJPEG";
            break;
        case 8:
        case 9:
        case 10:
            type = "Hydrel";
            break;
        case 11:
            type = "MPEG-2_field";
            break;
        default: {
            static const char* const kByFormat[] = {"", "MJPEG", "MJPEG4", "MPEG-2_field", "IMX", "Hydrel"};
            const uint32_t format = _nElementCount > 0 ? _pBlockData->GetVideoFormat() : 0;
            type = format < 6 ? kByFormat[format] : "";
        }
    }
    const std::string xml = "<?xml version=\"1.0\"?><DataDescriptor><VideoResolution>" + resolution +
                            "</VideoResolution><VideoDataType>" + type + "</VideoDataType><Progressive>" +
                            ((word & kProgressiveBit) ? "1" : "0") + "</Progressive></DataDescriptor>";
    *text = new char[xml.size() + 1];
    std::memcpy(*text, xml.c_str(), xml.size() + 1);
    if (length)
        *length = static_cast<uint32_t>(xml.size());
    return true;
}

int32_t CParvexVideoDataReader::GetCurrentFieldInfo(uint32_t* first, uint32_t*, uint8_t* code)
{
    if (!_bOpen)
        return kNotSupported;
    if (first)
        *first = _bAllChannels ? _nVideoChannels : 1;
    if (code)
        *code = static_cast<uint8_t>(AspectCode());
    return static_cast<int32_t>(_nFieldsPerPicture);
}
