#include "reading/rix/CRixFTPDataReader.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/CLogManager.h"
#include "common/CSlowCallWatch.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "serverblock/ServerBlock.h"
#include "xml/CXmlDocument.h"

namespace
{
constexpr uint32_t kMaxClipTableSize = 0xFFFFF;
constexpr uint32_t kUrlLength = 259;
constexpr uint32_t kTrainOutMargin = 600;
constexpr uint32_t kTrainStartBack = 400;
constexpr double kRpcSeqStatusVersion = 7.07;
constexpr uint16_t kRpcTimeout = 3000;
constexpr uint32_t kMetadataMarker = 0xFCFDFEFF;
constexpr uint32_t kCloseStopMs = 10000;

uint32_t EvenUp(uint32_t field)
{
    return field & 1 ? field + 1 : field;
}

uint32_t EvenDown(uint32_t field)
{
    return field & 1 ? field - 1 : field;
}

// The element's text without surrounding blanks; empty when missing.
std::string TextOf(const CXmlDocument& doc, const char* xpath)
{
    auto node = doc.SelectSingleNode(xpath);
    if (!node || node->IsNull())
        return std::string();
    std::string text = node->GetText();
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A number in the base; 0 when missing or not a number.
template <typename T>
T NumberOf(const CXmlDocument& doc, const char* xpath, int base = 10)
{
    const std::string text = TextOf(doc, xpath);
    T value{};
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && ptr == text.data() + text.size() ? value : T{};
}

bool IsTwoFieldFormat(uint32_t format)
{
    return format == 4 || format == 8 || format == 9;
}

uint32_t ReadBE32(const uint8_t* bytes)
{
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}
}  // namespace

CRixFTPDataReader::CRixFTPDataReader(const std::string& logName)
    : CRixFTPBlockReader(logName), CDataReader(0x10000, logName)
{
    _nOffsetTC = 0;
}

CRixFTPDataReader::~CRixFTPDataReader()
{
    Close();
    // The preload thread asks this object for the clip's limits.
    StopPreloadThread();
}

int32_t CRixFTPDataReader::Initialize(const char* options)
{
    std::string url;
    if (_pSource)
        _pSource->GetName(url);
    CDataReader::Close();
    if (url.size() > kUrlLength)
        url.resize(kUrlLength);
    if (url.empty())
        return -1;
    if (_bOpen)
        Close();
    _szClipUrl = url;
    _bTrain = url.size() >= 4 && url.compare(url.size() - 4, 4, ".TRN") == 0;
    _bRefresh = !_bTrain && options && std::strstr(options, "-refresh_limits");
    _dServerVersion = 0;
    if (SetClipUrl(url, true) != 0) {
        theLogManager.LogTo(LogName(), "*** Rix FTP Connection failed for %s !", url.c_str());
        return -5;
    }
    if (ReadClipInfo() != 0) {
        theLogManager.LogTo(LogName(), "*** ReadClipInfo() failed for %s !", url.c_str());
        return -2;
    }
    int64_t start = ToServer(_nIn);
    if (_bTrain) {
        if (_nIn == 0 && _nOut == 0) {
            theLogManager.LogTo(LogName(), "*** This train is not valid: %s!", url.c_str());
            return -4;
        }
        // Kept clear of the recording edge, and never before the train's IN.
        _nOut = std::max<uint32_t>(_nIn, _nOut > kTrainOutMargin ? _nOut - kTrainOutMargin : 0);
        start = std::max<int64_t>(ToServer(_nOut) - kTrainStartBack, ToServer(_nIn));
    }
    if (start <= 0 || start > UINT32_MAX) {
        theLogManager.LogTo(LogName(), "Could not open %s! (start field %" PRId64 ")", url.c_str(), start);
        return -3;
    }
    if (OpenClip(kRetrieve, start, kSiteSeek) != 0) {
        theLogManager.LogTo(LogName(), "Could not open %s!", url.c_str());
        return -3;
    }
    _nFieldsInBlock = 0;
    _pBlock = nullptr;
    ResetPreloadState();
    int32_t result = ExtractInfoFromFirstBlock(static_cast<uint32_t>(start));
    if (result != 0)
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::Initialize: Could not read first block!");
    theLogManager.LogTo(LogName(), "ExtractInfoFromFirstBlock: #Fields/Frame=%d #video=%d #audio=%d",
                        static_cast<int>(_nFieldsPerPicture), static_cast<int>(_nVideoChannels),
                        static_cast<int>(_nAudioChannels));
    if (result != 0)
        return result;
    _nCursor = static_cast<uint32_t>(start) - _bavd.GetFirstField();
    _nChannel = 0;
    _nLastOut = _nOut;
    _dOutStillSince = platform::PerfSeconds();
    if (!_bTrain)
        StartPreloading();
    _bOpen = true;
    _bInitialized = true;
    return 0;
}

int32_t CRixFTPDataReader::ReadClipInfo()
{
    const std::string& clip = GetClipName();
    const std::string name = clip.substr(0, clip.rfind('.')) + ".XML";
    int64_t size = -1;
    if (SetDirectoryNoCreate(GetClipDirectory().c_str()) != 0 || GetFileSize(name, &size) != 0 || size < 1 ||
        size > kMaxClipTableSize) {
        theLogManager.LogTo(LogName(), "ReadClipInfo: Abnormal file size (%" PRId64 ") for file %s", size,
                            name.c_str());
        return -3;
    }
    std::string text(static_cast<size_t>(size), '\0');
    uint32_t count = 0;
    const bool read = OpenClipXml(kRetrieve) == 0 && ReadData(text.data(), static_cast<uint32_t>(size), &count, 0) == 0;
    FtpCloseFile(!read || count != size);
    CXmlDocument doc;
    if (!read || count != size || !doc.LoadXml(text)) {
        theLogManager.LogTo(LogName(), "ReadClipInfo: could not parse successfully the xml metadata for media %s!",
                            clip.c_str());
        return -4;
    }

    TextOf(doc, "//QVCLIPTABLE/STATUS");
    _nOffsetTC = NumberOf<int64_t>(doc, "//QVCLIPTABLE/OFFSETTC");
    auto point = [&](const char* xpath) { return static_cast<uint32_t>(NumberOf<int64_t>(doc, xpath) + _nOffsetTC); };
    _nIn = EvenUp(point("//QVCLIPTABLE/IN"));
    _nOut = EvenDown(point("//QVCLIPTABLE/OUT"));
    _nShortIn = EvenUp(point("//QVCLIPTABLE/SHORTIN"));
    _nShortOut = EvenDown(point("//QVCLIPTABLE/SHORTOUT"));
    auto stamp = [&](const char* xpath) { return NumberOf<uint64_t>(doc, xpath, 16) & ~uint64_t{1}; };
    _nTcUsrSource = stamp("//QVCLIPTABLE/TC_USR_SOURCE");
    _nTcTodSource = stamp("//QVCLIPTABLE/TC_TOD_SOURCE");
    _nTcUsrCurrent = stamp("//QVCLIPTABLE/TC_USR_CURRENT");
    _nTcTodCurrent = stamp("//QVCLIPTABLE/TC_TOD_CURRENT");

    switch (NumberOf<int32_t>(doc, "//QVCLIPTABLE/AUDIOMODE")) {
        case 0:
            _nAudioChannels = 0;
            break;
        case 4:
            _nAudioChannels = 8;
            break;
        case 5:
            _nAudioChannels = 16;
            break;
        default:
            _nAudioChannels = 4;
    }

    const uint32_t format = NumberOf<uint32_t>(doc, "//QVCLIPTABLE/VIDEOFORMAT");
    _bHD = (format >> 4 & 3) != 0;
    _b720 = (format >> 4 & 3) == 1;
    const char* system = "(default) PAL";
    _nRateSystem = 3;
    switch (format & 7) {
        case 1:
            system = "PAL";
            break;
        case 2:
        case 4:
            system = "NTSC";
            _nRateSystem = _b720 ? 7 : 4;
            break;
    }

    const char* codec = "";
    switch (NumberOf<int32_t>(doc, "//QVCLIPTABLE/VIDEOCOMPRESSIONTYPE")) {
        case 0:
            _eFileType = MJPEG_File;
            _eVideoType = _bHD ? Mjpeg4_Video : Mjpeg_Video;
            codec = "Std M-JPEG [ SD / HD-4Bands ]";
            break;
        case 1:
            _eFileType = MJPEG_File;
            _eVideoType = _b720 ? MjpegFrame_Video : Mjpeg_Video;
            codec = "M-JPEG Monoband";
            break;
        case 2:
        case 3:
            _eFileType = KorvoIMX_File;
            _eVideoType = IMX50_Video;
            codec = "IMX";
            break;
        case 4:
            _eFileType = KorvoHydrel_File;
            _eVideoType = HydrelHigh_Video;
            codec = "Hydrel";
            break;
        case 5:
            break;
        case 6:
            _eFileType = KorvoDVCPRO_File;
            _eVideoType = DVCPro720P_Video;
            break;
        case 7:
            _eFileType = KorvoDVCPRO_File;
            _eVideoType = DVCPro100_Video;
            break;
        case 8:
            _eFileType = KorvoDVCPRO_File;
            _eVideoType = DVCPro50_Video;
            break;
        default:
            _eFileType = Unknown_File;
            _eVideoType = Unknown_Video;
            codec = "Unknown";
    }
    _nAspect = NumberOf<int32_t>(doc, "//QVCLIPTABLE/ASPECTRATIO") == 2 ? 3 : 2;
    _nSequenceId = NumberOf<uint16_t>(doc, "//QVCLIPTABLE/SEQ");
    const std::string camera = TextOf(doc, "//QVCLIPTABLE/CAMERA");
    _cCamera = camera.empty() ? 'A' : camera[0];

    theLogManager.LogTo(LogName(), "ReadClipInfo: tcIn=%lu, tcOut=%lu, shIn=%lu, shOut=%lu",
                        static_cast<unsigned long>(_nIn), static_cast<unsigned long>(_nOut),
                        static_cast<unsigned long>(_nShortIn), static_cast<unsigned long>(_nShortOut));
    theLogManager.LogTo(LogName(), "ReadClipInfo: #audio=%lu, HD=%d, Progressive=%d seqId=%d",
                        static_cast<unsigned long>(_nAudioChannels), _bHD, _b720, _nSequenceId);
    theLogManager.LogTo(LogName(), "ReadClipInfo: codec=%s, system=%s", codec, system);
    return 0;
}

int32_t CRixFTPDataReader::SetUpCache()
{
    const std::string key = "SOFTWARE\\Brennhall\\" + platform::ProgramName();
    const uint32_t sizeMb =
        platform::Registry::GetDword(platform::RegHive::LocalMachine, key, "SrcCacheSizeInMB").value_or(128);
    const uint32_t preload =
        platform::Registry::GetDword(platform::RegHive::LocalMachine, key, "SrcPreloadNbBlocks").value_or(4);
    // The reader needs its current block and a few ahead.
    if ((uint64_t{sizeMb} << 20) < uint64_t{4} * _nBlockSize)
        theLogManager.LogTo(LogName(), "Warning: Bad cache parameters: not enough cache size!");
    return SetCacheSize(sizeMb, _nBlockSize, preload);
}

int32_t CRixFTPDataReader::ExtractInfoFromFirstBlock(uint32_t startField)
{
    const uint32_t blockSize = GetServerBlockSize();
    if (blockSize != kBlockSize2MB && blockSize != kBlockSize8MB) {
        theLogManager.LogTo(LogName(), "Bad Rix block size identification (%x)!", blockSize);
        return -4;
    }
    _nBlockSize = blockSize;
    if (SetUpCache() != 0)
        return -2;
    if (GetBlock(startField, true) != 0 || TakeCurrentBlock() != 0)
        return -1;
    // Blocks are read by the announced size: smaller ones would be swallowed whole by the read of another.
    if (_bavd.GetBlockSize() != blockSize) {
        theLogManager.LogTo(LogName(), "Bad Rix block size identification (%x): the first block is of %x bytes!",
                            blockSize, _bavd.GetBlockSize());
        _pBlock = nullptr;
        _nFieldsInBlock = 0;
        return -4;
    }
    _nFieldsPerPicture = IsTwoFieldFormat(_bavd.GetVideoFormat()) || _bavd.GetFieldsPerRecord() == 2 ? 2 : 1;
    _nVideoChannels = _bavd.GetRecordsPerField();
    _nAudioGroups = _bavd.GetAudioGroupCount();
    if (_nAudioGroups == 0)
        _nAudioChannels = 0;
    _nClipFirstField = EvenUp(_bavd.GetFirstField());
    return 0;
}

int32_t CRixFTPDataReader::TakeCurrentBlock()
{
    _pBlock = nullptr;
    _nFieldsInBlock = 0;
    const RixCacheElement* element = GetCurrentBlock();
    if (!element)
        return -2;
    const uint64_t length = std::min<uint64_t>(element->nBytesRead, BavdHeader::kDefaultHeaderAreaSize);
    if (_bavd.LoadFromBuffer(element->pBuffer, length) != kBavdOk) {
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::ReadBlock: block [%u;%u[ has no readable header!",
                            element->nFirstField, element->nEndField);
        return -2;
    }
    _pBlock = element;
    _nFieldsInBlock = _bavd.GetFieldOutExcluded() - _bavd.GetFirstField();
    return 0;
}

int32_t CRixFTPDataReader::ReadBlock(uint32_t direction, uint32_t field, bool noRestart)
{
    Guard guard(_csPosition);
    int rc = SetPreloadDirection(direction);
    if (rc < 0) {
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::ReadBlock: Could not perform SetPreloadDirection() ret=%d!",
                            rc);
        return -3;
    }
    rc = GetBlock(field, noRestart);
    if (rc != 0) {
        _pBlock = nullptr;
        _nFieldsInBlock = 0;
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::ReadBlock: Could not read block ret=%d!", rc);
        // 2: the server's stream ended at the clip's end.
        return rc == -200 || rc == 2 ? kEndOfData : -2;
    }
    return TakeCurrentBlock();
}

int32_t CRixFTPDataReader::Reposition(uint32_t direction, uint32_t field)
{
    StopPreloading(platform::kInfinite);
    const bool turned = direction != GetDirection();
    ResetPreloadState();
    _pBlock = nullptr;
    _nFieldsInBlock = 0;
    if (turned)
        SetPreloadDirection(direction);
    // A stream that runs the other way, or that stopped at the clip's old end, is opened again at the field.
    const bool ended = direction == 0 ? IsEndReached() : IsStartReached();
    if ((turned || ended) && SetFieldIndex(field) != 0)
        return -2;
    return ReadBlock(direction, field, _bTrain);
}

uint32_t CRixFTPDataReader::FieldsPerRecord() const
{
    // A picture of the two-field formats is one record that spans both fields.
    return _bavd.GetFieldsPerRecord() * (IsTwoFieldFormat(_bavd.GetVideoFormat()) ? 2 : 1);
}

double CRixFTPDataReader::SecondsOf(int64_t fields, uint32_t hundredths) const
{
    if (fields < 0)
        fields = 0;
    return (static_cast<double>(fields) + hundredths / 100.0) * CTimeCode::GetFieldDuration(_nRateSystem);
}

int32_t CRixFTPDataReader::CurrentElement(const uint8_t** data, uint32_t* size)
{
    if (!_pBlock || _nCursor >= _nFieldsInBlock)
        return -4;
    const uint32_t channels = std::max<uint32_t>(1, _nVideoChannels);
    const uint64_t record = _nCursor / FieldsPerRecord();
    const uint64_t element = record * channels + _nChannel;
    const BavdElemRecord* entry = element < _bavd.GetElemRecordCnt() ? _bavd.GetElemRecord(element) : nullptr;
    if (!entry) {
        theLogManager.LogTo(LogName(),
                            "CRixFTPDataReader::GetCurrentVideoData uiRec=%d > _Bavd.GetElemRecordCnt()=%d!!!",
                            static_cast<int>(element), static_cast<int>(_bavd.GetElemRecordCnt()));
        return -4;
    }
    const uint64_t bytes = _pBlock->nBytesRead;
    const uint64_t offset = uint64_t{_bavd.GetHeaderAreaSize()} + entry->_nDataOffset;
    uint64_t length = entry->_nDataSize;
    if (offset > bytes || length > bytes - offset) {
        theLogManager.LogTo(
            LogName(), "CRixFTPDataReader: element %d at 0x%" PRIx64 " (%" PRIu64 " bytes) lies outside the block!",
            static_cast<int>(element), offset, length);
        return -4;
    }
    const uint8_t* picture = _pBlock->pBuffer + offset;
    while (length > 3 && ReadBE32(picture) == kMetadataMarker) {
        // An empty chunk would never move past its own marker.
        const uint64_t chunk = length >= 8 ? uint64_t(picture[6] << 8 | picture[7]) * 128 : 0;
        if (chunk == 0 || chunk > length) {
            theLogManager.LogTo(LogName(), "Strange Rix Field Metadata !?!?!?");
            return -10;
        }
        picture += chunk;
        length -= chunk;
    }
    *data = picture;
    *size = static_cast<uint32_t>(length);
    return 0;
}

int32_t CRixFTPDataReader::Deliver(uint8_t** buffer, uint32_t capacity, uint32_t* sizeOut, double* secondsOut)
{
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    const int32_t rc = CurrentElement(&data, &size);
    if (rc != 0)
        return rc;
    if (sizeOut)
        *sizeOut = size;
    if (buffer) {
        if (!*buffer) {
            *buffer = const_cast<uint8_t*>(data);
        } else {
            if (capacity < size)
                return -3;
            std::memcpy(*buffer, data, size);
        }
    }
    if (secondsOut) {
        const uint32_t channels = std::max<uint32_t>(1, _nVideoChannels);
        *secondsOut = SecondsOf(int64_t{CurrentField()} + _nOffsetTC - _nIn, _nChannel * 100 / channels);
    }
    return 0;
}

int32_t CRixFTPDataReader::StepForward(const char* caller)
{
    if (_pBlock && _nCursor < _nFieldsInBlock)
        return 0;
    const uint32_t field = CurrentField();
    const bool sequential = _pBlock && GetCurrentBlock() == _pBlock;
    const int32_t rc = sequential ? ReadBlock(0, kNoField, _bTrain) : Reposition(0, field);
    if (rc != 0) {
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::%s: ReadBlock failed (ret=%d)!", caller, rc);
        return rc == kEndOfData && _bTrain ? kEndOfData : -1;
    }
    if (field < _bavd.GetFirstField() || field >= _bavd.GetFieldOutExcluded()) {
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::%s: field %u not in block [%u;%u[!", caller, field,
                            _bavd.GetFirstField(), _bavd.GetFieldOutExcluded());
        _pBlock = nullptr;
        return -1;
    }
    _nCursor = field - _bavd.GetFirstField();
    return 0;
}

int32_t CRixFTPDataReader::StepBackward(const char* caller)
{
    // The previous element: the channel before, or the last channel of the previous picture.
    const uint32_t channels = std::max<uint32_t>(1, _nVideoChannels);
    const int64_t field = int64_t{CurrentField()} - (_nChannel > 0 ? 0 : _nFieldsPerPicture);
    if (field < 0 || field + _nOffsetTC < _nIn)
        return -3;
    const uint32_t channel = _nChannel > 0 ? _nChannel - 1 : channels - 1;
    if (!_pBlock || field < _bavd.GetFirstField() || field >= _bavd.GetFieldOutExcluded()) {
        const bool sequential = _pBlock && GetCurrentBlock() == _pBlock && field < _bavd.GetFirstField();
        const int32_t rc = sequential ? ReadBlock(1, kNoField, _bTrain) : Reposition(1, static_cast<uint32_t>(field));
        if (rc != 0) {
            theLogManager.LogTo(LogName(), "CRixFTPDataReader::%s: ReadBlock failed!", caller);
            return -1;
        }
        if (field < _bavd.GetFirstField() || field >= _bavd.GetFieldOutExcluded()) {
            theLogManager.LogTo(LogName(), "CRixFTPDataReader::%s: field %u not in block [%u;%u[!", caller,
                                static_cast<uint32_t>(field), _bavd.GetFirstField(), _bavd.GetFieldOutExcluded());
            _pBlock = nullptr;
            return -1;
        }
    }
    _nCursor = static_cast<uint32_t>(field - _bavd.GetFirstField());
    _nChannel = channel;
    return 0;
}

int32_t CRixFTPDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!_bOpen)
        return -1;
    Guard guard(_csPosition);
    if (!_bTrain && int64_t{CurrentField()} + _nOffsetTC >= _nOut)
        return -2;
    if (GetDirection() != 0 && _pBlock) {
        const int rc = SetPreloadDirection(0);
        if (rc < 0) {
            theLogManager.LogTo(LogName(),
                                "CRixFTPDataReader::GetNextData: Could not perform SetPreloadDirection() ret=%d!", rc);
            return -5;
        }
    }
    CSlowCallWatch watch("Rix GetNextData", 100, LogName());
    int32_t rc = StepForward("GetNextData");
    if (rc != 0)
        return rc;
    rc = Deliver(buffer, size, sizeOut, secondsOut);
    if (rc != 0)
        return rc;
    if (++_nChannel >= std::max<uint32_t>(1, _nVideoChannels)) {
        _nChannel = 0;
        _nCursor += _nFieldsPerPicture;
    }
    return 0;
}

