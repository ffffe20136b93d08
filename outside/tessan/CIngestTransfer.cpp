#include "outside/tessan/CIngestTransfer.h"

#include <filesystem>
#include <memory>

#include "outside/qo/Generic/HelperIF.h"
#include "outside/tessan/DurableFile.h"
#include "outside/tessan/HelperPtr.h"
#include "outside/tessan/MediaFolder.h"
#include "outside/tessan/PlayoutComposition.h"

namespace tessan
{

CIngestTransfer::CIngestTransfer(CIngestJob job, std::string outFolder)
    : CTransfer("Recalo"), _job(std::move(job)), _strOut(std::move(outFolder))
{
}

TransferResult CIngestTransfer::Run()
{
    TransferResult result;
    result.expectedFrames = _job.Duration();
    _nFramesExpected = _job.Duration();
    std::string composition = _job.MakeComposition();
    if (composition.empty()) {
        result.hostText = _job.Error();
        return result;
    }
    HelperPtr helper(Qo::Generic::CreateHelper(Qo::Generic::kContainerAAF));
    Qo::Generic::ContainerBuffer* buffer =
        helper ? helper->BufferFromMemory(composition.data(), static_cast<uint32_t>(composition.size()), 0) : nullptr;
    if (!buffer) {
        result.hostText = "cannot hold the composition";
        return result;
    }
    if (!LoadPlugin(result))
        return result;
    auto create = reinterpret_cast<Qo::Ingest::CreateAPIFn>(Export("QoCreateAPI", "Create"));
    auto check = reinterpret_cast<Qo::Ingest::CheckAPIVersionFn>(Export("QoCheckAPIVersion", "CheckVersion"));
    auto destroy = reinterpret_cast<Qo::Ingest::DeleteAPIFn>(Export("QoDeleteAPI", "Delete"));
    auto version = reinterpret_cast<Qo::Ingest::GetReceiverVersionFn>(Export("GetReceiverVersion"));
    if (!create || !check || !destroy || !version) {
        result.hostText = "the plug-in lacks QoCreateAPI, QoCheckAPIVersion, QoDeleteAPI or GetReceiverVersion";
        return result;
    }

    // Create, check, then Open.
    if (!Guard(result, "QoCreateAPI", [&] { _receiver = create(); }) || !_receiver) {
        if (result.hostText.empty())
            result.hostText = "the plug-in made no receiver";
        return result;
    }
    int32_t receiverVersion = 0;
    int32_t checked = -1;
    bool compatible = Guard(result, "the version check", [&] {
        checked = check(kApiVersion);
        version(&receiverVersion);
    });
    if (compatible && (checked != 0 || receiverVersion != Qo::Ingest::kReceiverVersion)) {
        result.hostText = "incompatible receiver: version check " + std::to_string(checked) + ", interface version " +
                          std::to_string(receiverVersion);
        compatible = false;
    }
    if (compatible) {
        bool opened = false;
        int32_t openedFlag = 0;
        // A cancel reaches the receiver also while it opens: connecting to a silent server may take long.
        Attach();
        if (Guard(result, "Open", [&] { opened = _receiver->Open(buffer, &openedFlag); }) && !opened) {
            Guard(result, "GetErrorCode", [&] {
                result.code = _receiver->GetErrorCode();
                result.pluginText = _receiver->GetErrorText();
            });
            result.hostText = "the receiver did not open";
        }
        if (!opened)
            Detach();
        if (opened) {
            Pull(result);
            Guard(result, "Close", [&] { _receiver->Close(); });
            Guard(result, "GetErrorText", [&] { result.pluginText = _receiver->GetErrorText(); });
            Detach();
        }
    }
    Qo::Ingest::Receiver* receiver = _receiver;
    {
        std::lock_guard lock(_controlMutex);
        _receiver = nullptr;
    }
    Guard(result, "QoDeleteAPI", [&] { destroy(receiver); });

    result.cancelled = result.cancelled || CancelRequested();
    result.frames = _nFramesDone;
    result.complete = result.code == Qo::Ingest::kReceiveEndOfData && result.hostText.empty() && !result.cancelled;
    return result;
}

void CIngestTransfer::Pull(TransferResult& result)
{
    CMediaWriter media;
    if (!media.Open(_strOut, _job.Value("KorvoDataType"))) {
        result.hostText = media.Error();
        return;
    }
    std::vector<int32_t> tracks;
    Guard(result, "GetTrackList", [&] { tracks = _receiver->GetTrackList(); });
    if (tracks.empty() && result.hostText.empty())
        result.hostText = "the receiver has no tracks";
    // Recv until a non-zero code; the frames come in the order of the track list.
    for (uint64_t call = 0; result.hostText.empty(); ++call) {
        int32_t track = tracks[call % tracks.size()];
        Qo::Ingest::Frame* frame = nullptr;
        int32_t code = -1;
        if (!Guard(result, "Recv", [&] { code = _receiver->Recv(frame); }))
            break;
        result.code = code;
        ManifestCall entry{track, 0, 0, code};
        bool stored = true;
        if (frame) {
            Guard(result, "the frame", [&] {
                entry.size = frame->GetSize();
                entry.samples = frame->GetNumSamples();
                if (code == Qo::Ingest::kReceiveOk)
                    stored = media.Add(track, frame->GetData(), entry.size, entry.samples);
            });
            // Every frame goes back to its maker, whatever became of it.
            Guard(result, "Release", [&] { frame->Release(); });
        }
        media.Record(entry);
        if (code == Qo::Ingest::kReceiveCancelled)
            result.cancelled = true;
        if (code != Qo::Ingest::kReceiveOk)
            break;
        if (!frame) {
            result.hostText = "the receiver gave no frame with code 0";
            break;
        }
        if (!stored) {
            result.hostText = media.Error();
            break;
        }
        if (call % tracks.size() == 0)
            ++_nFramesDone;
    }
    int64_t frames = _nFramesDone;
    // The end of the data is the end of the clip only when every frame came.
    if (result.code == Qo::Ingest::kReceiveEndOfData && result.hostText.empty() && !result.cancelled &&
        !_job.IsLive() && frames != _job.Duration())
        result.hostText =
            "the receiver ended after " + std::to_string(frames) + " of " + std::to_string(_job.Duration()) + " frames";
    std::string text = result.hostText.empty() ? "" : result.hostText;
    Guard(result, "GetErrorText", [&] {
        if (text.empty())
            text = _receiver->GetErrorText();
    });
    bool complete = result.code == Qo::Ingest::kReceiveEndOfData && result.hostText.empty() && !result.cancelled;
    // The media first, then what plays it out again, and the manifest's record of completeness last: a
    // failure at any step leaves no claim of a complete clip.
    if (!media.CloseMedia() && result.hostText.empty()) {
        result.hostText = media.Error();
        complete = false;
    }
    std::string path = (std::filesystem::path(_strOut) / kCompositionName).string();
    if (complete) {
        std::string error;
        std::string composition =
            MakePlayoutComposition(_job, static_cast<int32_t>(frames), media.PictureName(), media.AudioBits(), error);
        if (composition.empty() || !WriteFileDurably(path, composition, error)) {
            result.hostText = error.empty() ? "cannot write " + path : error;
            complete = false;
        }
    }
    if (!media.WriteManifest(result.code, complete, frames, result.hostText.empty() ? text : result.hostText)) {
        if (result.hostText.empty())
            result.hostText = media.Error();
        complete = false;
    }
    // No composition stays beside media that are not whole, whoever wrote it.
    if (!complete) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
}

}  // namespace tessan
