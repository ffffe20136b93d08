#pragma once
// Compositions for the sender's tests, written through libTolvenc.so as the editing system writes them, and the
// composition mob opened again as the transfer service hands it to the sender.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/Playlist.h"
#include "outside/qo/Playback/Sender.h"
#include "outside/tessan/MediaFolder.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "platform/Paths.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/parvex/CMXF_Parvex_AudioDataReader.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "reading/parvex/CParvexVideoDataReader.h"
#include "sender/DornCodecFrames.h"
#include "tests/sender/SenderTestMedia.h"

namespace sendertest
{

struct CompositionSpec {
    int32_t duration = 10;
    int32_t standard = Qo::Generic::kVideoStandard25Hz;
    int32_t rate = 25;
    int32_t soundWidth = 24;
    std::vector<int32_t> tracks{0, 1, 2};
    std::vector<std::string> compressors{"Mirel::MPEG2::50"};
    std::string name = "Sequence 1";
    std::string tapeId = "TAPE01";
    std::map<std::string, std::string> targets;  // "TGT-" user attributes
    std::map<std::string, std::string> plain;    // attributes without a category
    // The start timecode; none: 10:00:00:00 at the rate, drop-frame at 30.
    std::optional<Qo::Generic::TimeCode> start;
};

// libBlackFrames.so where the sender looks for it: in the library folder.
inline void InstallBlackFrames()
{
    const std::filesystem::path link = platform::LibraryDir() / "libBlackFrames.so";
    std::error_code ec;
    std::filesystem::create_directories(link.parent_path(), ec);
    if (!std::filesystem::exists(link, ec))
        std::filesystem::create_symlink(KORVO_BLACKFRAMES_LIBRARY, link, ec);
}

inline void WriteComposition(const std::string& path, const CompositionSpec& layout)
{
    using namespace Qo::Generic;
    HelperIF* helper = CreateHelper(kContainerAAF);
    ContainerBuffer* buffer = helper->NewContainerBuffer(0, 0);
    ContainerIF* container = helper->OpenNewContainer(buffer, 0, 3);
    Playlist playlist;
    for (int32_t track : layout.tracks) {
        auto* file = dynamic_cast<FileMobIF*>(container->CreateMob(kFileMob));
        if (track > 0)
            file->SetSampleWidth(layout.soundWidth);
        playlist.AddTrack(track).AddSegment(Segment(file->GetMobID(), layout.duration));
        container->ReleaseMob(file);
    }
    auto* composition = dynamic_cast<CompositionMobIF*>(container->CreateMob(kCompositionMob));
    composition->SetName(layout.name.c_str());
    composition->SetTapeID(layout.tapeId.c_str());
    composition->SetDuration(layout.duration);
    composition->SetVideoStandard(layout.standard);
    composition->SetStartTimeCode(layout.start ? *layout.start : TimeCode(layout.rate, layout.rate == 30, 10, 0, 0, 0));
    for (const std::string& name : layout.compressors)
        composition->AddCompressorName(name.c_str());
    for (const auto& [key, value] : layout.targets)
        composition->SetAttribute("_USER", key.c_str(), value.c_str());
    for (const auto& [key, value] : layout.plain)
        composition->SetAttribute(key.c_str(), value.c_str());
    composition->SetPlaylist(playlist);
    container->ReleaseMob(composition);
    helper->ReturnContainer(container);
    buffer->WriteToFile(path.c_str());
    DeleteHelper(helper);
}

// The composition mob of a composition file, open for as long as the object lives.
class OpenedComposition
{
public:
    explicit OpenedComposition(const std::string& path)
    {
        using namespace Qo::Generic;
        _helper = CreateHelper(path.c_str());
        ContainerBuffer* buffer = _helper ? _helper->BufferFromFile(path.c_str()) : nullptr;
        _container = buffer ? _helper->OpenContainer(buffer, kOpenRead) : nullptr;
        if (!_container)
            return;
        std::vector<MobID> ids = _container->GetCompositionMobIDs(true);
        _mob = ids.empty() ? nullptr : _container->OpenMob(ids.front());
    }
    ~OpenedComposition()
    {
        if (_mob)
            _container->ReleaseMob(_mob);
        if (_container)
            _helper->ReturnContainer(_container);
        if (_helper)
            Qo::Generic::DeleteHelper(_helper);
    }
    OpenedComposition(const OpenedComposition&) = delete;
    OpenedComposition& operator=(const OpenedComposition&) = delete;

