#include "writers/op1a/CIMXMXFWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

#include "media/ImxFrames.h"
#include "media/MxfLabels.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "writers/formatdata/factory/FormatDataWriterFactory.h"
#include "writers/mediafile/PcmSample.h"

namespace
{
const uint8_t kUmidPrefix[16] = {0x06, 0x0A, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x05,
                                 0x01, 0x01, 0x0D, 0x43, 0x13, 0x00, 0x00, 0x00};

constexpr size_t kSystemSampleBytes = 1024;
constexpr size_t kPictureKeyOffset = 512;
constexpr size_t kPictureLengthOffset = 528;
constexpr size_t kPictureOffset = 532;
constexpr size_t kPartitionPackBytes = 124;  // key, 4-byte length, value with one essence container label
constexpr size_t kPartitionVariantByte = 122;
// Places inside the index table segment, counted from its key.
constexpr size_t kIndexSegmentBytes = 135;
constexpr size_t kIndexEditRate = 44;
constexpr size_t kIndexEditUnitBytes = 80;
constexpr size_t kIndexSoundDelta = 131;

std::vector<uint8_t> Be(uint64_t value, int bytes)
{
    std::vector<uint8_t> out(bytes);
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        out[i] = static_cast<uint8_t>(value);
    return out;
}

void PutBe(uint8_t* at, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        at[i] = static_cast<uint8_t>(value);
}

uint16_t Be16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::vector<uint8_t> Bytes(const uint8_t* data, size_t size)
{
    return std::vector<uint8_t>(data, data + size);
}

void PutBer4(uint8_t* at, uint32_t length)
{
    at[0] = 0x83;
    PutBe(at + 1, length, 3);
}

uint8_t Bcd(unsigned value)
{
    return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* data, size_t limit)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0)
        return false;
    in.seekg(0);
    data->resize(static_cast<size_t>(std::min<std::streamoff>(size, static_cast<std::streamoff>(limit))));
    in.read(reinterpret_cast<char*>(data->data()), static_cast<std::streamsize>(data->size()));
    return static_cast<size_t>(in.gcount()) == data->size();
}
}  // namespace

// The content package of each rate (30, 40, 50 Mb/s at 25 Hz, then at 29.97 Hz): its bytes and where its sound
// element starts.
const CIMXMXFWriter::SystemRow CIMXMXFWriter::kSystems[6] = {
    {212992, 151040, imx::kRates[0].nCodingVariant625}, {262656, 200704, imx::kRates[1].nCodingVariant625},
    {312832, 250880, imx::kRates[2].nCodingVariant625}, {177664, 125952, imx::kRates[0].nCodingVariant525},
    {219136, 167424, imx::kRates[1].nCodingVariant525}, {261120, 209408, imx::kRates[2].nCodingVariant525},
};

CIMXMXFWriter::CIMXMXFWriter(int audioSampleBits, const char* sampleFolder, uint32_t audioBufferBytes)
    : CDefaultMediaFileWriter(2)
{
    SetAudioSampleBits(audioSampleBits);
    if (sampleFolder)
        _szSampleFolder = sampleFolder;
    // Room for the frame's samples, what a short frame leaves over and a full next frame at least.
    _nAudioRows = std::max<size_t>(audioBufferBytes / 32, 4 * 1920);
    _audio.assign(_nAudioRows * 8, 0);
    std::memset(_materialUmid, 0, sizeof _materialUmid);
    std::memset(_sourceUmid, 0, sizeof _sourceUmid);
}

CIMXMXFWriter::~CIMXMXFWriter()
{
    if (_writer)
        Close();
}

void CIMXMXFWriter::SetAudioSampleBits(int bits)
{
    _nAudioBits = bits == 16 ? 16 : 24;
    _nChannels = bits == 16 ? 8 : 4;
}