int32_t CRixFTPDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!_bOpen)
        return -1;
    Guard guard(_csPosition);
    if (GetDirection() != 1 && _pBlock) {
        const int rc = SetPreloadDirection(1);
        if (rc < 0) {
            theLogManager.LogTo(LogName(),
                                "CRixFTPDataReader::GetPrevData: Could not perform SetPreloadDirection() ret=%d!", rc);
            return -5;
        }
    }
    CSlowCallWatch watch("Rix GetPrevData", 100, LogName());
    int32_t rc = StepBackward("GetPrevData");
    if (rc != 0)
        return rc;
    return Deliver(buffer, size, sizeOut, secondsOut);
}

int32_t CRixFTPDataReader::SkipNextData()
{
    if (!_bOpen)
        return -1;
    Guard guard(_csPosition);
    _nChannel = 0;
    _nCursor += _nFieldsPerPicture;
    // Past OUT the cursor stays at the end; the next read reports it.
    if (!_bTrain && int64_t{CurrentField()} + _nOffsetTC >= _nOut)
        return 0;
    if (StepForward("SkipNextData") != 0) {
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::SkipNextData: ReadBlock failed!");
        return -1;
    }
    return 0;
}

int32_t CRixFTPDataReader::SkipPrevData()
{
    if (!_bOpen)
        return -1;
    Guard guard(_csPosition);
    _nChannel = 0;
    if (StepBackward("SkipPrevData") != 0) {
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::SkipPrevData: ReadBlock failed!");
        return -1;
    }
    _nChannel = 0;
    return 0;
}

