// The GbE message codec: golden bytes from the wire tables, round trips, and refusal of every malformed length.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rixclient/CRixMessage.h"

namespace
{

using Bytes = std::vector<uint8_t>;

// Little-endian building blocks of hand-written messages.
void Put(Bytes& b, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
Bytes FieldBytes(uint16_t tag, const Bytes& value, int64_t length = -1)
{
    Bytes b;
    Put(b, tag, 2);
    Put(b, length < 0 ? value.size() : static_cast<uint64_t>(length), 4);
    b.insert(b.end(), value.begin(), value.end());
    return b;
}
Bytes U32(uint16_t tag, uint32_t value)
{
    Bytes v;
    Put(v, value, 4);
    return FieldBytes(tag, v);
}
Bytes TextBytes(uint16_t tag, const std::string& text)
{
    return FieldBytes(tag, Bytes(text.begin(), text.end()));
}
Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes b;
    for (const auto& p : parts)
        b.insert(b.end(), p.begin(), p.end());
    return b;
}
// A whole message: header with the right length, the request id and operation fields, then the fields.
Bytes Message(uint8_t type, uint16_t command, uint32_t id, const Bytes& fields)
{
    Bytes body = Cat({U32(0x0001, id), TextBytes(0x1111, "op"), fields});
    Bytes b = {1, type};
    Put(b, command, 2);
    Put(b, body.size(), 4);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}
Bytes Encoded(const CRixMessage& message)
{
    platform::PageBuffer buffer;
    int64_t total = message.Encode(&buffer);
    EXPECT_GT(total, 0);
    return total > 0 ? Bytes(buffer.get(), buffer.get() + total) : Bytes();
}
int DecodeInto(CRixMessage& message, const Bytes& bytes)
{
    return CRixMessage::Decode(&message, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

TEST(RixMessage, RequestGoldenBytes)
{
    CRixMessage m;
    m._nCommand = CRixMessage::kVideoField;
    m._nRequestId = 0x01020304;
    m._szOperation = "op";
    m._szUmID = "U1";
    m._nRixNumber = 2;
    m._nClipNumber = 3;
    m._cCameraId = 'B';
    m._nField = 0x10;
    m._nTcSystem = 3;
    m._nAudioChannelMask = 15;
    // Reply-only fields stay out of a request.
    m._nIn = 5;
    m._videoData = Bytes{1, 2};
    Bytes expected = Message(1, 2, 0x01020304,
                             Cat({TextBytes(0x0003, "U1"), U32(0x0004, 2), U32(0x0005, 3), FieldBytes(0x0006, {'B'}),
                                  U32(0x0007, 0x10), U32(0x0008, 3), U32(0x000B, 15), FieldBytes(0x0504, {0})}));
    EXPECT_EQ(Encoded(m), expected);
}

TEST(RixMessage, MinimalRequestAndUnsetCamera)
{
    CRixMessage m;
    m._nRequestId = 9;
    m._szOperation = "op";
    m._cCameraId = 'Z';
    // Header, request id (10), operation (6 + text) and the flag byte that every message carries (7).
    Bytes bytes = Encoded(m);
    EXPECT_EQ(bytes.size(), 8u + 10 + 6 + 2 + 7);
    EXPECT_EQ(bytes, Message(1, 0, 9, FieldBytes(0x0504, {0})));
}

TEST(RixMessage, FullReplyRoundTrip)
{
    CRixMessage m;
    m._nMessageType = CRixMessage::kReply;
    m._nCommand = CRixMessage::kAudio;
    m._nRequestId = 77;
    m._szOperation = "Rix gateway";
    m._szText2 = "Welcome";
    m._szUmID = "UMID-1";
    m._nRixNumber = 4;
    m._nClipNumber = 0;
    m._cCameraId = 'C';
    m._nGrowingMode = 2;
    m._bHasVarID = true;
    m._VarID[0] = 'V';
    m._nVarIDByteCount = 1;
    m._nVarIDWide = 0;
    m._nExtensionFlag = 1;
    m._nNbVideoChannels = 1;
    m._nVideoCodec = 3;
    m._nVideoFormat = 0x03000000;
    m._nIn = 10;
    m._nOut = 20;
    m._videoData = Bytes(300, 0xAB);
    m._nNbAudioChannels = 2;
    m._n0024 = 2;
    m._audioData[1] = Bytes{1, 2, 3, 4, 5, 6};
    m._audioData[6] = Bytes{};
    m._listEntries[31] = {5, 6, 7, "entry"};
    RixTableCell cell;
    cell._n0523 = 8;
    cell._sz0524 = "a";
    cell._n0526to0529 = {1, 2, 3, 4};
    cell._b052A[25] = 9;
    cell._v052B.resize(5);
    cell._v052B[4][13] = 1;
    m._tableCells[999 * CRixMessage::kTableColumns + 5] = cell;

    Bytes bytes = Encoded(m);
    CRixMessage d;
    ASSERT_EQ(DecodeInto(d, bytes), static_cast<int>(bytes.size()));
    EXPECT_EQ(d._nTotalLength, bytes.size());
    EXPECT_EQ(Encoded(d), bytes);
    EXPECT_EQ(d._szText2, "Welcome");
    EXPECT_EQ(d._cCameraId, 'C');
    EXPECT_EQ(d._nClipNumber, 0u);
    EXPECT_EQ(d._VarID, m._VarID);
    EXPECT_EQ(d._videoData, m._videoData);
    EXPECT_FALSE(d._audioData[0]);
    EXPECT_EQ(d._audioData[1], m._audioData[1]);
    EXPECT_EQ(d._audioData[6], Bytes{});
    EXPECT_EQ(d._nAudioContainerCount, 2u);
    EXPECT_EQ(d._listEntries.at(31)._sz0515, "entry");
    EXPECT_EQ(d._tableCells.at(999 * 6 + 5)._v052B, cell._v052B);

    // The audio container: index field and data field, 16 bytes beside the data.
    const uint8_t container[] = {0x26, 0x00, 22, 0, 0, 0, 0x27, 0x00, 4, 0, 0, 0, 1, 0, 0, 0, 0x28, 0x00, 6, 0, 0, 0};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), std::begin(container), std::end(container)), bytes.end());
}

