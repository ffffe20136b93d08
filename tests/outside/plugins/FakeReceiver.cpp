// A receiver plug-in for the transfer service's tests: it reads its composition through
// libTolvenc.so as the real one does, delivers the frames of a DV file (144000 bytes each) with
// generated audio, keeps the receiver's calling contract and journals every call.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "outside/qo/Generic/Filelist.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MasterMobIF.h"
#include "outside/qo/Ingest/Receiver.h"
#include "tests/outside/plugins/FakeJournal.h"

using fakeplugin::Journal;

namespace
{

constexpr uint32_t kDvFrameBytes = 144000;
constexpr uint32_t kSamplesPerFrame = 1920;
std::atomic<int> g_liveFrames{0};

class FakeFrame final : public Qo::Ingest::Frame
{
public:
    FakeFrame(std::vector<uint8_t> bytes, uint32_t samples, int32_t type)
        : _bytes(std::move(bytes)), _samples(samples), _type(type)
    {
        ++g_liveFrames;
    }
    ~FakeFrame() override { --g_liveFrames; }
    uint8_t* GetData() override { return _bytes.data(); }
    uint32_t GetSize() override { return static_cast<uint32_t>(_bytes.size()); }
    uint32_t GetNumSamples() override { return _samples; }
    int32_t GetTypeCode() override { return _type; }
    void Release() override { delete this; }

private:
    std::vector<uint8_t> _bytes;
    uint32_t _samples;
    int32_t _type;
};

// The sample a track carries at a position: shows misplaced or reordered audio.
uint32_t SampleValue(int32_t track, uint64_t position)
{
    return static_cast<uint32_t>((position * 2654435761u) ^ (static_cast<uint32_t>(track) << 20)) & 0xFFFFFF;
}

class FakeReceiver final : public Qo::Ingest::Receiver
{
public:
    FakeReceiver() { Journal("create"); }
    ~FakeReceiver() override { Journal("delete live=" + std::to_string(g_liveFrames.load())); }

    bool Open(Qo::Generic::ContainerBuffer* composition, int32_t* opened) override
    {
        if (_bOpened)
            Journal("ORDER open twice");
        _bOpened = true;
        if (fakeplugin::Mode("throw-open"))
            throw std::runtime_error("fake receiver: Open throws");
        if (fakeplugin::Mode("fail-open"))
            return FailOpen(7, "fake receiver: no media");
        Qo::Generic::HelperIF* helper = Qo::Generic::CreateHelper(composition);
        Qo::Generic::ContainerIF* container =
            helper ? helper->OpenContainer(composition, Qo::Generic::kOpenRead) : nullptr;
        std::vector<Qo::Generic::MobID> ids =
            container ? container->GetMasterMobIDs() : std::vector<Qo::Generic::MobID>();
        Qo::Generic::MobIF* mob = ids.size() == 1 ? container->OpenMob(ids[0]) : nullptr;
        auto* master = dynamic_cast<Qo::Generic::MasterMobIF*>(mob);
        std::string dir, name, bits, trim, recording;
        if (master) {
            _nLeft = master->GetDuration();
            _nVideoStandard = master->GetVideoStandard();
            if (master->GetAttribute("_EXPORT", "TRIM_SUBCLIP", trim) && trim == "1") {
                _nStart = master->GetInPoint();
                if (_nStart != 0 || master->GetOutPoint() != _nLeft)
                    _nLeft = master->GetOutPoint() - master->GetInPoint();
            }
            if (Qo::Generic::Filelist* list = master->GetFilelist()) {
                _tracks = list->GetTrackList();
                master->ReleaseFilelist(list);
            }
            master->GetAttribute("_USER", "QO_KORVO_DIRNAME", dir);
            master->GetAttribute("_USER", "QO_KORVO_CLIPNAME", name);
            master->GetAttribute("_USER", "QO_KORVO_NAUDIOBITS", bits);
            _bLive = master->GetAttribute("_USER", "QO_KORVO_RECORDING", recording) && recording == "1";
        }
        if (mob)
            container->ReleaseMob(mob);
        if (container)
            helper->ReturnContainer(container);
        Qo::Generic::DeleteHelper(helper);
        if (!master)
            return FailOpen(8, "fake receiver: Container Mobs error");
        _nBytesPerSample = bits == "24" ? 3 : 2;
        std::string tracks;
        for (int32_t t : _tracks)
            tracks += std::to_string(t) + ",";
        Journal("open left=" + std::to_string(_nLeft) + " start=" + std::to_string(_nStart) +
                " standard=" + std::to_string(_nVideoStandard) + " tracks=" + tracks +
                " bits=" + std::to_string(_nBytesPerSample * 8) + " live=" + std::to_string(_bLive));
        std::ifstream in(dir + "/" + name, std::ios::binary);
        _source.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (_source.empty())
            return FailOpen(7, "fake receiver: no media at " + dir + "/" + name);
        if (opened)
            *opened = 1;
        return true;
    }