int32_t CRixFTPDataReader::GoToFieldOffset(int64_t offset)
{
    if (!_bOpen)
        return -1;
    Guard guard(_csPosition);
    theLogManager.LogTo(LogName(), "RixFtpDataReader::GoToFieldOffset(%li)", static_cast<long>(offset));
    const int64_t field = ToServer(int64_t{_nIn} + offset);
    // Past OUT there is nothing to read, in either direction.
    if (offset < 0 || field <= 0 || field > UINT32_MAX || (!_bTrain && int64_t{_nIn} + offset >= _nOut)) {
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::GoToFieldOffset - offset %" PRId64 " outside the clip",
                            offset);
        return -2;
    }
    const int32_t rc = Reposition(GetDirection(), static_cast<uint32_t>(field));
    if (rc != 0) {
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::GoToFieldOffset - ReadBlock(%li) FAILED !!",
                            static_cast<long>(field));
        return rc;
    }
    if (field < _bavd.GetFirstField() || field >= _bavd.GetFieldOutExcluded()) {
        theLogManager.LogTo(LogName(),
                            "CRixFTPDataReader::GoToFieldOffset - field %" PRId64
                            " not found: cursor %u, %u fields in block",
                            field, _nCursor, _nFieldsInBlock);
        _pBlock = nullptr;
        return -1;
    }
    _nCursor = static_cast<uint32_t>(field) - _bavd.GetFirstField();
    _nChannel = 0;
    return 0;
}