TEST(RixMessage, AudioContainersOfTheTableFormAreRead)
{
    // As the wire table gives it: the container declares the data length + 14, though its index field
    // and data field take 16 bytes beside the data.
    auto tableForm = [](uint32_t channel, const Bytes& data) {
        return FieldBytes(0x0026, Cat({U32(0x0027, channel), FieldBytes(0x0028, data)}),
                          static_cast<int64_t>(data.size()) + 14);
    };
    Bytes bytes = Message(2, CRixMessage::kAudio, 7,
                          Cat({U32(0x0020, 2), tableForm(0, {1, 2, 3}), tableForm(5, {9}), U32(0x0023, 2)}));
    CRixMessage d;
    ASSERT_EQ(DecodeInto(d, bytes), static_cast<int>(bytes.size()));
    EXPECT_EQ(d._audioData[0], (Bytes{1, 2, 3}));
    EXPECT_EQ(d._audioData[5], Bytes{9});
    EXPECT_FALSE(d._audioData[1]);
    EXPECT_EQ(d._nAudioContainerCount, 2u);

    // Written back, it takes this codec's own form: 16 bytes beside the data.
    Bytes again = Encoded(d);
    const uint8_t container[] = {0x26, 0x00, 19, 0, 0, 0, 0x27, 0x00, 4, 0, 0, 0, 0, 0, 0, 0, 0x28, 0x00, 3, 0, 0, 0};
    EXPECT_NE(std::search(again.begin(), again.end(), std::begin(container), std::end(container)), again.end());

    // The table's form whose data the message does not hold in full.
    Bytes cut = Cat({U32(0x0020, 1), tableForm(0, {1, 2, 3})});
    cut.resize(cut.size() - 2);
    bytes = Message(2, CRixMessage::kAudio, 7, cut);
    CRixMessage e;
    EXPECT_EQ(DecodeInto(e, bytes), CRixMessage::kDecodeBad);
}

TEST(RixMessage, ErrorReplyAndUnknownTags)
{
    Bytes bytes = Message(3, 2, 5,
                          Cat({U32(0x0007, 12), TextBytes(0x7777, "server's own"), U32(0x0050, 2),
                               FieldBytes(0x7778, {}), TextBytes(0x0051, "Field outside the clip")}));
    CRixMessage d;
    ASSERT_EQ(DecodeInto(d, bytes), static_cast<int>(bytes.size()));
    EXPECT_EQ(d._nMessageType, CRixMessage::kErrorReply);
    EXPECT_EQ(d._nRequestId, 5u);
    EXPECT_EQ(d._nField, 12u);
    EXPECT_EQ(d._nErrorCode, 2u);
    EXPECT_EQ(d._szErrorText, "Field outside the clip");
}

