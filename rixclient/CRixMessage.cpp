#include "rixclient/CRixMessage.h"

#include <cstring>

namespace
{
constexpr uint32_t kFieldHeader = 6;  // u16 tag, u32 length
constexpr uint32_t kRequestIdOffset = 14;
// Below this the header and the start of the first field are missing.
constexpr uint32_t kMinTotal = 15;

uint32_t Le(const uint8_t* p, int bytes)
{
    uint32_t n = 0;
    for (int i = bytes - 1; i >= 0; --i)
        n = n << 8 | p[i];
    return n;
}

struct Field {
    uint16_t nTag = 0;
    const uint8_t* pValue = nullptr;
    uint32_t nLength = 0;
};

// The fields of one byte range, each checked to end within the range.
class FieldCursor
{
public:
    FieldCursor(const uint8_t* bytes, uint64_t begin, uint64_t end) : _pBytes(bytes), _nPos(begin), _nEnd(end) {}

    bool AtEnd() const { return _nPos >= _nEnd; }
    // False when the field's header or value runs past the range.
    bool Next(Field& field)
    {
        if (_nEnd - _nPos < kFieldHeader)
            return false;
        field.nTag = static_cast<uint16_t>(Le(_pBytes + _nPos, 2));
        uint64_t length = Le(_pBytes + _nPos + 2, 4);
        _nPos += kFieldHeader;
        if (length > _nEnd - _nPos)
            return false;
        field.pValue = _pBytes + _nPos;
        field.nLength = static_cast<uint32_t>(length);
        _nPos += length;
        return true;
    }
    uint64_t Position() const { return _nPos; }
    // Servers that follow the wire table declare an audio container 2 bytes shorter than its index
    // field and data field take (data + 14, not data + 16). The data field's own length tells the
    // two forms apart; the container just read then takes its 2 missing bytes. False when they are
    // not there.
    bool WidenTableAudioContainer(Field& container)
    {
        constexpr uint32_t kIndexField = kFieldHeader + 4;
        const uint64_t start = static_cast<uint64_t>(container.pValue - _pBytes);
        if (_nEnd - start < kIndexField + kFieldHeader)
            return true;
        const uint8_t* v = container.pValue;
        if (Le(v, 2) != 0x0027 || Le(v + 2, 4) != 4 || Le(v + kIndexField, 2) != 0x0028)
            return true;
        const uint64_t dataLength = Le(v + kIndexField + 2, 4);
        if (uint64_t{container.nLength} + 2 != dataLength + kIndexField + kFieldHeader)
            return true;
        if (_nEnd - _nPos < 2)
            return false;
        container.nLength += 2;
        _nPos += 2;
        return true;
    }

private:
    const uint8_t* _pBytes;
    uint64_t _nPos;
    uint64_t _nEnd;
};

bool Number(const Field& field, uint32_t& value)
{
    if (field.nLength != 4)
        return false;
    value = Le(field.pValue, 4);
    return true;
}

bool Byte(const Field& field, uint8_t& value)
{
    if (field.nLength != 1)
        return false;
    value = field.pValue[0];
    return true;
}

bool Text(const Field& field, std::string& value)
{
    if (field.nLength > CRixMessage::kMaxText)
        return false;
    value.assign(reinterpret_cast<const char*>(field.pValue), field.nLength);
    return true;
}

bool Data(const Field& field, std::optional<std::vector<uint8_t>>& value)
{
    value.emplace(field.pValue, field.pValue + field.nLength);
    return true;
}

template <size_t N>
bool Fixed(const Field& field, std::array<uint8_t, N>& value)
{
    if (field.nLength > N)
        return false;
    value.fill(0);
    std::memcpy(value.data(), field.pValue, field.nLength);
    return true;
}

bool ListEntry(const Field& container, CRixMessage& message)
{
    FieldCursor cursor(container.pValue, 0, container.nLength);
    Field field;
    // The index comes first: it says which entry the other fields fill.
    uint32_t index = 0;
    if (!cursor.Next(field) || field.nTag != 0x0511 || !Number(field, index) || index >= CRixMessage::kListEntries)
        return false;
    RixListEntry entry;
    while (!cursor.AtEnd()) {
        if (!cursor.Next(field))
            return false;
        bool ok = true;
        switch (field.nTag) {
            case 0x0512:
                ok = Number(field, entry._n0512);
                break;
            case 0x0513:
                ok = Byte(field, entry._n0513);
                break;
            case 0x0514:
                ok = Number(field, entry._n0514);
                break;
            case 0x0515:
                ok = Text(field, entry._sz0515);
                break;
            default:
                break;
        }
        if (!ok)
            return false;
    }
    message._listEntries[index] = std::move(entry);
    return true;
}

bool TableCell(const Field& container, CRixMessage& message)
{
    FieldCursor cursor(container.pValue, 0, container.nLength);
    Field field;
    uint32_t row = CRixMessage::kUnset;
    uint8_t column = 0xFF;
    RixTableCell cell;
    while (!cursor.AtEnd()) {
        if (!cursor.Next(field))
            return false;
        bool ok = true;
        switch (field.nTag) {
            case 0x0521:
                ok = Number(field, row);
                break;
            case 0x0522:
                ok = Byte(field, column);
                break;
            case 0x0523:
                ok = Number(field, cell._n0523);
                break;
            case 0x0524:
                ok = Text(field, cell._sz0524);
                break;
            case 0x0525:
                ok = Text(field, cell._sz0525);
                break;
            case 0x0526:
            case 0x0527:
            case 0x0528:
            case 0x0529:
                ok = Number(field, cell._n0526to0529[field.nTag - 0x0526]);
                break;
            case 0x052A:
                ok = Fixed(field, cell._b052A);
                break;
            case 0x052B:
                ok = cell._v052B.size() < CRixMessage::kMaxSubEntries && Fixed(field, cell._v052B.emplace_back());
                break;
            default:
                break;
        }
        if (!ok)
            return false;
    }
    if (row >= CRixMessage::kTableRows || column >= CRixMessage::kTableColumns)
        return false;
    message._tableCells[row * CRixMessage::kTableColumns + column] = std::move(cell);
    return true;
}

bool AudioChannel(const Field& container, CRixMessage& message)
{
    FieldCursor cursor(container.pValue, 0, container.nLength);
    Field field;
    uint32_t channel = CRixMessage::kUnset;
    std::optional<std::vector<uint8_t>> data;
    while (!cursor.AtEnd()) {
        if (!cursor.Next(field))
            return false;
        if (field.nTag == 0x0027 && !Number(field, channel))
            return false;
        if (field.nTag == 0x0028)
            Data(field, data);
    }
    if (channel >= CRixMessage::kAudioChannels || !data)
        return false;
    message._audioData[channel] = std::move(data);
    return true;
}

// Fills the member of one top-level field; false when the field is malformed.
bool Fill(const Field& field, CRixMessage& m)
{
    uint8_t camera = 0;
    switch (field.nTag) {
        case 0x0001:
            return Number(field, m._nRequestId);
        case 0x1111:
            return Text(field, m._szOperation);
        case 0x1112:
            return Text(field, m._szText2);
        case 0x0002:
            return Text(field, m._szText);
        case 0x0003:
            return Text(field, m._szUmID);
        case 0x0004:
            return Number(field, m._nRixNumber);
        case 0x0005:
            return Number(field, m._nClipNumber);
        case 0x0006:
            if (!Byte(field, camera))
                return false;
            m._cCameraId = static_cast<char>(camera);
            return true;
        case 0x0007:
            return Number(field, m._nField);
        case 0x0008:
            return Number(field, m._nTcSystem);
        case 0x0009:
            return Number(field, m._n0009);
        case 0x000A:
            return Number(field, m._n000A);
        case 0x000B:
            return Number(field, m._nAudioChannelMask);
        case 0x000C:
            return Number(field, m._n000C);
        case 0x0030:
            return Number(field, m._n0030);
        case 0x0032:
            return Number(field, m._n0032);
        case 0x0033:
            return Number(field, m._n0033);
        case 0x0035:
            return Number(field, m._n0035);
        case 0x0040:
            return Number(field, m._n0040);
        case 0x0041:
            return Number(field, m._n0041);
        case 0x0060:
            return Number(field, m._nGrowingMode);
        case 0x0061:
            return m._bHasVarID = Fixed(field, m._VarID);
        case 0x0062:
            return Number(field, m._nVarIDByteCount);
        case 0x0063:
            return Number(field, m._nVarIDWide);
        case 0x0501:
            return Number(field, m._n0501);
        case 0x0502:
            return Number(field, m._n0502);
        case 0x0503:
            return Number(field, m._n0503);
        case 0x0504:
            return Byte(field, m._nExtensionFlag);
        case 0x0010:
            return Number(field, m._nNbVideoChannels);
        case 0x0011:
            return Number(field, m._nVideoCodec);
        case 0x0012:
            return Number(field, m._nVideoFormat);
        case 0x0014:
            return Number(field, m._nShortIn);
        case 0x0015:
            return Number(field, m._nShortOut);
        case 0x0016:
            return Number(field, m._nIn);
        case 0x0017:
            return Number(field, m._nOut);
        case 0x0013:
            return Data(field, m._videoData);
        case 0x0020:
            return Number(field, m._nNbAudioChannels);
        case 0x0021:
            return Number(field, m._nAudioCodec);
        case 0x0024:
            return Number(field, m._n0024);
        case 0x0025:
            return Number(field, m._n0025);
        case 0x0026:
            return AudioChannel(field, m);
        case 0x0023:
            return Number(field, m._nAudioContainerCount);
        case 0x0510:
            return ListEntry(field, m);
        case 0x0520:
            return TableCell(field, m);
        case 0x0050:
            return Number(field, m._nErrorCode);
        case 0x0051:
            return Text(field, m._szErrorText);
        default:
            return true;  // the server's own: skipped
    }
}
}  // namespace