int32_t CRixFTPDataReader::GoToTime(double* seconds)
{
    if (!seconds)
        return -1;
    return GoToFieldOffset(FieldsOfTime(*seconds, _nRateSystem));
}

int64_t CRixFTPDataReader::FieldsOfTime(double seconds, TcSystem system)
{
    const double duration = CTimeCode::GetFieldDuration(system);
    const double time = seconds > 0 ? seconds : 0;  // not-a-number too
    if (duration <= 0)
        return 0;
    return static_cast<int64_t>(std::min(std::floor(time / duration + 1e-6), 4.0e9));
}

int32_t CRixFTPDataReader::GoToDataStart()
{
    if (!_bOpen)
        return -1;
    Guard guard(_csPosition);
    theLogManager.LogTo(LogName(), "RixFtpDataReader::GoToDataStart");
    const uint32_t field = static_cast<uint32_t>(ToServer(_nIn));
    if (Reposition(GetDirection(), field) != 0 || field < _bavd.GetFirstField() ||
        field >= _bavd.GetFieldOutExcluded()) {
        theLogManager.LogTo(LogName(), "RixFtpDataReader::GoToDataStart - ReadBlock FAILED !!");
        _pBlock = nullptr;
        return -2;
    }
    _nCursor = field - _bavd.GetFirstField();
    _nChannel = 0;
    return 0;
}