TEST(RixMessage, ShortTotalsGiveEight)
{
    Bytes bytes = Message(2, 1, 1, {});
    CRixMessage d;
    EXPECT_EQ(CRixMessage::Decode(&d, bytes.data(), 14), CRixMessage::kDecodeShort);
    EXPECT_EQ(CRixMessage::Decode(&d, bytes.data(), 0), CRixMessage::kDecodeShort);
    // A header that declares fewer than 15 bytes.
    Bytes header = {1, 2, 1, 0, 6, 0, 0, 0};
    header.resize(20);
    EXPECT_EQ(DecodeInto(d, header), CRixMessage::kDecodeShort);
}

struct BadCase {
    const char* name;
    Bytes fields;
};

Bytes Container(uint16_t tag, std::initializer_list<Bytes> inner, int64_t length = -1)
{
    return FieldBytes(tag, Cat(inner), length);
}

TEST(RixMessage, MalformedRepliesAreRefused)
{
    const Bytes ok = U32(0x0004, 1);
    const BadCase cases[] = {
        {"field past the message", FieldBytes(0x0013, {1, 2}, 3)},
        {"field length near 2^32", FieldBytes(0x0013, {1, 2}, 0xFFFFFFFF)},
        {"field header cut", Bytes{0x04, 0x00, 0x04}},
        {"number of 2 bytes", FieldBytes(0x0004, {1, 2})},
        {"number of 5 bytes", FieldBytes(0x0016, {1, 2, 3, 4, 5})},
        {"camera of 2 bytes", FieldBytes(0x0006, {'A', 'B'})},
        {"flag of 0 bytes", FieldBytes(0x0504, {})},
        {"text over the bound", TextBytes(0x0051, std::string(CRixMessage::kMaxText + 1, 'x'))},
        {"VarID over 32 bytes", FieldBytes(0x0061, Bytes(33, 1))},
        {"audio container of data + 15", Container(0x0026, {U32(0x0027, 0), FieldBytes(0x0028, {1, 2, 3})}, 15 + 3)},
        {"audio channel 8", Container(0x0026, {U32(0x0027, 8), FieldBytes(0x0028, {1})})},
        {"audio without data", Container(0x0026, {U32(0x0027, 1)})},
        {"audio data past its container", Container(0x0026, {U32(0x0027, 1), FieldBytes(0x0028, {1}, 2)})},
        {"entry index 32", Container(0x0510, {U32(0x0511, 32)})},
        {"entry without its index first", Container(0x0510, {U32(0x0512, 1), U32(0x0511, 0)})},
        {"entry text past its container", Container(0x0510, {U32(0x0511, 1), FieldBytes(0x0515, {'a'}, 9)})},
        {"row 1000", Container(0x0520, {U32(0x0521, 1000), FieldBytes(0x0522, {0})})},
        {"column 6", Container(0x0520, {U32(0x0521, 0), FieldBytes(0x0522, {6})})},
        {"cell without column", Container(0x0520, {U32(0x0521, 0)})},
        {"sixth sub-entry", Container(0x0520, {U32(0x0521, 0), FieldBytes(0x0522, {0}),
                                               FieldBytes(0x052B, Bytes(14, 0)), FieldBytes(0x052B, Bytes(14, 0)),
                                               FieldBytes(0x052B, Bytes(14, 0)), FieldBytes(0x052B, Bytes(14, 0)),
                                               FieldBytes(0x052B, Bytes(14, 0)), FieldBytes(0x052B, Bytes(14, 0))})},
        {"sub-entry over 14 bytes",
         Container(0x0520, {U32(0x0521, 0), FieldBytes(0x0522, {0}), FieldBytes(0x052B, Bytes(15, 0))})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = Message(2, 1, 1, Cat({ok, c.fields, ok}));
        CRixMessage d;
        EXPECT_EQ(DecodeInto(d, bytes), CRixMessage::kDecodeBad);
    }
    // The header must declare exactly the bytes given.
    Bytes bytes = Message(2, 1, 1, ok);
    CRixMessage d;
    EXPECT_EQ(CRixMessage::Decode(&d, bytes.data(), static_cast<uint32_t>(bytes.size() - 1)), CRixMessage::kDecodeBad);
    bytes.push_back(0);
    EXPECT_EQ(DecodeInto(d, bytes), CRixMessage::kDecodeBad);
}

}  // namespace