// Both passes of Encode: without a buffer it only counts.
class CRixMessage::Writer
{
public:
    explicit Writer(uint8_t* buffer) : _pBuffer(buffer) {}

    uint64_t Size() const { return _nSize; }
    void Put(uint64_t value, int bytes)
    {
        if (_pBuffer)
            for (int i = 0; i < bytes; ++i)
                _pBuffer[_nSize + i] = static_cast<uint8_t>(value >> (8 * i));
        _nSize += bytes;
    }
    void Header(uint16_t tag, uint64_t length)
    {
        Put(tag, 2);
        Put(length, 4);
    }
    void Bytes(uint16_t tag, const void* data, size_t length)
    {
        Header(tag, length);
        if (_pBuffer && length)
            std::memcpy(_pBuffer + _nSize, data, length);
        _nSize += length;
    }
    void Always(uint16_t tag, uint32_t value)
    {
        Header(tag, 4);
        Put(value, 4);
    }
    void Number(uint16_t tag, uint32_t value)
    {
        if (value != kUnset)
            Always(tag, value);
    }
    void Byte(uint16_t tag, uint8_t value) { Bytes(tag, &value, 1); }
    void Text(uint16_t tag, const std::string& text)
    {
        if (!text.empty())
            Bytes(tag, text.data(), text.size());
    }
    // A container: its length is what the content writes.
    template <typename Content>
    void Container(uint16_t tag, Content content)
    {
        Writer counter(nullptr);
        content(counter);
        Header(tag, counter.Size());
        content(*this);
    }

private:
    uint8_t* _pBuffer;
    uint64_t _nSize = 0;
};

