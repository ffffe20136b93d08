#include "outside/tessan/PlayoutComposition.h"

#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/Playlist.h"
#include "outside/tessan/HelperPtr.h"
#include "outside/tessan/MediaFolder.h"

namespace tessan
{

std::string MakePlayoutComposition(const CIngestJob& job, int32_t frames, const std::string& pictureFile,
                                   const std::map<int32_t, int32_t>& audioBits, std::string& error)
{
    HelperPtr helper(Qo::Generic::CreateHelper(Qo::Generic::kContainerAAF));
    Qo::Generic::ContainerBuffer* buffer = helper ? helper->NewContainerBuffer(0, 0) : nullptr;
    Qo::Generic::ContainerIF* container = buffer ? helper->OpenNewContainer(buffer, 0, 3) : nullptr;
    if (!container) {
        error = "cannot make the playout composition";
        return "";
    }
    Qo::Generic::Playlist playlist;
    auto addFile = [&](int32_t track, const std::string& path, int32_t bits) {
        auto* file = dynamic_cast<Qo::Generic::FileMobIF*>(container->CreateMob(Qo::Generic::kFileMob));
        if (!file)
            return;
        file->SetMediaPath(path.c_str());
        file->SetStartTimeCode(job.StartTimeCode());
        file->SetDuration(frames);
        if (bits > 0)
            file->SetSampleWidth(bits);
        playlist.AddTrack(track).AddSegment(Qo::Generic::Segment(file->GetMobID(), frames));
        container->ReleaseMob(file);
    };
    addFile(0, pictureFile, 0);
    for (const auto& [track, bits] : audioBits)
        addFile(track, AudioName(track), bits);

    auto* composition =
        dynamic_cast<Qo::Generic::CompositionMobIF*>(container->CreateMob(Qo::Generic::kCompositionMob));
    if (composition) {
        composition->SetName(job.ClipName().c_str());
        composition->SetDuration(frames);
        composition->SetVideoStandard(job.VideoStandard());
        composition->SetStartTimeCode(job.StartTimeCode());
        composition->SetTapeID(job.Value("lookupname").c_str());
        composition->AddCompressorName(job.VideoCompression().c_str());
        composition->SetPlaylist(playlist);
        container->ReleaseMob(composition);
    }
    if (!helper->ReturnContainer(container) || !composition) {
        error = "cannot make the playout composition";
        return "";
    }
    return std::string(reinterpret_cast<const char*>(buffer->GetData()), buffer->GetSize());
}

}  // namespace tessan