uint32_t CIMXMXFWriter::Aes3Word16(float sample, int channel)
{
    const auto value = static_cast<uint16_t>(PcmFromFloat(sample, 16));
    return (static_cast<uint32_t>(value) << 12) | static_cast<uint32_t>(channel & 7);
}

uint32_t CIMXMXFWriter::Aes3Word24(float sample, int channel)
{
    const auto value = static_cast<uint32_t>(PcmFromFloat(sample, 24));
    return ((value & 0xFFFFFFu) << 4) | static_cast<uint32_t>(channel & 7);
}

int CIMXMXFWriter::SetPacingRate(int rate)
{
    _nPacingRate = rate > 0 ? rate : 0;
    return 0;
}

std::string CIMXMXFWriter::SamplePath(const char* name) const
{
    return platform::ToLocalPath(_szSampleFolder + name);
}

int CIMXMXFWriter::Open(const char* path)
{
    if (_writer)
        Close();
    _writer.reset(CreateDataWriter(path, 0x200000));
    if (!_writer) {
        Message(2, "CIMXMXFWriter::Open - Failed to create DataWriter !", kNoDataWriter);
        return kNoDataWriter;
    }
    if (_szSampleFolder.empty()) {
        auto folder = platform::Registry::GetString(platform::RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Common",
                                                    "MXF Samples Path");
        _szSampleFolder = folder ? folder->substr(0, 260) : ".\\";
    }
    if (_szSampleFolder.back() != '\\' && _szSampleFolder.back() != '/')
        _szSampleFolder += '\\';
    return 0;
}

void CIMXMXFWriter::FillHeaderPatches()
{
    const bool is625 = _nSystem < 3;
    const uint8_t variant = kSystems[_nSystem].variant;
    const std::vector<uint8_t> container = Join({Bytes(mxf::kD10ContainerPrefix, 14), {variant, 0x01}});
    const std::vector<uint8_t> coding = Join({Bytes(mxf::kImxCodingPrefix, 15), {variant}});
    const std::vector<uint8_t> rate = is625 ? Join({Be(25, 4), Be(1, 4)}) : Join({Be(30000, 4), Be(1001, 4)});
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::vector<uint8_t> date =
        Join({Be(static_cast<uint64_t>(local.tm_year + 1900), 2),
              {static_cast<uint8_t>(local.tm_mon + 1), static_cast<uint8_t>(local.tm_mday),
               static_cast<uint8_t>(local.tm_hour), static_cast<uint8_t>(local.tm_min),
               static_cast<uint8_t>(local.tm_sec), 0}});
    ClearPatches();
    FillClosePatches();
    SetPatch(0x3B0A, Join({Be(1, 4), Be(16, 4), container}));
    SetPatch(0x3004, container);
    SetPatch(0x3201, coding);
    for (uint16_t tag : {0x3B02, 0x3C06, 0x4405, 0x4404})
        SetPatch(tag, date);
    SetPatch(0x3C01, {0x00, 'K', 0x00, 'V', 0x00, 'O', 0x00, ' '});
    SetPatch(0x3C02, {0x00, 0x4D, 0x00, 0x58, 0x00, 0x43, 0x00, 0x20});
    SetPatch(0x1501, Be(_start.GetFrameCount(), 8));
    SetPatch(0x4B01, rate);
    SetPatch(0x3001, rate);
    SetPatch(0x1502, Be(is625 ? 25 : 30, 2));
    SetPatch(0x1503, {static_cast<uint8_t>(_start.IsDropFrame() ? 1 : 0)});
    // Heights of one field.
    SetPatch(0x3202, Be(imx::CodedLines(is625) / 2, 4));
    SetPatch(0x3204, Be(imx::CodedLines(is625) / 2, 4));
    SetPatch(0x3208, Be(imx::DisplayedLines(is625) / 2, 4));
    SetPatch(0x320B, Be(is625 ? 16 : 13, 4));
    SetPatch(0x320D, Join({Be(2, 4), Be(4, 4), Be(7, 4), Be(is625 ? 320 : 270, 4)}));
    SetPatch(0x3210, Bytes(is625 ? mxf::kTransferBt470 : mxf::kTransferBt709, 16));
    SetPatch(0x3D07, Be(static_cast<uint64_t>(_nChannels), 4));
    SetPatch(0x3D01, Be(static_cast<uint64_t>(_nAudioBits), 4));
}