void CRixMessage::Walk(Writer& w) const
{
    w.Put(_nHeaderByte, 1);
    w.Put(_nMessageType, 1);
    w.Put(_nCommand, 2);
    w.Put(0, 4);  // the length, written last
    w.Always(0x0001, _nRequestId);
    w.Bytes(0x1111, _szOperation.data(), _szOperation.size());
    w.Text(0x1112, _szText2);
    w.Text(0x0003, _szUmID);
    w.Number(0x0004, _nRixNumber);
    w.Number(0x0005, _nClipNumber);
    if (_cCameraId != 'Z')
        w.Byte(0x0006, static_cast<uint8_t>(_cCameraId));
    w.Number(0x0007, _nField);
    w.Number(0x0008, _nTcSystem);
    w.Number(0x0009, _n0009);
    w.Number(0x000A, _n000A);
    w.Number(0x000B, _nAudioChannelMask);
    w.Number(0x000C, _n000C);
    w.Number(0x0030, _n0030);
    w.Number(0x0032, _n0032);
    w.Number(0x0033, _n0033);
    w.Number(0x0035, _n0035);
    w.Number(0x0040, _n0040);
    w.Number(0x0041, _n0041);
    w.Number(0x0060, _nGrowingMode);
    if (_bHasVarID) {
        w.Bytes(0x0061, _VarID.data(), _VarID.size());
        w.Always(0x0062, _nVarIDByteCount);
        w.Always(0x0063, _nVarIDWide);
    }
    w.Number(0x0501, _n0501);
    w.Number(0x0502, _n0502);
    w.Number(0x0503, _n0503);
    w.Byte(0x0504, _nExtensionFlag);
    if (_nMessageType == kReply) {
        w.Number(0x0010, _nNbVideoChannels);
        w.Number(0x0011, _nVideoCodec);
        w.Number(0x0012, _nVideoFormat);
        w.Number(0x0014, _nShortIn);
        w.Number(0x0015, _nShortOut);
        w.Number(0x0016, _nIn);
        w.Number(0x0017, _nOut);
        if (_videoData)
            w.Bytes(0x0013, _videoData->data(), _videoData->size());
        w.Number(0x0020, _nNbAudioChannels);
        w.Number(0x0021, _nAudioCodec);
        w.Number(0x0024, _n0024);
        w.Number(0x0025, _n0025);
        uint32_t containers = 0;
        for (uint32_t channel = 0; channel < kAudioChannels; ++channel) {
            const auto& data = _audioData[channel];
            if (!data)
                continue;
            // The container holds the index field and the data field: 16 bytes beside the data.
            w.Container(0x0026, [&](Writer& c) {
                c.Always(0x0027, channel);
                c.Bytes(0x0028, data->data(), data->size());
            });
            ++containers;
        }
        w.Always(0x0023, containers);
    }
    // Plain names, not structured bindings: the lambdas capture them.
    for (const auto& item : _listEntries) {
        const uint32_t index = item.first;
        const RixListEntry& entry = item.second;
        if (index >= kListEntries)
            continue;
        w.Container(0x0510, [&](Writer& c) {
            c.Always(0x0511, index);
            c.Always(0x0512, entry._n0512);
            c.Byte(0x0513, entry._n0513);
            c.Always(0x0514, entry._n0514);
            c.Bytes(0x0515, entry._sz0515.data(), entry._sz0515.size());
        });
    }
    for (const auto& item : _tableCells) {
        const uint32_t key = item.first;
        const RixTableCell& cell = item.second;
        if (key >= kTableRows * kTableColumns)
            continue;
        w.Container(0x0520, [&](Writer& c) {
            c.Always(0x0521, key / kTableColumns);
            c.Byte(0x0522, static_cast<uint8_t>(key % kTableColumns));
            c.Always(0x0523, cell._n0523);
            c.Bytes(0x0524, cell._sz0524.data(), cell._sz0524.size());
            c.Bytes(0x0525, cell._sz0525.data(), cell._sz0525.size());
            if (_nExtensionFlag != 1)
                return;
            for (int i = 0; i < 4; ++i)
                c.Always(static_cast<uint16_t>(0x0526 + i), cell._n0526to0529[i]);
            c.Bytes(0x052A, cell._b052A.data(), cell._b052A.size());
            for (size_t i = 0; i < cell._v052B.size() && i < kMaxSubEntries; ++i)
                c.Bytes(0x052B, cell._v052B[i].data(), cell._v052B[i].size());
        });
    }
    if (_nMessageType == kErrorReply) {
        w.Number(0x0050, _nErrorCode);
        w.Text(0x0051, _szErrorText);
    }
}

