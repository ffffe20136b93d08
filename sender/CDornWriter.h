#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "common/CTimeCode.h"
#include "media/ImxFrames.h"
#include "media/Vc3Compressions.h"

// A frame as the sender hands it over: the bytes and their count.
struct DornFrame {
    const uint8_t* pData = nullptr;
    uint32_t nLength = 0;
};

// The sender's writer: a queue of pictures and the operations every output implements. Results: 0 success,
// anything else failure.
class CDornWriter
{
public:
    // The largest IMX frame (50 Mb/s at 25 Hz).
    static constexpr uint32_t kDefaultFrameCapacity = imx::kRates[2].nFrameSize625;
    // No codec frame is larger than the largest Hydrel frame; a frame capacity never grows beyond this.
    static constexpr uint32_t kMaxFrameCapacity = vc3::kLargestFrameSize;

    CDornWriter() = default;
    virtual ~CDornWriter();
    CDornWriter(const CDornWriter&) = delete;
    CDornWriter& operator=(const CDornWriter&) = delete;

    virtual int Open(const char* path, uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, int one,
                     CTimeCode start, int64_t duration) = 0;
    virtual int Close(bool cancelled);
    // Queues a copy of the picture, cut or zero-padded to the frame capacity. Throws Qo::Generic::ErrorIF(5) when
    // the buffer cannot be allocated.
    virtual int AddPicture(const DornFrame* frame);
    virtual int AddAudio(int channel, const DornFrame* frame) = 0;
    virtual int AddNULLAudioFrame(int channel, int64_t frameNumber);
    virtual void SetAspectRatio(int code);
    virtual void GetLouthIdMain(std::string& out) const { out.clear(); }
    virtual void GetVarIdMain(std::string& out) const { out.clear(); }
    virtual void GetLouthIdBackup(std::string& out) const { out.clear(); }
    virtual void GetVarIdBackup(std::string& out) const { out.clear(); }

    // The sender's cancel flag, polled by every wait and retry; null (the default) never cancels.
    void SetCancelSignal(const std::atomic<bool>* flag) { _pCancel = flag; }
    bool IsCancelled() const { return _pCancel && _pCancel->load(std::memory_order_relaxed); }

    // Why the writer refused the media it was given (the codec and the road), or empty.
    const std::string& GetRefusal() const { return _szRefusal; }

    size_t GetQueuedPictures() const { return _pictures.size(); }
    uint32_t GetFrameCapacity() const { return _nFrameCapacity; }

protected:
    std::string _szRefusal;

    struct Picture {
        std::unique_ptr<uint8_t[]> pData;
        uint32_t nLength = 0;
        uint32_t nCapacity = 0;
    };

    void DropOldestPicture()
    {
        if (!_pictures.empty())
            _pictures.pop_front();
    }
    // The first IMX frame's sequence header gives the bitrate (30, 40 or 50 Mb/s only) and so the frame size in
    // the rate system (3: 25 Hz, 4: 29.97 Hz); sets both and the frame capacity. Returns the Mb/s, 0 (logged).
    int LearnImxFrame(const DornFrame* frame, int system, int64_t* frameSize, int64_t* bitrate);
    // Bounded by kMaxFrameCapacity.
    void SetFrameCapacity(uint32_t bytes);

    uint32_t _nFrameCapacity = kDefaultFrameCapacity;
    std::deque<Picture> _pictures;
    int _nSourceChannels = 0;
    const std::atomic<bool>* _pCancel = nullptr;
};