void CIMXMXFWriter::FillClosePatches()
{
    SetPatch(0x0202, Be(_nFramesWritten, 8));
    SetPatch(0x320E, _nAspect == 3 ? Join({Be(16, 4), Be(9, 4)}) : Join({Be(4, 4), Be(3, 4)}));
}

bool CIMXMXFWriter::OnLocalSet(const uint8_t* key, uint8_t* value, size_t length)
{
    if (!_bHeaderPass)
        return true;
    size_t itemLength = 0;
    uint8_t* instance = FindItem(value, length, 0x3C0A, &itemLength);
    if (!instance)
        return true;
    if (itemLength != 16)
        return Fail("InstanceUID of a length other than 16");

    auto fresh = [&]() -> const TimeUUID& {
        TimeUUID uuid;
        if (!CreateTimeUUID(&uuid))
            _bNoIdentifier = true;
        _uids.push_back(uuid);
        return _uids.back();
    };
    bool ok = true;
    auto entry = [&](size_t index) -> const uint8_t* {
        if (index >= _uids.size()) {
            ok = false;
            return nullptr;
        }
        return _uids[index].bytes;
    };
    auto setInstance = [&](const uint8_t* id) {
        if (id)
            std::memcpy(instance, id, 16);
    };
    // Writes id into the item (offset 0) or into batch entry n (after the 8-byte batch header);
    // false ends the set's handling when the item is missing or too short.
    auto put = [&](uint16_t tag, const uint8_t* id, int entryIndex, size_t size) {
        size_t got = 0;
        uint8_t* item = FindItem(value, length, tag, &got);
        const size_t at = entryIndex < 0 ? 0 : 8 + static_cast<size_t>(entryIndex) * size;
        if (!item || !id || got < at + size)
            return false;
        std::memcpy(item + at, id, size);
        return true;
    };
    auto umid = [&](uint8_t* out) {
        TimeUUID material;
        if (!CreateTimeUUID(&material))
            _bNoIdentifier = true;
        std::memcpy(out, kUmidPrefix, 16);
        std::memcpy(out + 16, material.bytes, 16);
    };

    switch (key[14]) {
        case 0x2F:  // Preface
            setInstance(fresh().bytes);
            fresh();
            fresh();
            put(0x3B06, entry(1), 0, 16) && put(0x3B03, entry(2), -1, 16);
            break;
        case 0x30:  // Identification
            setInstance(entry(1));
            put(0x3C09, entry(1), -1, 16);
            break;
        case 0x18: {  // ContentStorage
            setInstance(entry(2));
            fresh();
            fresh();
            if (put(0x1901, entry(3), 0, 16) && put(0x1901, entry(4), 1, 16)) {
                fresh();
                put(0x1902, entry(5), 0, 16);
            }
            break;
        }
        case 0x23:  // EssenceContainerData
            setInstance(entry(5));
            umid(_sourceUmid);
            put(0x2701, _sourceUmid, -1, 32);
            break;
        case 0x36:  // MaterialPackage
            setInstance(entry(3));
            umid(_materialUmid);
            if (put(0x4401, _materialUmid, -1, 32)) {
                _nTrackCounter = _uids.size();
                for (int i = 0; i < 3; ++i)
                    fresh();
                for (int i = 0; i < 3; ++i)
                    put(0x4403, entry(_nTrackCounter + static_cast<size_t>(i)), i, 16);
            }
            break;
        case 0x3B:  // Track
            setInstance(entry(_nTrackCounter++));
            put(0x4803, fresh().bytes, -1, 16);
            break;
        case 0x0F:  // Sequence
            setInstance(_uids.empty() ? nullptr : _uids.back().bytes);
            put(0x1001, fresh().bytes, 0, 16);
            break;
        case 0x14:  // TimecodeComponent
            setInstance(_uids.empty() ? nullptr : _uids.back().bytes);
            break;
        case 0x11: {  // SourceClip
            setInstance(_uids.empty() ? nullptr : _uids.back().bytes);
            size_t got = 0;
            uint8_t* package = FindItem(value, length, 0x1101, &got);
            static const uint8_t zero[32] = {};
            if (package && got == 32 && std::memcmp(package, zero, 32) != 0)
                std::memcpy(package, _sourceUmid, 32);
            break;
        }
        case 0x37:  // SourcePackage
            setInstance(entry(4));
            if (put(0x4401, _sourceUmid, -1, 32)) {
                _nTrackCounter = _uids.size();
                for (int i = 0; i < 4; ++i)
                    fresh();
                for (int i = 0; i < 3; ++i)
                    put(0x4403, entry(_nTrackCounter + static_cast<size_t>(i)), i, 16);
                put(0x4701, entry(18), -1, 16);
            }
            break;
        case 0x44:  // MultipleDescriptor
            setInstance(entry(18));
            fresh();
            fresh();
            put(0x3F01, entry(19), 0, 16) && put(0x3F01, entry(20), 1, 16);
            break;
        case 0x28:  // CDCIEssenceDescriptor
            setInstance(entry(19));
            break;
        case 0x42:  // GenericSoundEssenceDescriptor
            setInstance(entry(20));
            break;
        default:
            break;
    }
    if (_bNoIdentifier)
        return Fail("no unique identifier could be made");
    if (!ok)
        return Fail("header metadata sets not in the expected order");
    return true;
}