int64_t CRixMessage::Encode(platform::PageBuffer* pBuffer) const
{
    Writer counter(nullptr);
    Walk(counter);
    uint64_t total = counter.Size();
    if (total - kHeaderSize > UINT32_MAX)
        return -1;
    platform::PageBuffer buffer = platform::MakePageBuffer(static_cast<size_t>(total));
    if (!buffer)
        return -1;
    Writer writer(buffer.get());
    Walk(writer);
    uint64_t rest = total - kHeaderSize;
    for (int i = 0; i < 4; ++i)
        buffer[4 + i] = static_cast<uint8_t>(rest >> (8 * i));
    *pBuffer = std::move(buffer);
    return static_cast<int64_t>(total);
}

void CRixMessage::ReadHeader(CRixMessage* message, const uint8_t* bytes, uint32_t count)
{
    if (count < kHeaderSize)
        return;
    message->_nHeaderByte = bytes[0];
    message->_nMessageType = bytes[1];
    message->_nCommand = static_cast<uint16_t>(Le(bytes + 2, 2));
    // A length near 2^32 gives a total that wraps; the callers check it against what they hold.
    message->_nTotalLength = Le(bytes + 4, 4) + kHeaderSize;
    if (count >= kRequestIdOffset + 4)
        message->_nRequestId = Le(bytes + kRequestIdOffset, 4);
}

int CRixMessage::Decode(CRixMessage* message, const uint8_t* bytes, uint32_t total)
{
    if (total < kMinTotal)
        return kDecodeShort;
    ReadHeader(message, bytes, total);
    uint64_t declared = uint64_t(Le(bytes + 4, 4)) + kHeaderSize;
    if (declared < kMinTotal)
        return kDecodeShort;
    // The result is the offset reached, so the total must fit it.
    if (declared != total || total > INT32_MAX)
        return kDecodeBad;
    FieldCursor cursor(bytes, kHeaderSize, total);
    Field field;
    while (!cursor.AtEnd()) {
        if (!cursor.Next(field) || (field.nTag == 0x0026 && !cursor.WidenTableAudioContainer(field)) ||
            !Fill(field, *message))
            return kDecodeBad;
    }
    return static_cast<int>(cursor.Position());
}
