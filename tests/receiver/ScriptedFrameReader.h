#pragma once
// A frame reader that delivers a set number of frame sets, records how the receiver drove it, and can fail,
// throw or wait on a silent source; and a receiver that is handed it in place of the reader of its media kinds.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "receiver/KorvoReceiver.h"

namespace receivertest
{

struct ReaderScript {
    int sets = 100;      // frame sets the source holds
    int openResult = 0;  // Open's result
    bool throwOnOpen = false;
    int throwAtSet = -1;  // ReadNextFrame throws when asked for this set
    int waitAtSet = -1;   // ReadNextFrame waits for Cancel when asked for this set
    bool nullTrackFrame = false;
    bool emptyVideoFrame = false;
};

// What the receiver did to its reader.
struct ReaderRecord {
    std::mutex lock;
    std::string source;
    int32_t videoSystem = 0, rate = 0, audioTracks = 0, audioBits = 0;
    int32_t startFrame = -1;
    int64_t firstField = -1;
    int setsRead = 0;
    bool closed = false;
    bool cancelled = false;
    bool waiting = false;
    std::condition_variable changed;
};

class ScriptedFrameReader : public CReceiverFReader
{
public:
    ScriptedFrameReader(ReaderScript script, std::shared_ptr<ReaderRecord> record)
        : _script(script), _record(std::move(record))
    {
    }
    ~ScriptedFrameReader() override
    {
        ReleaseHeld(_pVideo);
        for (KorvoFrame*& f : _pTracks)
            ReleaseHeld(f);
    }

    int Open(const std::string& source, int32_t videoSystem, int32_t rate, int32_t audioTracks,
             int32_t audioBits) override
    {
        if (_script.throwOnOpen)
            throw std::runtime_error("scripted open failure");
        std::lock_guard lock(_record->lock);
        _record->source = source;
        _record->videoSystem = videoSystem;
        _record->rate = rate;
        _record->audioTracks = audioTracks;
        _record->audioBits = audioBits;
        return _script.openResult;
    }
    void Close() override
    {
        std::lock_guard lock(_record->lock);
        _record->closed = true;
    }
    bool ReadNextFrame() override
    {
        std::unique_lock lock(_record->lock);
        const int set = _record->setsRead;
        if (set == _script.throwAtSet)
            throw std::runtime_error("scripted read failure");
        if (set == _script.waitAtSet) {
            _record->waiting = true;
            _record->changed.notify_all();
            _record->changed.wait(lock, [&] { return _record->cancelled; });
        }
        if (_record->cancelled || set >= _script.sets)
            return false;
        ++_record->setsRead;
        lock.unlock();
        ReleaseHeld(_pVideo);
        const uint8_t byte = static_cast<uint8_t>(set);
        _pVideo = new KorvoFrame(&byte, _script.emptyVideoFrame ? 0 : 1, 1, 0);
        _pVideo->SetTypeCode(0);
        for (int t = 0; t < kMaxAudioTracks; ++t) {
            ReleaseHeld(_pTracks[t]);
            _pTracks[t] = new KorvoFrame(&byte, 1, 1, 0);
            _pTracks[t]->SetTypeCode(t + 1);
        }
        return true;
    }
    KorvoFrame* GetVideoFrame() override { return TakeHeld(_pVideo); }
    KorvoFrame* GetTrackFrame(int32_t track) override
    {
        return _script.nullTrackFrame ? nullptr : TakeHeld(_pTracks[track - 1]);
    }
    void SetStartFrame(int32_t frames) override { _record->startFrame = frames; }
    void SetFirstField(uint32_t field) override { _record->firstField = field; }
    void Cancel() override
    {
        std::lock_guard lock(_record->lock);
        _record->cancelled = true;
        _record->changed.notify_all();
    }

private:
    ReaderScript _script;
    std::shared_ptr<ReaderRecord> _record;
    KorvoFrame* _pVideo = nullptr;
    KorvoFrame* _pTracks[kMaxAudioTracks] = {};
};

// A receiver whose frame reader is the scripted one (none when noReader); it keeps the media it was asked for.
class ScriptedReceiver : public KorvoReceiver
{
public:
    explicit ScriptedReceiver(ReaderScript script = {}) : _script(script) {}

    std::shared_ptr<ReaderRecord> record = std::make_shared<ReaderRecord>();
    KorvoReceiverMedia asked;
    bool noReader = false;

protected:
    std::unique_ptr<CReceiverFReader> MakeFrameReader(const KorvoReceiverMedia& media) override
    {
        asked = media;
        if (noReader)
            return nullptr;
        return std::make_unique<ScriptedFrameReader>(_script, record);
    }

private:
    ReaderScript _script;
};

}  // namespace receivertest