bool CIMXMXFWriter::PatchHeader()
{
    size_t end = 0;
    if (!Walk(_header.data(), _header.size(), &end))
        return false;
    // The CBR index table segment right after the metadata, when the sample has one.
    if (_header.size() - end < sizeof mxf::kIndexTableSegment ||
        std::memcmp(_header.data() + end, mxf::kIndexTableSegment, 16) != 0)
        return true;
    size_t value = 0;
    uint64_t length = 0;
    uint8_t* segment = _header.data() + end;
    if (!ParseKlv(_header.data(), _header.size(), end, &value, &length) || value != end + 20 ||
        length + 20 < kIndexSegmentBytes || Be16(segment + kIndexEditRate - 4) != 0x3F0B ||
        Be16(segment + kIndexEditRate - 2) != 8 || Be16(segment + kIndexEditUnitBytes - 4) != 0x3F05 ||
        Be16(segment + kIndexEditUnitBytes - 2) != 4 || Be16(segment + 105) != 0x3F09 || Be16(segment + 109) != 0 ||
        Be16(segment + 111) < 3 || Be16(segment + 115) != 6)
        return Fail("index table segment not in the expected layout");
    const bool is625 = _nSystem < 3;
    PutBe(segment + kIndexEditRate, is625 ? 25 : 30000, 4);
    PutBe(segment + kIndexEditRate + 4, is625 ? 1 : 1001, 4);
    PutBe(segment + kIndexEditUnitBytes, kSystems[_nSystem].editUnit, 4);
    PutBe(segment + kIndexSoundDelta, kSystems[_nSystem].soundOffset, 4);
    return true;
}

