#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "common/TcDate.h"
#include "reading/framework/CDataReader.h"
#include "tests/support/FileTestKit.h"

using testsupport::FreshDir;
using testsupport::Pattern;
using testsupport::WriteWholeFile;

namespace
{

// Bytes in memory, with failures on demand.
class MemorySource : public CSourceReader
{
public:
    explicit MemorySource(std::string bytes, std::string name = "") : CSourceReader(""), _bytes(std::move(bytes))
    {
        _name = std::move(name);
        _bOpen = true;
    }
    int32_t Read(uint8_t* buffer, uint32_t size, uint32_t* read) override
    {
        ++reads;
        *read = 0;
        if (failReads)
            return 1;
        const uint64_t count = std::min<uint64_t>(size, _position < _bytes.size() ? _bytes.size() - _position : 0);
        std::memcpy(buffer, _bytes.data() + _position, count);
        _position += count;
        *read = static_cast<uint32_t>(count);
        return 0;
    }
    int32_t Seek(uint64_t* position) override
    {
        ++seeks;
        if (failMoves)
            return 1;
        _position = *position;
        return 0;
    }
    int32_t Move(int64_t delta) override
    {
        if (failMoves || (delta < 0 && static_cast<uint64_t>(-delta) > _position))
            return 1;
        _position += delta;
        return 0;
    }
    void GetName(std::string& name) override { name = _name; }

    uint64_t _position = 0;
    bool failReads = false;
    bool failMoves = false;
    int reads = 0;
    int seeks = 0;

private:
    std::string _bytes;
    std::string _name;
};

// The root as a concrete reader, with its buffer in reach.
class TestReader : public CDataReader
{
public:
    explicit TestReader(uint32_t bufferSize) : CDataReader(bufferSize, "") {}
    int32_t Open(uint32_t flag) override
    {
        lastFlag = flag;
        return openResult;
    }
    void OnBufferReset() override { ++resets; }

    // Consumes count bytes from the buffer, refilling as needed; what came.
    std::string Take(uint32_t count)
    {
        std::string got;
        while (got.size() < count) {
            if (_nBytesLeft == 0 && FillBuffer() != 0)
                break;
            if (_nBytesLeft == 0)
                break;
            const uint32_t n = std::min<uint32_t>(_nBytesLeft, count - static_cast<uint32_t>(got.size()));
            got.append(reinterpret_cast<const char*>(_pCursor), n);
            _pCursor += n;
            _nBytesLeft -= n;
        }
        return got;
    }
    uint64_t CursorPosition() const { return _nBufferPos + (_nFill - _nBytesLeft); }

    using CDataReader::_nBufferPos;
    using CDataReader::_nBufferSize;
    using CDataReader::_nBytesLeft;
    using CDataReader::_nFill;
    using CDataReader::_nLtcInStamp;
    using CDataReader::_nSideCarDuration;
    using CDataReader::_nSideCarIn;
    using CDataReader::_nUserTcInStamp;
    using CDataReader::FillBuffer;
    using CDataReader::ResizeBuffer;
    using CDataReader::Skip;

    int32_t openResult = 0;
    uint32_t lastFlag = 99;
    int resets = 0;
};

const std::string kData = Pattern(0, 100000);

}  // namespace