int32_t CRixFTPDataReader::GoToDataEnd()
{
    if (!_bOpen)
        return -1;
    Guard guard(_csPosition);
    theLogManager.LogTo(LogName(), "RixFtpDataReader::GoToDataEnd");
    const uint32_t end = static_cast<uint32_t>(ToServer(_nOut));
    const uint32_t last = end - std::min(end, CTimeCode::GetSystemFieldsPerFrame(_nRateSystem));
    if (Reposition(1, last) != 0 || last < _bavd.GetFirstField() || last >= _bavd.GetFieldOutExcluded()) {
        theLogManager.LogTo(LogName(), "RixFtpDataReader::GoToDataEnd - ReadBlock FAILED !!");
        _pBlock = nullptr;
        return -2;
    }
    // After the last picture: the next GetPrevData delivers it.
    _nCursor = end - _bavd.GetFirstField();
    _nChannel = 0;
    return 0;
}

bool CRixFTPDataReader::IsAtEnd()
{
    return IsFieldPastEnd(CurrentField());
}

bool CRixFTPDataReader::IsFieldBeforeStart(uint32_t field)
{
    return int64_t{field} + _nOffsetTC < _nIn;
}

bool CRixFTPDataReader::IsFieldPastEnd(uint32_t field)
{
    return int64_t{field} + _nOffsetTC >= _nOut;
}