int CIMXMXFWriter::Begin(const MediaWriterClipInfo& info)
{
    _nAspect = info.aspectCode;
    if (!_writer)
        return kNotOpen;
    const int index = static_cast<int>(info.videoBitRate / 10000000) - (info.standardCode == 3 ? 3 : 0);
    if (info.videoBitRate % 10000000 != 0 || index < 0 || index > 5 || (info.standardCode == 3) != (index < 3)) {
        Message(2, "CIMXMXFWriter: Unsupported video bit rate !", kUnsupportedRate);
        return kUnsupportedRate;
    }
    _nSystem = index;
    // D-10 sound elements carry 8 channels: 16-bit sound describes all of them, 24-bit sound 4 unless the clip
    // has more (the descriptor must name every channel that carries sound).
    _nChannels = _nAudioBits == 16 || info.audioChannels > 4 ? 8 : 4;
    _bChannelsCut = false;
    const bool is625 = index < 3;
    _nVideoBytes = imx::RoundedFrameSize(info.videoBitRate, is625);
    const SystemRow& row = kSystems[index];

    std::vector<uint8_t> header;
    if (!ReadFile(SamplePath("IMX_Header.MXF"), &header, 64u << 20)) {
        Message(2, "CIMXMXFWriter: FAILED to Open IMX_Header !", kHeaderSampleFailed);
        return kHeaderSampleFailed;
    }
    std::vector<uint8_t> system;
    if (!ReadFile(SamplePath("IMX_System.MXF"), &system, kSystemSampleBytes)) {
        Message(2, "CIMXMXFWriter: FAILED to Open IMX_System !", kSystemSampleFailed);
        return kSystemSampleFailed;
    }
    if (system.size() < kSystemSampleBytes || std::memcmp(system.data(), mxf::kSystemItem, 16) != 0) {
        Message(2, "CIMXMXFWriter: Corrupted System File ?!", kSystemSampleFailed);
        return kSystemSampleFailed;
    }
    // The partition pack must hold the places patched below: footer offset and the first container label.
    if (header.size() < 512 || std::memcmp(header.data(), mxf::kPartitionPrefix, 13) != 0 || header[16] != 0x83 ||
        (static_cast<size_t>(header[17]) << 16 | header[18] << 8 | header[19]) + 20 < kPartitionPackBytes) {
        Message(2, "CIMXMXFWriter: Corrupted Header File ?!", kCorruptedHeader);
        return kCorruptedHeader;
    }

    _nPackageSize = row.editUnit;
    _package = platform::MakePageBuffer(_nPackageSize);
    _nFramesWritten = 0;
    _nContinuity = 0;
    _nBytesWritten = 0;
    _start = info.startTimecode != CTimeCode() ? info.startTimecode : CTimeCode(0u, is625 ? 3u : 4u);
    _current = _start;
    if (info.standardCode == 3 || info.standardCode == 6) {
        _cadence[0] = 1920;
        _nCadenceLength = 1;
    } else {
        const int steps[5] = {1602, 1601, 1602, 1601, 1602};
        std::copy(steps, steps + 5, _cadence);
        _nCadenceLength = 5;
    }
    _nCadencePos = 0;
    _nBuffered = 0;

    _header = std::move(header);
    PutBe(_header.data() + 44, 0, 8);
    _header[kPartitionVariantByte] = row.variant;
    _uids.clear();
    _nTrackCounter = 6;
    _bHeaderPass = true;
    _bNoIdentifier = false;
    FillHeaderPatches();
    const bool patched = PatchHeader();
    _bHeaderPass = false;
    if (_bNoIdentifier) {
        Message(2, "CIMXMXFWriter: FAILED to make unique identifiers (identifier lock not had) !", kNoIdentifier);
        return kNoIdentifier;
    }
    if (!patched || !_package) {
        Message(2, "CIMXMXFWriter: Corrupted Header File ?!", kCorruptedHeader);
        Message(2, LastError(), kCorruptedHeader);
        return kCorruptedHeader;
    }

    uint32_t written = 0;
    int result = _writer->WriteData(_header.data(), static_cast<uint32_t>(_header.size()), &written);
    _nBytesWritten = written;
    if (result != 0 || written != _header.size()) {
        Message(2, "CIMXMXFWriter: FAILED to Write the header !", result != 0 ? result : -1);
        return result != 0 ? result : -1;
    }

    uint8_t* package = _package.get();
    std::memcpy(package, system.data(), kSystemSampleBytes);
    package[21] = is625 ? 4 : 7;
    package[41] = row.variant;
    std::memcpy(package + kPictureKeyOffset, mxf::kD10PictureElement, 16);
    std::memcpy(package + row.soundOffset, mxf::kD10SoundElement, 16);
    _bBegun = true;
    if (_nPacingRate > 0) {
        _bTimerArmed = true;
        _deadline = std::chrono::steady_clock::now();
        Pace(_header.size());
    }
    return 0;
}

