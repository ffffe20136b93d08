#include "reading/framework/CDataReader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "common/TcDate.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "reading/framework/SourceReaderFactory.h"
#include "xml/CXmlDocument.h"

namespace
{

std::string Trimmed(const std::string& text)
{
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The element's whole text as a number in the base; false when missing or not a number.
template <typename T>
bool ReadNumber(const CXmlDocument& doc, const char* xpath, int base, T* value)
{
    auto node = doc.SelectSingleNode(xpath);
    if (!node || node->IsNull())
        return false;
    std::string text = Trimmed(node->GetText());
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X")))
        text.erase(0, 2);
    T parsed{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, parsed, base);
    if (text.empty() || ec != std::errc() || ptr != end)
        return false;
    *value = parsed;
    return true;
}

// The side-car stamp is written as the hexadecimal number whose bytes, reversed, are the packed stamp.
bool AdjustStamp(const CXmlDocument& doc, const char* xpath, int64_t fields, uint64_t* stamp)
{
    uint64_t number = 0;
    if (!ReadNumber(doc, xpath, 16, &number))
        return false;
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<uint8_t>(number >> (56 - 8 * i));
    TcDate date;
    if (date.Unpack(false, bytes) != TcDate::kPackedSize)
        return false;
    // A negative difference moves the stamp forwards.
    date.SubtractFields(static_cast<uint64_t>(fields));
    *stamp = date.GetPacked();
    return true;
}

}  // namespace

CDataReader::CDataReader(uint32_t bufferSize, const std::string& logName) : _szLogName(logName)
{
    if (bufferSize > 0) {
        _pBuffer = platform::MakePageBuffer(bufferSize);
        _nBufferSize = _pBuffer ? bufferSize : 0;
    }
    _pCursor = _pBuffer.get();
}

CDataReader::~CDataReader() = default;

void CDataReader::ReplaceSource(std::unique_ptr<CSourceReader> source)
{
    _pOwnedSource = std::move(source);
    _pSource = _pOwnedSource.get();
    _nBufferPos = 0;
    _nFill = 0;
    _nBytesLeft = 0;
    _pCursor = _pBuffer.get();
}

int32_t CDataReader::Close()
{
    if (!_pSource)
        return -1;
    if (_pSource == _pOwnedSource.get())
        _pOwnedSource.reset();
    _pSource = nullptr;
    return 0;
}

int32_t CDataReader::Seek(uint64_t position)
{
    if (!_pSource)
        return -1;
    if (position > _nBufferPos && position - _nBufferPos < _nFill) {
        const uint64_t offset = position - _nBufferPos;
        _pCursor = _pBuffer.get() + offset;
        _nBytesLeft = static_cast<uint32_t>(_nFill - offset);
        return 0;
    }
    uint64_t reached = position;
    const int32_t result = _pSource->Seek(&reached);
    _nBytesLeft = 0;
    _nFill = 0;
    _pCursor = _pBuffer.get();
    _nBufferPos = result == 0 ? reached : position;
    OnBufferReset();
    // A source that cannot reach the position is reported, not hidden.
    return result == 0 ? 0 : 1;
}

bool CDataReader::IsAtEnd()
{
    return false;
}

bool CDataReader::IsOpen()
{
    return _pSource && _pSource->IsOpen();
}

int32_t CDataReader::GetAudioChannels(int32_t*, int32_t)
{
    return -1;
}

int32_t CDataReader::SelectAudioStream(int32_t)
{
    return -1;
}

uint32_t CDataReader::GetFormat(uint8_t**)
{
    return 0;
}

bool CDataReader::GetDataDescriptor(char**, uint32_t*)
{
    return false;
}

bool CDataReader::GetVideoInfo(VideoInfo*)
{
    return false;
}

int32_t CDataReader::GetNextData(uint8_t**, uint32_t, uint32_t*, double*)
{
    return kNotSupported;
}

int32_t CDataReader::GetPrevData(uint8_t**, uint32_t, uint32_t*, double*)
{
    return kNotSupported;
}

int32_t CDataReader::SkipNextData()
{
    return -1;
}

int32_t CDataReader::SkipPrevData()
{
    return -1;
}

int32_t CDataReader::GoToFieldOffset(int64_t)
{
    return -1;
}

int32_t CDataReader::GoToTime(double*)
{
    return -1;
}

int32_t CDataReader::GetInOut(int32_t*, int32_t*, int32_t*)
{
    return -1;
}

int64_t CDataReader::GetOffsetTC()
{
    return _nOffsetTC;
}

int32_t CDataReader::GetExtendedInfo(double)
{
    return -1;
}

int32_t CDataReader::GetCurrentFieldInfo(uint32_t*, uint32_t*, uint8_t*)
{
    return -1;
}

int32_t CDataReader::GoToDataStart()
{
    return -1;
}

int32_t CDataReader::GoToDataEnd()
{
    return -1;
}

int32_t CDataReader::Open(uint32_t)
{
    return -1;
}

void CDataReader::OnBufferReset() {}

int32_t CDataReader::AttachSourceReader(CSourceReader* source, uint32_t flag)
{
    return AttachSourceReader(std::unique_ptr<CSourceReader>(source), flag);
}

int32_t CDataReader::AttachSourceReader(std::unique_ptr<CSourceReader> source, uint32_t flag)
{
    ReplaceSource(std::move(source));
    LoadSideCarFile();
    return Open(flag);
}

int32_t CDataReader::ReopenSource(const char* name, uint32_t flag)
{
    ReplaceSource(nullptr);
    auto source = CreateSourceReader(name, 0, 0, _szLogName);
    if (!source)
        return 1;
    ReplaceSource(std::move(source));
    LoadSideCarFile();
    return Open(flag);
}

int32_t CDataReader::SetSourceAndOpen(CSourceReader* source)
{
    _pSource = source;
    _nBufferPos = 0;
    _nFill = 0;
    _nBytesLeft = 0;
    _pCursor = _pBuffer.get();
    return source ? Open(0) : 0;
}

CSourceReader* CDataReader::DetachSourceReader()
{
    CSourceReader* source = _pSource;
    if (source && source == _pOwnedSource.get())
        _pOwnedSource.release();
    _pSource = nullptr;
    _nBufferPos = 0;
    _nFill = 0;
    _nBytesLeft = 0;
    _pCursor = _pBuffer.get();
    return source;
}

int32_t CDataReader::FillBuffer()
{
    if (!_pSource)
        return -1;
    if (_nBytesLeft >= _nBufferSize)
        return 1;
    std::memmove(_pBuffer.get(), _pCursor, _nBytesLeft);
    // The buffer now holds exactly the unconsumed bytes, so a failed read below loses nothing.
    _nBufferPos += _nFill - _nBytesLeft;
    _nFill = _nBytesLeft;
    _pCursor = _pBuffer.get();
    const uint32_t wanted = _nBufferSize - _nBytesLeft;
    uint32_t read = 0;
    if (_pSource->Read(_pBuffer.get() + _nBytesLeft, wanted, &read) != 0 || read > wanted)
        return 1;
    _nBytesLeft += read;
    _nFill = _nBytesLeft;
    return 0;
}

int32_t CDataReader::ResizeBuffer(uint32_t size)
{
    platform::PageBuffer buffer;
    if (size > 0) {
        buffer = platform::MakePageBuffer(size);
        if (!buffer)
            return -1;
    }
    if (_nBytesLeft > size) {
        // The dropped bytes are read again from the source.
        if (!_pSource || _pSource->Move(-static_cast<int64_t>(_nBytesLeft - size)) != 0)
            return -1;
    }
    const uint32_t kept = std::min(_nBytesLeft, size);
    _nBufferPos += _nFill - _nBytesLeft;
    if (kept > 0)
        std::memcpy(buffer.get(), _pCursor, kept);
    _pBuffer = std::move(buffer);
    _nBufferSize = size;
    _pCursor = _pBuffer.get();
    _nFill = kept;
    _nBytesLeft = kept;
    return 0;
}

int32_t CDataReader::Skip(uint32_t count)
{
    if (!_pSource)
        return -1;
    if (count <= _nBytesLeft) {
        _pCursor += count;
        _nBytesLeft -= count;
        return 0;
    }
    const uint32_t beyond = count - _nBytesLeft;
    _nBufferPos += _nFill;
    _nFill = 0;
    _nBytesLeft = 0;
    _pCursor = _pBuffer.get();
    // A failed move leaves the buffer position where the source still is.
    if (_pSource->Move(beyond) != 0)
        return 1;
    _nBufferPos += beyond;
    return 0;
}

uint32_t CDataReader::ReadBigEndian32(const uint8_t* bytes)
{
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

uint64_t CDataReader::ReadBigEndian64(const uint8_t* bytes)
{
    return uint64_t{ReadBigEndian32(bytes)} << 32 | ReadBigEndian32(bytes + 4);
}

bool CDataReader::IsXmlText(const char* bytes)
{
    if (!bytes)
        return false;
    if (std::strncmp(bytes, "\xEF\xBB\xBF", 3) == 0)
        bytes += 3;
    return std::strncmp(bytes, "<?xml ", 6) == 0;
}

void CDataReader::LoadSideCarFile()
{
    if (!_pSource)
        return;
    std::string name;
    _pSource->GetName(name);
    if (name.empty())
        return;
    _nOffsetTC = -1;
    _nSideCarIn = -1;
    _nSideCarDuration = -1;
    _nUserTcInStamp = kUnknownStamp;
    _nLtcInStamp = kUnknownStamp;

    // The last dot is taken wherever it lies, also in a folder name.
    const size_t dot = name.rfind('.');
    const std::string path = platform::ToLocalPath(name.substr(0, dot) + ".korvo.xml");
    if (!platform::File::SizeOf(path))
        return;
    CXmlDocument doc;
    if (!doc.Load(path))
        return;
    int32_t offset = 0;
    if (ReadNumber(doc, "//General_Infos/Parvex_File_Infos/Rix_Offset_TC", 10, &offset))
        _nOffsetTC = offset;
    const bool hasIn = ReadNumber(doc, "//General_Infos/Parvex_File_Infos/Rix_IN", 10, &_nSideCarIn);
    ReadNumber(doc, "//General_Infos/Parvex_File_Infos/Rix_Duration", 10, &_nSideCarDuration);
    int32_t shortIn = -1;
    const bool hasShortIn = ReadNumber(doc, "//Clips_Infos/Clip/Parvex_Clip_Infos/Rix_Short_IN", 10, &shortIn);
    if (!hasIn || !hasShortIn)
        return;
    const int64_t fields = int64_t{shortIn} - _nSideCarIn;
    _nSideCarIn = static_cast<int32_t>(static_cast<uint32_t>(_nSideCarIn) + static_cast<uint32_t>(_nOffsetTC));
    AdjustStamp(doc, "//Clips_Infos/Clip/Parvex_Clip_Infos/Rix_Short_IN_LTC", fields, &_nLtcInStamp);
    AdjustStamp(doc, "//Clips_Infos/Clip/Parvex_Clip_Infos/Rix_Short_IN_UserTC", fields, &_nUserTcInStamp);
}