int32_t CRixFTPDataReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    if (!_bOpen)
        return -3;
    if (system)
        *system = static_cast<int32_t>(_nRateSystem);
    if ((!_bTrain && !_bRefresh) || !in || !out) {
        if (in)
            *in = static_cast<int32_t>(_nIn);
        if (out)
            *out = static_cast<int32_t>(_nOut);
        return 0;
    }
    if (!IsRpcOn())
        return -2;
    uint32_t first = 0, rpcIn = 0, rpcOut = 0;
    bool flag = false;
    const bool oldRpc = _dServerVersion < kRpcSeqStatusVersion;
    const int16_t rc = oldRpc ? RpcSeqInOut(_nSequenceId, &rpcIn, &rpcOut, kRpcTimeout)
                              : RpcSeqStatus(_nSequenceId, &first, &rpcIn, &rpcOut, &flag, kRpcTimeout);
    if (rc != 0) {
        theLogManager.LogTo(
            LogName(), oldRpc ? "*** RpcSeqInOut() failed for %s ! [%i]" : "*** RpcSeqStatus() failed for %s ! [%i]",
            _szClipUrl.c_str(), rc);
        return rc;
    }
    // The points are kept in the clip's numbering, as those of the clip table.
    rpcIn = EvenUp(static_cast<uint32_t>(rpcIn + _nOffsetTC));
    rpcOut = EvenDown(static_cast<uint32_t>(rpcOut + _nOffsetTC));
    if (_bRefresh && oldRpc) {
        const double now = platform::PerfSeconds();
        if (rpcOut != _nLastOut) {
            _nLastOut = rpcOut;
            _dOutStillSince = now;
        } else if (now - _dOutStillSince >= kGrowthEndSeconds) {
            OnGrowthEnded(1);
        }
    }
    {
        Guard guard(_csPosition);
        const bool grown = rpcOut > _nOut;
        _nIn = rpcIn;
        _nOut = rpcOut;
        // The block reader stopped at the old end: its stream position is taken up again.
        const RixCacheElement* current = GetCurrentBlock();
        if (grown && IsEndReached() && GetDirection() == 0 && current) {
            StopPreloading(platform::kInfinite);
            SetFieldIndex(current->nEndField);
        }
    }
    *in = static_cast<int32_t>(rpcIn);
    *out = static_cast<int32_t>(rpcOut);
    return 0;
}