void CIMXMXFWriter::Pace(uint64_t bytes)
{
    // The rate is in units of 100,000 bits per second.
    const auto due =
        std::chrono::nanoseconds(static_cast<int64_t>(bytes * 80000ull / static_cast<uint64_t>(_nPacingRate)));
    std::this_thread::sleep_until(
        std::min(_deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(2500)));
    _deadline = std::max(_deadline, std::chrono::steady_clock::now() - std::chrono::seconds(1)) +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(due);
}

void CIMXMXFWriter::Interleave(const float* const* channelSamples, int sampleCount, int channelCount, int needed)
{
    const int channels = std::min(channelCount, _nChannels);
    if (channelCount > _nChannels && !_bChannelsCut) {
        Message(1, "CIMXMXFWriter: more sound channels than the clip was begun with, the rest dropped", channelCount);
        _bChannelsCut = true;
    }
    const bool silent = !channelSamples || channels <= 0 || sampleCount <= 0;
    auto word = [&](float sample, int channel) {
        return _nAudioBits == 16 ? Aes3Word16(sample, channel) : Aes3Word24(sample, channel);
    };
    auto silentRow = [&](size_t row) {
        for (int c = 0; c < 8; ++c)
            _audio[row * 8 + c] = static_cast<uint32_t>(c);
    };
    const size_t room = _nAudioRows - _nBuffered;
    if (silent) {
        const size_t rows = std::min<size_t>(needed > 0 ? static_cast<size_t>(needed) : 0, room);
        for (size_t r = 0; r < rows; ++r)
            silentRow(_nBuffered + r);
        _nBuffered += rows;
        return;
    }
    size_t count = static_cast<size_t>(sampleCount);
    if (count > room) {
        Message(1, "CIMXMXFWriter: audio buffer full, samples dropped", static_cast<int>(count - room));
        count = room;
    }
    // Rows still missing for this frame once the given samples are in; spread among them as the mean of
    // two neighbours when there are enough samples to space them, else silence after the samples.
    size_t missing = 0;
    if (_nBuffered + count < static_cast<size_t>(needed))
        missing = std::min(static_cast<size_t>(needed) - _nBuffered - count, room - count);
    const size_t spacing = missing > 0 && count > missing ? count / (missing + 1) : 0;
    size_t row = _nBuffered;
    size_t inserted = 0;
    for (size_t i = 0; i < count; ++i) {
        if (spacing > 0 && inserted < missing && i == (inserted + 1) * spacing) {
            for (int c = 0; c < 8; ++c) {
                const float mean = c < channels ? (channelSamples[c][i - 1] + channelSamples[c][i]) * 0.5f : 0.0f;
                _audio[row * 8 + c] = c < channels ? word(mean, c) : static_cast<uint32_t>(c);
            }
            ++row;
            ++inserted;
        }
        for (int c = 0; c < 8; ++c)
            _audio[row * 8 + c] = c < channels ? word(channelSamples[c][i], c) : static_cast<uint32_t>(c);
        ++row;
    }
    for (; inserted < missing; ++inserted)
        silentRow(row++);
    _nBuffered = row;
}

