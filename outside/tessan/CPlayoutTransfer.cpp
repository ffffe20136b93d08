#include "outside/tessan/CPlayoutTransfer.h"

#include <algorithm>
#include <memory>

#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/ContainerIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MediaDescriptor.h"
#include "outside/qo/Generic/Playlist.h"
#include "outside/tessan/HelperPtr.h"
#include "outside/tessan/MediaFolder.h"

namespace tessan
{

namespace
{

constexpr int32_t kMaxAudioTrack = 8;
constexpr uint32_t kSamples25 = 1920;
constexpr uint32_t kSamples50 = 960;
// 48 kHz over 29.97 and 59.94 frames/s: five-frame cadences.
constexpr uint32_t kCadence2997[5] = {1602, 1601, 1602, 1601, 1602};
constexpr uint32_t kCadence5994[5] = {801, 801, 801, 801, 800};

// The sample width of the composition's sound, as its first audio file mob describes it; 0 when none does.
int32_t SoundWidth(Qo::Generic::CompositionMobIF* composition)
{
    Qo::Generic::Playlist* playlist = composition->GetPlaylist(0);
    Qo::Generic::ContainerIF* container = composition->GetContainer();
    if (!playlist || !container)
        return 0;
    for (int32_t number : playlist->GetTrackList()) {
        Qo::Generic::Track* track = nullptr;
        if (number < 1 || !playlist->GetTrack(number, track))
            continue;
        for (int32_t i = 0; Qo::Generic::Segment* segment = track->GetNthSegment(i); ++i) {
            Qo::Generic::MobIF* mob = container->OpenMob(segment->GetFileMobID());
            int32_t width = 0;
            if (auto* file = dynamic_cast<Qo::Generic::FileMobIF*>(mob))
                if (auto* sound = dynamic_cast<Qo::Generic::SoundDescriptor*>(file->GetMediaDescriptor()))
                    width = sound->GetSampleWidth();
            if (mob)
                container->ReleaseMob(mob);
            if (width > 0)
                return width;
        }
    }
    return 0;
}

std::vector<int32_t> TrackList(Qo::Generic::CompositionMobIF* composition)
{
    if (Qo::Generic::Playlist* playlist = composition->GetPlaylist(0))
        return playlist->GetTrackList();
    return {0};
}

}  // namespace

std::string CPlayoutTransfer::MediaShortfall(Qo::Generic::CompositionMobIF* composition, const CMediaReader& media)
{
    const int64_t duration = std::max(composition->GetDuration(), 0);
    Qo::Generic::TimeCode start;
    composition->GetStartTimeCode(start);
    for (int32_t track : TrackList(composition)) {
        if (track == 0) {
            const size_t pictures = media.PictureCount();
            if (pictures > 0 && pictures < static_cast<uint64_t>(duration))
                return "the media hold " + std::to_string(pictures) + " pictures, the composition " +
                       std::to_string(duration);
            continue;
        }
        const CWavReader* wav = track >= 1 && track <= kMaxAudioTrack ? media.Audio(track) : nullptr;
        if (!wav)
            continue;
        uint64_t needed = 0;
        for (int64_t frame = 0; frame < duration; ++frame)
            needed += CadenceSamples(composition->GetVideoStandard(), start.rate, frame);
        // At 29.97 Hz the ingest's own cadence of 8008 samples per 5 frames may end a few samples short of this
        // one; the playout sends what is left as a short last frame.
        constexpr uint64_t kCadenceSlack = 4;
        if (wav->Samples() + kCadenceSlack < needed)
            return "audio track " + std::to_string(track) + " holds " + std::to_string(wav->Samples()) +
                   " samples, the composition needs " + std::to_string(needed);
    }
    return {};
}

CPlayoutTransfer::CPlayoutTransfer(std::string compositionPath, std::string mediaFolder)
    : CTransfer("Dornsend"), _strComposition(std::move(compositionPath)), _strMedia(std::move(mediaFolder))
{
}

uint32_t CPlayoutTransfer::CadenceSamples(int32_t videoStandard, int32_t rate, int64_t frame)
{
    bool progressive = rate == 50 || rate == 60;
    if (videoStandard == Qo::Generic::kVideoStandard2997Hz)
        return progressive ? kCadence5994[frame % 5] : kCadence2997[frame % 5];
    return progressive ? kSamples50 : kSamples25;
}

TransferResult CPlayoutTransfer::Run()
{
    TransferResult result;
    HelperPtr helper(Qo::Generic::CreateHelper(_strComposition.c_str()));
    Qo::Generic::ContainerBuffer* buffer = helper ? helper->BufferFromFile(_strComposition.c_str()) : nullptr;
    Qo::Generic::ContainerIF* container = buffer ? helper->OpenContainer(buffer, Qo::Generic::kOpenRead) : nullptr;
    if (!container) {
        result.hostText = "composition " + _strComposition + ": " + (helper ? helper->GetLastError() : "no helper");
        return result;
    }
    std::vector<Qo::Generic::MobID> ids = container->GetCompositionMobIDs(true);
    Qo::Generic::MobIF* mob = ids.empty() ? nullptr : container->OpenMob(ids.front());
    auto* composition = dynamic_cast<Qo::Generic::CompositionMobIF*>(mob);
    CMediaReader media;
    if (!composition)
        result.hostText = "composition " + _strComposition + " holds no composition mob";
    else if (!media.Open(_strMedia))
        result.hostText = media.Error();
    else if (std::string shortfall = MediaShortfall(composition, media); !shortfall.empty())
        result.hostText = shortfall;
    else if (LoadPlugin(result)) {
        auto create = reinterpret_cast<Qo::Playback::CreateSenderFn>(Export("Create"));
        auto version = reinterpret_cast<Qo::Playback::GetDornVersionFn>(Export("GetDornVersion"));
        int32_t senderVersion = 0;
        if (!create || !version)
            result.hostText = "the plug-in lacks Create or GetDornVersion";
        else if (Guard(result, "GetDornVersion", [&] { version(&senderVersion); }) &&
                 senderVersion != Qo::Playback::kSenderVersion)
            result.hostText = "incompatible sender: interface version " + std::to_string(senderVersion);
        else if (result.hostText.empty() && Guard(result, "Create", [&] { _sender = create(); }) && !_sender)
            result.hostText = "the plug-in made no sender";
        if (_sender && result.hostText.empty())
            Push(composition, media, result);
        Qo::Playback::Sender_1* sender = _sender;
        {
            std::lock_guard lock(_controlMutex);
            _sender = nullptr;
        }
        if (sender)
            Guard(result, "Delete", [&] { sender->Delete(); });
    }
    if (mob)
        container->ReleaseMob(mob);
    helper->ReturnContainer(container);

    result.cancelled = result.cancelled || CancelRequested();
    result.frames = _nFramesDone;
    result.complete = result.code == Qo::Playback::kSendOk && result.hostText.empty() && !result.cancelled &&
                      result.frames == result.expectedFrames;
    return result;
}

void CPlayoutTransfer::Push(Qo::Generic::CompositionMobIF* composition, CMediaReader& media, TransferResult& result)
{
    int32_t opened = Qo::Playback::kSendFailed;
    if (!Guard(result, "Open", [&] { opened = _sender->Open(composition); }))
        return;
    result.code = opened;
    if (opened != Qo::Playback::kSendOk) {
        Guard(result, "GetErrorText", [&] { result.pluginText = _sender->GetErrorText(); });
        result.hostText = "the sender did not open";
        return;
    }
    Attach();
    int32_t duration = composition->GetDuration();
    int32_t standard = composition->GetVideoStandard();
    Qo::Generic::TimeCode start;
    composition->GetStartTimeCode(start);
    result.expectedFrames = duration;
    _nFramesExpected = duration;
    const std::vector<int32_t> tracks = TrackList(composition);
    int32_t width = SoundWidth(composition);
    std::vector<uint64_t> audioPosition(kMaxAudioTrack + 1, 0);
    for (int32_t track : tracks) {
        const CWavReader* wav = track >= 1 && track <= kMaxAudioTrack ? media.Audio(track) : nullptr;
        if (wav && width > 0 && wav->Bits() != width && result.hostText.empty())
            result.hostText = "audio track " + std::to_string(track) + " holds " + std::to_string(wav->Bits()) +
                              "-bit samples, the composition " + std::to_string(width) + "-bit";
    }

    std::vector<uint8_t> bytes;
    for (int32_t frame = 0; frame < duration && result.hostText.empty(); ++frame) {
        bool going = true;
        for (int32_t track : tracks) {
            // A track without media goes as null frames; one with media never has a hole filled by them.
            if (track == 0) {
                const bool has = media.PictureCount() > 0;
                if (has && !media.Picture(static_cast<size_t>(frame), bytes)) {
                    result.hostText = "cannot read picture " + std::to_string(frame) + " of the media";
                    going = false;
                } else {
                    going = SendOne(0, frame, has ? &bytes : nullptr, 1, result);
                }
                if (going)
                    ++_nFramesDone;
            } else if (track >= 1 && track <= kMaxAudioTrack) {
                uint32_t samples = CadenceSamples(standard, start.rate, frame);
                const CWavReader* wav = media.Audio(track);
                const uint64_t position = audioPosition[static_cast<size_t>(track)];
                // An ingest's own cadence may leave the last frame a sample or two short of this one: what is
                // left goes as a short frame, never as silence.
                if (wav && position < wav->Samples() && wav->Samples() - position < samples)
                    samples = static_cast<uint32_t>(wav->Samples() - position);
                if (wav && !wav->Take(position, samples, bytes)) {
                    result.hostText =
                        "audio track " + std::to_string(track) + " ends before frame " + std::to_string(frame);
                    going = false;
                } else {
                    going = SendOne(track, frame, wav ? &bytes : nullptr, samples, result);
                }
                audioPosition[static_cast<size_t>(track)] += samples;
            }
            if (!going)
                break;
        }
        if (!going)
            break;
    }
    int32_t closed = Qo::Playback::kSendFailed;
    if (Guard(result, "Close", [&] { closed = _sender->Close(); }) && result.code == Qo::Playback::kSendOk)
        result.code = closed;
    Guard(result, "GetErrorText", [&] { result.pluginText = _sender->GetErrorText(); });
    Detach();
    if (result.code == Qo::Playback::kSendCancelled)
        result.cancelled = true;
}

bool CPlayoutTransfer::SendOne(int32_t track, int32_t frame, std::vector<uint8_t>* bytes, uint32_t samples,
                               TransferResult& result)
{
    int32_t code = Qo::Playback::kSendFailed;
    bool called;
    if (bytes) {
        // The sender owns the data from here and frees it with delete[].
        Qo::Playback::FrameRecord record;
        record.track = track;
        record.frameNumber = frame;
        record.numSamples = samples;
        record.length = static_cast<uint32_t>(bytes->size());
        record.data = new uint8_t[bytes->size()];
        std::copy(bytes->begin(), bytes->end(), record.data);
        called = Guard(result, "Send", [&] { code = _sender->Send(record); });
    } else {
        called = Guard(result, "SendNull", [&] { code = _sender->SendNull(track, frame); });
    }
    if (!called)
        return false;
    result.code = code;
    // A failed frame ends the transfer: a clip with a hole is no playout.
    return code == Qo::Playback::kSendOk;
}

}  // namespace tessan