    Qo::Generic::CompositionMobIF* Get() const { return dynamic_cast<Qo::Generic::CompositionMobIF*>(_mob); }

private:
    Qo::Generic::HelperIF* _helper = nullptr;
    Qo::Generic::ContainerIF* _container = nullptr;
    Qo::Generic::MobIF* _mob = nullptr;
};

// Every picture and sample of a Parvex clip file equals what was sent.
inline void ExpectParvexClip(const std::string& path, const std::vector<std::string>& frames, int channels, int bits,
                             uint32_t blockSize = 0)
{
    CMXF_Parvex_FileReader file("");
    ASSERT_EQ(file.Open(path), 0u) << path;
    CMXF_Parvex_ClipInfo info;
    int indexed = 0;
    ASSERT_EQ(file.GetHeaderData(&info, 1, &indexed), 0);
    file.Close();
    EXPECT_EQ(info._nOut - info._nIn, 2 * frames.size());
    if (blockSize != 0)
        EXPECT_EQ(info._nBlockSize, blockSize);

    CParvexVideoDataReader video("", true, true);
    ASSERT_EQ(video.AttachSourceReader(CreateSourceReader(path.c_str(), 0, 0, ""), 1), 0);
    for (size_t i = 0; i < frames.size(); ++i) {
        uint8_t* data = nullptr;
        uint32_t size = 0;
        ASSERT_EQ(video.GetNextData(&data, 0, &size, nullptr), 0) << i;
        const auto* bytes = reinterpret_cast<const uint8_t*>(frames[i].data());
        const uint32_t used = dorncodec::TrimmedLength(bytes, static_cast<uint32_t>(frames[i].size()));
        ASSERT_GE(size, used);
        ASSERT_EQ(0, std::memcmp(data, bytes, used)) << i;
    }
    if (channels == 0)
        return;
    CMXF_Parvex_AudioDataReader audio("");
    ASSERT_EQ(audio.AttachSourceReader(CreateSourceReader(path.c_str(), 0, 0, ""), 1), 0);
    Bytes buffer(0x800000), samples;
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    while (audio.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr) == 0)
        samples.insert(samples.end(), data, data + size);
    const Bytes expected =
        ServerSamples(static_cast<uint32_t>(frames.size()) * 1920, channels, channels <= 4 ? 4 : 8, bits);
    ASSERT_EQ(samples.size(), expected.size());
    EXPECT_TRUE(samples == expected);
}

// A media folder as an ingest leaves it: the pictures back to back, a WAV per audio track, the manifest.
inline void WriteMediaFolder(const std::filesystem::path& folder, const std::string& dataType,
                             const std::vector<std::string>& frames, const CompositionSpec& layout,
                             uint32_t samplesPerFrame)
{
    tessan::CMediaWriter media;
    ASSERT_TRUE(media.Open(folder.string(), dataType)) << media.Error();
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_TRUE(media.Add(0, reinterpret_cast<const uint8_t*>(frames[i].data()),
                              static_cast<uint32_t>(frames[i].size()), 1));
        media.Record({0, static_cast<uint32_t>(frames[i].size()), 1, 0});
        for (int32_t track : layout.tracks) {
            if (track == 0)
                continue;
            const Bytes audio =
                RampBytes(static_cast<uint32_t>(i) * samplesPerFrame, samplesPerFrame, track - 1, layout.soundWidth);
            ASSERT_TRUE(media.Add(track, audio.data(), static_cast<uint32_t>(audio.size()), samplesPerFrame));
            media.Record({track, static_cast<uint32_t>(audio.size()), samplesPerFrame, 0});
        }
    }
    ASSERT_TRUE(media.Close(0, true, static_cast<int64_t>(frames.size()), ""));
}

// A frame record as the transfer service hands it to the sender: the bytes are copied, the sender owns them.
inline Qo::Playback::FrameRecord Record(int32_t track, int32_t frame, const uint8_t* bytes, size_t size,
                                        uint32_t samples)
{
    Qo::Playback::FrameRecord record;
    record.track = track;
    record.frameNumber = frame;
    record.numSamples = samples;
    record.length = static_cast<uint32_t>(size);
    record.data = new uint8_t[size];
    std::memcpy(record.data, bytes, size);
    return record;
}

// A media folder as an ingest leaves it, each frame with the sound count samplesOf gives it: the pictures and, on
// tracks 1 to tracks, the source's samples in sequence. *total is the samples of each track in all.
inline void WriteCadencedMedia(const std::filesystem::path& folder, const std::string& dataType,
                               const std::vector<std::string>& frames, int frameCount, int tracks, int bits,
                               const std::function<uint32_t(int)>& samplesOf, uint32_t* total)
{
    tessan::CMediaWriter media;
    ASSERT_TRUE(media.Open(folder.string(), dataType)) << media.Error();
    uint32_t first = 0;
    for (int i = 0; i < frameCount; ++i) {
        const std::string& picture = frames[static_cast<size_t>(i)];
        ASSERT_TRUE(
            media.Add(0, reinterpret_cast<const uint8_t*>(picture.data()), static_cast<uint32_t>(picture.size()), 1));
        media.Record({0, static_cast<uint32_t>(picture.size()), 1, 0});
        const uint32_t samples = samplesOf(i);
        for (int t = 1; t <= tracks; ++t) {
            const Bytes audio = SourceBytes(first, samples, t - 1, bits);
            ASSERT_TRUE(media.Add(t, audio.data(), static_cast<uint32_t>(audio.size()), samples));
            media.Record({t, static_cast<uint32_t>(audio.size()), samples, 0});
        }
        first += samples;
    }
    *total = first;
    ASSERT_TRUE(media.Close(0, true, frameCount, ""));
}

}  // namespace sendertest