int CIMXMXFWriter::AddFrame(const uint8_t* video, uint32_t videoLength, const float* const* channelSamples,
                            int sampleCount, int channelCount)
{
    if (!_bBegun)
        return kNotBegun;
    const int needed = _cadence[_nCadencePos];
    Interleave(channelSamples, sampleCount, channelCount, needed);
    const int take = static_cast<int>(std::min<size_t>(_nBuffered, static_cast<size_t>(needed)));
    int result = WriteIMXFrame(video, videoLength, _audio.data(), take);
    if (result == 0) {
        std::memmove(_audio.data(), _audio.data() + static_cast<size_t>(take) * 8,
                     (_nBuffered - static_cast<size_t>(take)) * 8 * sizeof(uint32_t));
        _nBuffered -= static_cast<size_t>(take);
        _nCadencePos = (_nCadencePos + 1) % _nCadenceLength;
    }
    return result;
}

int CIMXMXFWriter::WriteIMXFrame(const uint8_t* video, uint32_t videoLength, const uint32_t* interleavedAudio,
                                 int sampleCount)
{
    if (!_bBegun || !_writer)
        return kNotBegun;
    const SystemRow& row = kSystems[_nSystem];
    const bool is625 = _nSystem < 3;
    // The picture must be an MPEG-2 frame: its sequence header carries the aspect ratio patched below.
    if (!video || videoLength < 12 || video[0] != 0 || video[1] != 0 || video[2] != 1 || video[3] != 0xB3) {
        Message(2, "CIMXMXFWriter: picture without an MPEG-2 sequence header refused !", kBadPicture);
        return kBadPicture;
    }
    const size_t soundBytes = static_cast<size_t>(sampleCount) * 32 + 4;
    if (sampleCount < 0 || (sampleCount > 0 && !interleavedAudio) ||
        row.soundOffset + 20 + soundBytes + 20 > row.editUnit) {
        Message(2, "CIMXMXFWriter: sound sample count does not fit the content package !", kBadSound);
        return kBadSound;
    }
    uint8_t* package = _package.get();
    PutBe(package + 25, _nContinuity, 2);
    uint16_t hours = 0, minutes = 0, seconds = 0, frames = 0;
    _current.GetHMSF(hours, minutes, seconds, frames);
    package[61] = static_cast<uint8_t>(Bcd(frames) | (_current.IsDropFrame() ? 0x40 : 0));
    package[62] = Bcd(seconds);
    package[63] = Bcd(minutes);
    package[64] = Bcd(hours);
    PutBer4(package + kPictureLengthOffset, _nVideoBytes);

    uint8_t* picture = package + kPictureOffset;
    const uint32_t copy = std::min(videoLength, _nVideoBytes);
    std::memcpy(picture, video, copy);
    std::memset(picture + copy, 0, _nVideoBytes - copy);
    picture[7] = static_cast<uint8_t>((_nAspect == 3 ? 3 : 2) << 4 | (picture[7] & 0x0F));
    for (uint32_t at = 17; at <= 128 && at + 8 <= copy; ++at) {
        if (picture[at] == 0 && picture[at + 1] == 0 && picture[at + 2] == 1 && picture[at + 3] == 0xB8) {
            _current.ToMpegGopTimeCode(picture + at + 4);
            break;
        }
    }

    size_t at = kPictureOffset + _nVideoBytes;
    std::memcpy(package + at, mxf::kFillKey, 16);
    PutBer4(package + at + 16, static_cast<uint32_t>(row.soundOffset - at - 20));

    uint8_t* sound = package + row.soundOffset;
    PutBer4(sound + 16, static_cast<uint32_t>(soundBytes));
    sound[20] = static_cast<uint8_t>(is625 ? 0 : (_nFramesWritten % 5) + 1);
    sound[21] = static_cast<uint8_t>(sampleCount);
    sound[22] = static_cast<uint8_t>(sampleCount >> 8);
    // Channel valid flags: one bit per channel that carries sound.
    sound[23] = static_cast<uint8_t>((1u << _nChannels) - 1);
    // AES3 words are little-endian in the element.
    uint8_t* words = sound + 24;
    for (size_t i = 0; i < static_cast<size_t>(sampleCount) * 8; ++i) {
        const uint32_t w = interleavedAudio[i];
        words[i * 4] = static_cast<uint8_t>(w);
        words[i * 4 + 1] = static_cast<uint8_t>(w >> 8);
        words[i * 4 + 2] = static_cast<uint8_t>(w >> 16);
        words[i * 4 + 3] = static_cast<uint8_t>(w >> 24);
    }
    at = row.soundOffset + 20 + soundBytes;
    std::memcpy(package + at, mxf::kFillKey, 16);
    PutBer4(package + at + 16, static_cast<uint32_t>(row.editUnit - at - 20));
    std::memset(package + at + 20, 0, row.editUnit - at - 20);

    if (_bTimerArmed)
        Pace(row.editUnit);
    uint32_t written = 0;
    int result = _writer->WriteData(package, row.editUnit, &written);
    _nBytesWritten += written;
    if (result != 0 || written != row.editUnit) {
        Message(2, "CIMXMXFWriter: FAILED to Write IMX Frame !!", result != 0 ? result : -1);
        return result != 0 ? result : -1;
    }
    ++_nContinuity;
    ++_nFramesWritten;
    _current.NextFrame();
    return 0;
}