    int32_t Recv(Qo::Ingest::Frame*& frame) override
    {
        frame = nullptr;
        if (!_bOpened)
            Journal("ORDER recv before open");
        if (_bClosed)
            Journal("ORDER recv after close");
        {
            std::unique_lock lock(_mutex);
            _resumed.wait(lock, [this] { return _nState != Qo::Ingest::kPaused; });
        }
        if (_nState == Qo::Ingest::kCancelled)
            return FailRecv(2, "fake receiver: Cancelled");
        if (_tracks.empty())
            return FailRecv(8, "fake receiver: no tracks");
        if (long delay = std::atol(fakeplugin::Setting("FAKE_DELAY_MS", "0").c_str()))
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        size_t position = _nCalls % _tracks.size();
        ++_nCalls;
        if (position == 0) {
            int64_t index = _nStart + _nSets;
            if (fakeplugin::ModeAt("error-at") == _nSets)
                return FailRecv(6, "fake receiver: Internal Error");
            if (fakeplugin::ModeAt("throw-at") == _nSets)
                throw std::runtime_error("fake receiver: Recv throws");
            bool have = (index + 1) * int64_t(kDvFrameBytes) <= int64_t(_source.size());
            if (!have || (!_bLive && _nLeft <= 0)) {
                Journal("end left=" + std::to_string(_nLeft));
                return FailRecv(_nLeft > 0 && !_bLive && !have ? 6 : 14, "fake receiver: End Of Data");
            }
            Journal("read " + std::to_string(index));
            --_nLeft;
            ++_nSets;
        }
        if (fakeplugin::Mode("null-frame"))
            return 0;
        int32_t track = _tracks[position];
        int64_t index = _nStart + _nSets - 1;
        if (track == 0) {
            auto begin = _source.begin() + static_cast<std::ptrdiff_t>(index * kDvFrameBytes);
            frame = new FakeFrame(std::vector<uint8_t>(begin, begin + kDvFrameBytes), 1, 0);
        } else if (track >= 1 && track <= 8) {
            std::vector<uint8_t> bytes(kSamplesPerFrame * _nBytesPerSample);
            for (uint32_t i = 0; i < kSamplesPerFrame; ++i) {
                uint32_t value = SampleValue(track, uint64_t(index) * kSamplesPerFrame + i);
                for (uint32_t b = 0; b < _nBytesPerSample; ++b)
                    bytes[i * _nBytesPerSample + b] = static_cast<uint8_t>(value >> (8 * (b + 3 - _nBytesPerSample)));
            }
            frame = new FakeFrame(std::move(bytes), kSamplesPerFrame, track);
        } else {
            return FailRecv(8, "fake receiver: Bad Track");
        }
        _nCode = 0;
        return 0;
    }

    bool Close() override
    {
        Journal("close");
        _bClosed = true;
        return true;
    }
    void Delete() override { delete this; }
    bool Pause() override
    {
        Journal("pause");
        std::lock_guard lock(_mutex);
        if (_nState == Qo::Ingest::kRunning)
            _nState = Qo::Ingest::kPaused;
        return true;
    }
    bool Resume() override
    {
        Journal("resume");
        std::lock_guard lock(_mutex);
        if (_nState == Qo::Ingest::kPaused)
            _nState = Qo::Ingest::kRunning;
        _resumed.notify_all();
        return true;
    }
    bool Cancel() override
    {
        Journal("cancel");
        std::lock_guard lock(_mutex);
        if (_strError.empty())
            _strError = "Cancelled";
        _nState = Qo::Ingest::kCancelled;
        _resumed.notify_all();
        return true;
    }
    int32_t Runstate() override { return _nState; }
    std::string GetErrorText() override
    {
        std::lock_guard lock(_mutex);
        return _strError;
    }
    std::vector<int32_t> GetTrackList() override { return _tracks; }
    int32_t GetErrorCode() override { return _nCode; }

private:
    bool FailOpen(int32_t code, const std::string& text)
    {
        std::lock_guard lock(_mutex);
        _nCode = code;
        if (_strError.empty())
            _strError = text;
        return false;
    }
    int32_t FailRecv(int32_t code, const std::string& text)
    {
        FailOpen(code, text);
        return code;
    }

    std::mutex _mutex;
    std::condition_variable _resumed;
    std::atomic<int32_t> _nState{Qo::Ingest::kRunning};
    std::string _strError;
    std::atomic<int32_t> _nCode{0};
    bool _bOpened = false;
    bool _bClosed = false;
    bool _bLive = false;
    std::vector<int32_t> _tracks;
    std::vector<uint8_t> _source;
    int64_t _nLeft = 0;
    int64_t _nStart = 0;
    int64_t _nSets = 0;
    uint64_t _nCalls = 0;
    int32_t _nVideoStandard = 0;
    uint32_t _nBytesPerSample = 2;
};

int32_t DoCheckVersion(const char* version)
{
    Journal(std::string("check ") + (version ? version : "(null)"));
    return fakeplugin::Mode("incompatible") ? 1 : 0;
}

Qo::Ingest::Receiver* CreateReceiver()
{
    return new FakeReceiver();
}

void DeleteReceiver(Qo::Ingest::Receiver* receiver)
{
    if (receiver)
        receiver->Delete();
}

}  // namespace

FAKE_EXPORT int32_t QoCheckAPIVersion(const char* version)
{
    return DoCheckVersion(version);
}
FAKE_EXPORT int32_t CheckVersion(const char* version)
{
    return DoCheckVersion(version);
}
FAKE_EXPORT Qo::Ingest::Receiver* QoCreateAPI()
{
    return CreateReceiver();
}
FAKE_EXPORT Qo::Ingest::Receiver* Create()
{
    return CreateReceiver();
}
FAKE_EXPORT void QoDeleteAPI(Qo::Ingest::Receiver* receiver)
{
    DeleteReceiver(receiver);
}
FAKE_EXPORT void Delete(Qo::Ingest::Receiver* receiver)
{
    DeleteReceiver(receiver);
}
FAKE_EXPORT int32_t* GetReceiverVersion(int32_t* version)
{
    Journal("version");
    if (version)
        *version = Qo::Ingest::kReceiverVersion;
    return version;
}