TEST(DataReaderRoot, DefaultsAnswerNotSupported)
{
    TestReader reader(0);
    CDataReader& root = reader;
    int32_t channels[4];
    uint8_t* format = nullptr;
    char* text = nullptr;
    uint32_t length = 0;
    VideoInfo info;
    uint8_t* buffer = nullptr;
    double seconds = 1.5;
    EXPECT_EQ(root.Close(), -1);
    EXPECT_EQ(root.Seek(0), -1);
    EXPECT_FALSE(root.IsAtEnd());
    EXPECT_FALSE(root.IsOpen());
    EXPECT_EQ(root.GetAudioChannels(channels, 4), -1);
    EXPECT_EQ(root.SelectAudioStream(0), -1);
    EXPECT_EQ(root.GetFormat(&format), 0u);
    EXPECT_EQ(format, nullptr);
    EXPECT_FALSE(root.GetDataDescriptor(&text, &length));
    EXPECT_FALSE(root.GetVideoInfo(&info));
    EXPECT_EQ(root.GetNextData(&buffer, 0, &length, &seconds), CDataReader::kNotSupported);
    EXPECT_EQ(root.GetPrevData(&buffer, 0, &length, &seconds), CDataReader::kNotSupported);
    EXPECT_EQ(root.SkipNextData(), -1);
    EXPECT_EQ(root.SkipPrevData(), -1);
    EXPECT_EQ(root.GoToFieldOffset(0), -1);
    EXPECT_EQ(root.GoToTime(&seconds), -1);
    EXPECT_EQ(root.GetInOut(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(root.GetOffsetTC(), -1);
    EXPECT_EQ(root.GetExtendedInfo(50.0), -1);
    EXPECT_EQ(root.GetCurrentFieldInfo(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(root.GoToDataStart(), -1);
    EXPECT_EQ(root.GoToDataEnd(), -1);
    EXPECT_EQ(root.CDataReader::Open(1), -1);
    EXPECT_EQ(reader.FillBuffer(), -1);
    EXPECT_EQ(reader.Skip(1), -1);
}

TEST(DataReaderRoot, AttachOpensAndCloseReleases)
{
    TestReader reader(4096);
    reader.openResult = 7;
    EXPECT_EQ(reader.AttachSourceReader(new MemorySource(kData), 1), 7);
    EXPECT_EQ(reader.lastFlag, 1u);
    EXPECT_TRUE(reader.IsOpen());
    EXPECT_EQ(reader.Close(), 0);
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(reader.Close(), -1);

    // A lent source is used, not owned, and comes back.
    MemorySource lent(kData);
    reader.openResult = 0;
    EXPECT_EQ(reader.SetSourceAndOpen(&lent), 0);
    EXPECT_EQ(reader.lastFlag, 0u);
    EXPECT_EQ(reader.Take(10), kData.substr(0, 10));
    EXPECT_EQ(reader.DetachSourceReader(), &lent);
    EXPECT_EQ(reader._nBufferPos, 0u);
    EXPECT_EQ(reader.GetSourceReader(), nullptr);
    EXPECT_EQ(reader.SetSourceAndOpen(nullptr), 0);
}

TEST(DataReaderRoot, ReopenSourceMakesANewSource)
{
    const auto path = FreshDir("reopen") / "clip.bin";
    WriteWholeFile(path, kData);
    TestReader reader(4096);
    EXPECT_EQ(reader.ReopenSource((path.string() + ".none").c_str(), 1), 1);
    EXPECT_EQ(reader.GetSourceReader(), nullptr);
    EXPECT_EQ(reader.ReopenSource(path.c_str(), 1), 0);
    EXPECT_EQ(reader.Take(5000), kData.substr(0, 5000));
}

TEST(DataReaderBuffer, ReadsAcrossRefills)
{
    TestReader reader(4096);
    reader.AttachSourceReader(new MemorySource(kData), 1);
    EXPECT_EQ(reader.Take(100000), kData);
    EXPECT_EQ(reader.FillBuffer(), 0);  // the end is no failure: nothing more came
    EXPECT_EQ(reader._nBytesLeft, 0u);
}

TEST(DataReaderBuffer, FillWithAFullBufferReadsNothing)
{
    TestReader reader(4096);
    auto* source = new MemorySource(kData);
    reader.AttachSourceReader(source, 1);
    ASSERT_EQ(reader.FillBuffer(), 0);
    const int reads = source->reads;
    EXPECT_EQ(reader.FillBuffer(), 1);
    EXPECT_EQ(source->reads, reads);
}

TEST(DataReaderBuffer, FailedFillLosesNothing)
{
    TestReader reader(4096);
    auto* source = new MemorySource(kData);
    reader.AttachSourceReader(source, 1);
    EXPECT_EQ(reader.Take(3000), kData.substr(0, 3000));
    source->failReads = true;
    EXPECT_EQ(reader.FillBuffer(), 1);
    // The unconsumed bytes stay where they were, at the same file positions.
    EXPECT_EQ(reader.CursorPosition(), 3000u);
    EXPECT_EQ(reader._nFill, reader._nBytesLeft);
    EXPECT_EQ(reader._nBufferPos + reader._nFill, 4096u);
    EXPECT_EQ(reader.Seek(3500), 0);
    EXPECT_EQ(reader.resets, 0);
    EXPECT_EQ(reader.Take(596), kData.substr(3500, 596));
    source->failReads = false;
    EXPECT_EQ(reader.Take(10000), kData.substr(4096, 10000));
}

TEST(DataReaderBuffer, SeekInsideTheBufferTouchesNeitherSourceNorHook)
{
    TestReader reader(4096);
    auto* source = new MemorySource(kData);
    reader.AttachSourceReader(source, 1);
    reader.Take(10000);  // buffer now holds 8192..12287
    ASSERT_EQ(reader._nBufferPos, 8192u);
    const int seeks = source->seeks;
    EXPECT_EQ(reader.Seek(8193), 0);
    EXPECT_EQ(reader.Seek(12287), 0);
    EXPECT_EQ(source->seeks, seeks);
    EXPECT_EQ(reader.resets, 0);
    EXPECT_EQ(reader.Take(1), kData.substr(12287, 1));

    // The buffer's first byte itself re-seeks the source and empties the buffer.
    EXPECT_EQ(reader.Seek(8192), 0);
    EXPECT_EQ(source->seeks, seeks + 1);
    EXPECT_EQ(reader.resets, 1);
    EXPECT_EQ(reader._nFill, 0u);
    EXPECT_EQ(reader.Take(5), kData.substr(8192, 5));
    EXPECT_EQ(reader.Seek(99990), 0);
    EXPECT_EQ(reader.Take(100), kData.substr(99990));

    source->failMoves = true;
    EXPECT_EQ(reader.Seek(50), 1);
}

TEST(DataReaderBuffer, SkipWithinAndBeyondTheBuffer)
{
    TestReader reader(4096);
    auto* source = new MemorySource(kData);
    reader.AttachSourceReader(source, 1);
    reader.Take(10);
    EXPECT_EQ(reader.Skip(4086), 0);  // exactly the bytes left
    EXPECT_EQ(reader.CursorPosition(), 4096u);
    EXPECT_EQ(reader.Skip(5000), 0);
    EXPECT_EQ(reader.CursorPosition(), 9096u);
    EXPECT_EQ(reader.Take(10), kData.substr(9096, 10));

    // A move that fails is reported, and the reader stays where the source is.
    source->failMoves = true;
    EXPECT_EQ(reader.Skip(20000), 1);
    EXPECT_EQ(reader.CursorPosition(), 9096u + 4096u);
    source->failMoves = false;
    EXPECT_EQ(reader.Take(10), kData.substr(9096 + 4096, 10));
}

TEST(DataReaderBuffer, ResizeKeepsOrRereadsTheBytesLeft)
{
    TestReader reader(8192);
    auto* source = new MemorySource(kData);
    reader.AttachSourceReader(source, 1);
    reader.Take(100);
    ASSERT_EQ(reader._nBytesLeft, 8092u);
    EXPECT_EQ(reader.ResizeBuffer(4096), 0);
    EXPECT_EQ(reader._nBufferSize, 4096u);
    EXPECT_EQ(reader._nBytesLeft, 4096u);
    EXPECT_EQ(reader._nBufferPos, 100u);
    EXPECT_EQ(source->_position, 4196u);  // the dropped bytes are read again
    EXPECT_EQ(reader.Take(20000), kData.substr(100, 20000));

    EXPECT_EQ(reader.ResizeBuffer(65536), 0);
    EXPECT_EQ(reader.Take(70000), kData.substr(20100, 70000));

    // When the source cannot go back, nothing changes.
    reader.Seek(0);
    reader.Take(1);
    source->failMoves = true;
    const uint32_t left = reader._nBytesLeft;
    EXPECT_EQ(reader.ResizeBuffer(16), -1);
    EXPECT_EQ(reader._nBufferSize, 65536u);
    EXPECT_EQ(reader._nBytesLeft, left);
}

TEST(DataReaderHelpers, BigEndianAndXmlText)
{
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0xF5, 0x06, 0x07, 0x08};
    EXPECT_EQ(CDataReader::ReadBigEndian32(bytes), 0x01020304u);
    EXPECT_EQ(CDataReader::ReadBigEndian64(bytes), 0x01020304F5060708ull);
    struct Case {
        const char* text;
        bool xml;
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\"?>", true},
        {"\xEF\xBB\xBF<?xml version", true},
        {"<?xml\tversion", false},
        {"<?xmlversion", false},
        {"\xEF\xBB<?xml ", false},
        {" <?xml ", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CDataReader::IsXmlText(c.text), c.xml) << c.text;
    EXPECT_FALSE(CDataReader::IsXmlText(nullptr));
}

// Side-car metadata files, as the sender writes them beside a clip.

namespace
{

std::string SideCar(const std::string& general, const std::string& clip)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Korvo_Metadatas>\n<General_Infos><Parvex_File_Infos>" +
           general + "</Parvex_File_Infos></General_Infos>\n<Clips_Infos><Clip><Parvex_Clip_Infos>" + clip +
           "</Parvex_Clip_Infos></Clip></Clips_Infos>\n</Korvo_Metadatas>\n";
}

// The hexadecimal text of a stamp as the file carries it: the packed bytes in reverse order.
std::string StampText(const TcDate& date)
{
    uint8_t packed[8];
    date.Pack(false, packed);
    char text[17];
    for (int i = 0; i < 8; ++i)
        std::snprintf(text + 2 * i, 3, "%02X", packed[i]);
    return text;
}

}  // namespace

TEST(DataReaderSideCar, ReadsTheValuesAndMovesTheStampsToTheShortIn)
{
    const auto dir = FreshDir("sidecar-full");
    WriteWholeFile(dir / "clip.mxf", kData);
    const TcDate ltc(0, 2024, 3, 1, 10, 0, 0, 0);
    const TcDate user(0, 2024, 3, 1, 1, 0, 0, 0);
    WriteWholeFile(
        dir / "clip.korvo.xml",
        SideCar("<Rix_Offset_TC>-250</Rix_Offset_TC><Rix_IN>1000</Rix_IN><Rix_Duration>500</Rix_Duration>",
                "<Rix_Short_IN>1100</Rix_Short_IN><Rix_Short_IN_LTC>" + StampText(ltc) +
                    "</Rix_Short_IN_LTC><Rix_Short_IN_UserTC>0x" + StampText(user) + "</Rix_Short_IN_UserTC>"));
    TestReader reader(4096);
    ASSERT_EQ(reader.ReopenSource((dir / "clip.mxf").c_str(), 1), 0);
    EXPECT_EQ(reader.GetOffsetTC(), -250);
    EXPECT_EQ(reader._nSideCarIn, 750);
    EXPECT_EQ(reader._nSideCarDuration, 500);
    TcDate expectedLtc = ltc;
    expectedLtc.SubtractFields(100);
    TcDate expectedUser = user;
    expectedUser.SubtractFields(100);
    EXPECT_EQ(reader._nLtcInStamp, expectedLtc.GetPacked());
    EXPECT_EQ(reader._nUserTcInStamp, expectedUser.GetPacked());
    TcDateFields fields;
    expectedLtc.GetDateTime(fields);
    EXPECT_EQ(fields.nHours, 9);
    EXPECT_EQ(fields.nMinutes, 59);
    EXPECT_EQ(fields.nSeconds, 58);
}

TEST(DataReaderSideCar, PartialAndMissingFiles)
{
    struct Case {
        const char* name;
        std::string source;   // relative to the folder
        std::string sidecar;  // relative to the folder; empty: none
        std::string text;
        int64_t offset;
        int32_t in;
        int32_t duration;
        bool ltcKnown;
    };
    const std::string anyLtc = "<Rix_Short_IN_LTC>0000000000000000</Rix_Short_IN_LTC>";
    const Case cases[] = {
        // Without the short in point the in point stays as written and the stamps unknown.
        {"no-short-in", "a.mxf", "a.korvo.xml",
         SideCar("<Rix_Offset_TC>5</Rix_Offset_TC><Rix_IN>1000</Rix_IN>", anyLtc), 5, 1000, -1, false},
        {"no-file", "b.mxf", "", "", -1, -1, -1, false},
        {"not-xml", "c.mxf", "c.korvo.xml", "garbage", -1, -1, -1, false},
        {"no-dot", "noext", "noext.korvo.xml", SideCar("<Rix_Duration>12</Rix_Duration>", ""), -1, -1, 12, false},
        // The last dot is taken wherever it lies: here in the folder's name.
        {"dot-in-folder", "v1.d/clip", "v1.korvo.xml", SideCar("<Rix_IN>7</Rix_IN>", ""), -1, 7, -1, false},
        {"not-numbers", "e.mxf", "e.korvo.xml", SideCar("<Rix_Offset_TC>x</Rix_Offset_TC><Rix_IN></Rix_IN>", ""), -1,
         -1, -1, false},
        // The offset's unknown marker is added when the file lacks it.
        {"no-offset", "f.mxf", "f.korvo.xml",
         SideCar("<Rix_IN>100</Rix_IN>", "<Rix_Short_IN>100</Rix_Short_IN>" + anyLtc), -1, 99, -1, true},
    };
    for (const Case& c : cases) {
        const auto dir = FreshDir(std::string("sidecar-") + c.name);
        std::filesystem::create_directories((dir / c.source).parent_path());
        WriteWholeFile(dir / c.source, kData);
        if (!c.sidecar.empty())
            WriteWholeFile(dir / c.sidecar, c.text);
        TestReader reader(4096);
        ASSERT_EQ(reader.ReopenSource((dir / c.source).c_str(), 1), 0) << c.name;
        EXPECT_EQ(reader.GetOffsetTC(), c.offset) << c.name;
        EXPECT_EQ(reader._nSideCarIn, c.in) << c.name;
        EXPECT_EQ(reader._nSideCarDuration, c.duration) << c.name;
        EXPECT_EQ(reader._nLtcInStamp != CDataReader::kUnknownStamp, c.ltcKnown) << c.name;
        EXPECT_EQ(reader._nUserTcInStamp, CDataReader::kUnknownStamp) << c.name;
    }
}