uint32_t CRixFTPDataReader::GetFormat(uint8_t** format)
{
    if (!format)
        return 0;
    uint32_t values[4] = {static_cast<uint32_t>(_eFileType), static_cast<uint32_t>(_eVideoType), 0, 0};
    *format = new uint8_t[sizeof values];
    std::memcpy(*format, values, sizeof values);
    return sizeof values;
}

int32_t CRixFTPDataReader::Close()
{
    StopPreloading(kCloseStopMs);
    if (IsDataOpen())
        CloseClip(true);
    _szClipUrl.clear();
    CloseRpcConnection();
    CKorvoFtpClient::Close(true, false);
    _pBlock = nullptr;
    _nFieldsInBlock = 0;
    _bOpen = false;
    return 0;
}

void CRixFTPDataReader::OnWelcomeMsg()
{
    const std::string& reply = GetLastReply();
    const size_t at = reply.find("(v) ");
    char* end = nullptr;
    const double version = at == std::string::npos ? 0 : std::strtod(reply.c_str() + at + 4, &end);
    if (at == std::string::npos || end == reply.c_str() + at + 4)
        theLogManager.LogTo(LogName(),
                            "CRixFTPDataReader::OnWelcomeMsg() could not determine GbE Server Version in '%s'",
                            reply.c_str());
    else
        _dServerVersion = version;
    CRixFTPBlockReader::OnWelcomeMsg();
}