int CIMXMXFWriter::Close()
{
    int result = 0;
    if (_writer && _bBegun) {
        const SystemRow& row = kSystems[_nSystem];
        std::vector<uint8_t> footer;
        bool footerWritten = false;
        const uint64_t footerOffset = _nBytesWritten;
        if (!ReadFile(SamplePath("IMX_Footer.MXF"), &footer, row.editUnit) || footer.size() < kPartitionPackBytes ||
            std::memcmp(footer.data(), mxf::kPartitionPrefix, 13) != 0 || footer[16] != 0x83) {
            Message(1, "CIMXMXFWriter: FAILED to Open IMX_Footer !", kFooterFailed);
            result = kFooterFailed;
        } else {
            PutBe(footer.data() + 28, footerOffset, 8);
            PutBe(footer.data() + 44, footerOffset, 8);
            footer[kPartitionVariantByte] = row.variant;
            uint32_t written = 0;
            int code = _writer->WriteData(footer.data(), static_cast<uint32_t>(footer.size()), &written);
            _nBytesWritten += written;
            if (code != 0 || written != footer.size()) {
                Message(2, "CIMXMXFWriter: FAILED to Write IMX_Footer !", code != 0 ? code : -1);
                result = code != 0 ? code : -1;
            } else {
                footerWritten = true;
            }
        }
        // The header names the footer only when there is one.
        PutBe(_header.data() + 44, footerWritten ? footerOffset : 0, 8);
        ClearPatches();
        FillClosePatches();
        if (!PatchHeader()) {
            Message(2, "CIMXMXFWriter: Corrupted Header File ?!", kCorruptedHeader);
            result = kCorruptedHeader;
        } else {
            uint32_t written = 0;
            int code = _writer->SeekPos64(0);
            if (code == 0)
                code = _writer->WriteData(_header.data(), static_cast<uint32_t>(_header.size()), &written);
            if (code != 0 || written != _header.size()) {
                Message(2, "CIMXMXFWriter: FAILED to rewrite the header !", code != 0 ? code : -1);
                result = code != 0 ? code : -1;
            }
        }
    }
    if (_writer) {
        int code = _writer->Close();
        if (code != 0 && result == 0)
            result = code;
    }
    ReleaseAll();
    return result;
}

void CIMXMXFWriter::ReleaseAll()
{
    _writer.reset();
    _header.clear();
    _header.shrink_to_fit();
    _package.reset();
    _uids.clear();
    _bBegun = false;
    _bTimerArmed = false;
    _nBuffered = 0;
}
