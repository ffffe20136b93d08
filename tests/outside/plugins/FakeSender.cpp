// A sender plug-in for the transfer service's tests: it reads its composition through libTolvenc.so
// as the real one does, keeps the sender's calling contract, appends what it gets to files in the
// folder of its TGT-Address attribute and journals every call.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/ContainerIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/MediaDescriptor.h"
#include "outside/qo/Generic/Playlist.h"
#include "outside/qo/Playback/Sender.h"
#include "tests/outside/plugins/FakeJournal.h"

using fakeplugin::Journal;

namespace
{

class FakeSender final : public Qo::Playback::Sender_1
{
public:
    FakeSender() { Journal("create"); }
    ~FakeSender() override { Journal("delete"); }

    int32_t Open(Qo::Generic::CompositionMobIF* composition) override
    {
        _bOpened = _bRunning = true;
        if (fakeplugin::Mode("throw-open"))
            throw std::runtime_error("fake sender: Open throws");
        if (fakeplugin::Mode("fail-open") || !composition)
            return Fail("fake sender: no target");
        std::string tracks, compressors, width;
        composition->GetAttribute("_USER", "TGT-Address", _strFolder);
        std::vector<std::string> names;
        composition->GetCompressorNames(names);
        for (const std::string& n : names)
            compressors += n + ",";
        if (Qo::Generic::Playlist* playlist = composition->GetPlaylist(0)) {
            for (int32_t number : playlist->GetTrackList()) {
                tracks += std::to_string(number) + ",";
                Qo::Generic::Track* track = nullptr;
                if (number == 0 || !playlist->GetTrack(number, track) || !width.empty())
                    continue;
                Qo::Generic::Segment* segment = track->GetNthSegment(0);
                Qo::Generic::ContainerIF* container = composition->GetContainer();
                Qo::Generic::MobIF* mob = segment ? container->OpenMob(segment->GetFileMobID()) : nullptr;
                if (auto* file = dynamic_cast<Qo::Generic::FileMobIF*>(mob))
                    if (auto* sound = dynamic_cast<Qo::Generic::SoundDescriptor*>(file->GetMediaDescriptor()))
                        width = std::to_string(sound->GetSampleWidth());
                if (mob)
                    container->ReleaseMob(mob);
            }
        }
        _nDuration = composition->GetDuration();
        Journal("open duration=" + std::to_string(_nDuration) +
                " standard=" + std::to_string(composition->GetVideoStandard()) + " tracks=" + tracks +
                " width=" + width + " compressors=" + compressors + " target=" + _strFolder);
        return 0;
    }

    int32_t SendNull(int32_t track, int32_t frameNumber) override
    {
        if (int32_t code = Wait(); code != 0)
            return code;
        if (track < 0 || track > 8)
            return Fail("fake sender: BAD Track NULL Frame");
        Journal("null " + std::to_string(track) + " " + std::to_string(frameNumber));
        return 0;
    }

    int32_t Send(Qo::Playback::FrameRecord frame) override
    {
        // The data is ours whatever happens.
        std::unique_ptr<uint8_t[]> data(frame.data);
        if (!_bOpened)
            Journal("ORDER send before open");
        if (int32_t code = Wait(); code != 0)
            return code;
        if (frame.track < 0 || frame.track > 8)
            return Fail("fake sender: BAD Track Frame");
        if (frame.track == 0 && fakeplugin::ModeAt("error-at") == frame.frameNumber)
            return Fail("fake sender: Write FAILED");
        if (frame.track == 0 && fakeplugin::ModeAt("throw-at") == frame.frameNumber)
            throw std::runtime_error("fake sender: Send throws");
        if (long delay = std::atol(fakeplugin::Setting("FAKE_DELAY_MS", "0").c_str()); delay && frame.track == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        Journal("send " + std::to_string(frame.track) + " " + std::to_string(frame.frameNumber) + " " +
                std::to_string(frame.length) + " " + std::to_string(frame.numSamples));
        if (!_strFolder.empty()) {
            std::ofstream out(_strFolder + "/sent" + std::to_string(frame.track) + ".bin",
                              std::ios::binary | std::ios::app);
            out.write(reinterpret_cast<const char*>(data.get()), frame.length);
        }
        return 0;
    }

    int32_t Close() override
    {
        Journal("close");
        _bOpened = false;
        return _bCancelled ? 2 : 0;
    }
    void Delete() override { delete this; }
    int32_t Pause() override
    {
        Journal("pause");
        if (_bCancelled)
            return 2;
        _bRunning = false;
        return 0;
    }
    int32_t Resume() override
    {
        Journal("resume");
        if (_bCancelled)
            return 2;
        _bRunning = true;
        return 0;
    }
    int32_t Cancel() override
    {
        Journal("cancel");
        if (_bCancelled)
            return 2;
        _bCancelled = true;
        return 0;
    }
    int32_t Runstate() override { return _bCancelled ? 3 : !_bOpened ? 0 : _bRunning ? 1 : 2; }
    std::string GetErrorText() override { return _strError; }

private:
    // A paused sender holds its caller until Resume or Cancel.
    int32_t Wait()
    {
        for (;;) {
            if (_bCancelled) {
                _strError = "fake sender: cancelled";
                return 2;
            }
            if (_bRunning)
                return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    int32_t Fail(const std::string& text)
    {
        _strError = text;
        return 5;
    }

    std::atomic<bool> _bOpened{false};
    std::atomic<bool> _bRunning{false};
    std::atomic<bool> _bCancelled{false};
    std::string _strError;
    std::string _strFolder;
    int32_t _nDuration = 0;
};

}  // namespace

FAKE_EXPORT Qo::Playback::Sender_1* Create()
{
    return new FakeSender();
}

FAKE_EXPORT int32_t* GetDornVersion(int32_t* version)
{
    Journal("version");
    if (version)
        *version = std::atoi(fakeplugin::Setting("FAKE_VERSION", "2").c_str());
    return version;
}