int CRixFTPDataReader::OnConnected()
{
    const int rc = OpenRpcConnection(0);
    if (rc != 0)
        theLogManager.LogTo(LogName(), "*** RPC Connection failed for %s [%i] !", _szClipUrl.c_str(), rc);
    _bRpcBroken = false;
    _bSessionBroken = false;
    return 0;
}

int CRixFTPDataReader::FtpCloseFile(bool abort)
{
    _bAborting = abort;
    const int rc = CRixFTPBlockReader::FtpCloseFile(abort);
    _bAborting = false;
    return rc;
}

int CRixFTPDataReader::OnFtpError(int code)
{
    theLogManager.LogTo(LogName(), "--- OnFtpError(%i) ---", code);
    if (code == 425 || code == 450) {
        ++_nFileBusy;
        theLogManager.LogTo(LogName(), "CRixFTPDataReader::OnFtpError() _nFileBusy=%d.", _nFileBusy.load());
    }
    // A 426 that answers our own ABOR is the normal end of that transfer, not a broken session.
    if ((code == 426 && !_bAborting) || code == 221)
        OnFtpSocketError();
    return 0;
}

int CRixFTPDataReader::OnFtpSocketError()
{
    theLogManager.LogTo(LogName(), "*** CRixFTPDataReader::OnFtpSocketError(). ***");
    return CRixFTPBlockReader::OnFtpSocketError();
}

int CRixFTPDataReader::OnRPCSocketError()
{
    theLogManager.LogTo(LogName(), "CRixFTPDataReader::OnRPCSocketError().");
    _bRpcBroken = true;
    _bSessionBroken = true;
    return 0;
}
