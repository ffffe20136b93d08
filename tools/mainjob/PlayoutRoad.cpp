// The playout road: the transfer service plays a composition of the ingested pictures out with the sender
// plug-in libDornsend.so to a Parvex clip file on a share (8 MB blocks); the clip file's pictures are then
// read back and compared with the source.
#include <cstring>
#include <string>

#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/Playlist.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "reading/framework/CSourceReader.h"
#include "reading/parvex/CParvexVideoDataReader.h"
#include "tools/mainjob/Road.h"

namespace mainjob
{
namespace
{

namespace fs = std::filesystem;

// A composition of the video track and the sound tracks of every frame, targeted at a share, written as the editing
// system does.
bool WriteComposition(const fs::path& path, const fs::path& share)
{
    using namespace Qo::Generic;
    HelperIF* helper = CreateHelper(kContainerAAF);
    if (!helper)
        return false;
    ContainerBuffer* buffer = helper->NewContainerBuffer(0, 0);
    ContainerIF* container = buffer ? helper->OpenNewContainer(buffer, 0, 3) : nullptr;
    bool ok = container != nullptr;
    if (ok) {
        Playlist playlist;
        for (uint32_t track = 0; track <= kTracks; ++track) {
            auto* file = dynamic_cast<FileMobIF*>(container->CreateMob(kFileMob));
            if (track > 0)
                file->SetSampleWidth(24);
            playlist.AddTrack(static_cast<int32_t>(track)).AddSegment(Segment(file->GetMobID(), kFrames));
            container->ReleaseMob(file);
        }
        auto* composition = dynamic_cast<CompositionMobIF*>(container->CreateMob(kCompositionMob));
        composition->SetName("MAINJOB PLAYOUT");
        composition->SetTapeID("MAINJOB");
        composition->SetDuration(kFrames);
        composition->SetVideoStandard(kVideoStandard25Hz);
        composition->SetStartTimeCode(TimeCode(25, false, 10, 0, 0, 0));
        composition->AddCompressorName("Mirel::MPEG2::50");
        for (const auto& [key, value] : {std::pair<const char*, std::string>{"TGT-Address", share.string()},
                                         {"TGT-Name", "Sequence"},
                                         {"TGT-Serial", "4242"},
                                         {"TGT-8MBBlocks", "1"},
                                         // The clip ids as automation gives them: without them the writer
                                         // makes two, a second apart, which would dwarf a 2 s clip's time.
                                         {"TGT-LouthIdMain", "MAINJOB1"},
                                         {"TGT-VarIdMain", "MAINJOB1"},
                                         {"TGT-LouthIdBackup", "MAINJOB2"},
                                         {"TGT-VarIdBackup", "MAINJOB2"}})
            composition->SetAttribute("_USER", key, value.c_str());
        composition->SetPlaylist(playlist);
        container->ReleaseMob(composition);
        helper->ReturnContainer(container);
        ok = buffer->WriteToFile(path.c_str());
    }
    DeleteHelper(helper);
    return ok;
}

// The length of a picture without the zero stuffing at its end, which the sender leaves out.
size_t WithoutStuffing(const Bytes& picture)
{
    size_t used = picture.size();
    while (used > 0 && picture[used - 1] == 0)
        --used;
    return used;
}

}  // namespace

void PlayoutRoad(Road& road, Media& media)
{
    const fs::path folder = media.work / "ingest";
    if (!HaveInput(road, media, fs::exists(folder / "manifest.xml"),
                   "no ingested media folder to play out (the automation road failed)"))
        return;
    const fs::path share = media.work / "share";
    const fs::path composition = media.work / "playout-composition.xml";
    fs::create_directories(share);
    if (!road.Check(WriteComposition(composition, share),
                    "a composition of the ingested pictures and sound written to " + composition.string()))
        return;
    tessan::CPlayoutTransfer playout(composition.string(), folder.string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    const tessan::TransferResult result = RunTransfer(road, [&playout] { return playout.Run(); });
    std::string clip;
    for (const auto& entry : fs::directory_iterator(share))
        if (entry.path().extension() == ".mxf")
            clip = entry.path().string();
    if (!road.Check(!clip.empty(),
                    clip.empty() ? "no clip file in " + share.string() : "the played-out clip file " + clip))
        return;
    road.Moved(static_cast<uint64_t>(result.frames), fs::file_size(clip));

    CParvexVideoDataReader video("", true, true);
    uint32_t same = 0;
    if (video.AttachSourceReader(CreateSourceReader(clip.c_str(), 0, 0, ""), 1) == 0)
        for (uint32_t f = 0; f < kFrames; ++f) {
            uint8_t* data = nullptr;
            uint32_t size = 0;
            if (video.GetNextData(&data, 0, &size, nullptr) != 0)
                break;
            const Bytes& source = media.imxPictures[f];
            const size_t used = WithoutStuffing(source);
            same += size >= used && std::memcmp(data, source.data(), used) == 0 ? 1 : 0;
        }
    road.Check(same == kFrames,
               "the clip file's reader gives " + std::to_string(same) + " pictures equal to the source");
    if (same == kFrames) {
        media.playoutPath = clip;
        media.playoutBlockMB = 8;
    }
}

}  // namespace mainjob
