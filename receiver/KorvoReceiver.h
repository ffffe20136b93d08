#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "outside/qo/Ingest/Receiver.h"
#include "receiver/CReceiverFReader.h"

namespace Qo::Generic
{
class MasterMobIF;
}

// What Open reads from the composition's master mob, and the frame reader it asks for.
struct KorvoReceiverMedia {
    int32_t nAudioTracks = 0;
    int32_t nRate = 50;  // Mb/s
    int32_t nAudioBits = 16;
    uint32_t nFirstServerField = 0;
    uint32_t nBlockSize = 0x200000;
    bool bHighFrameRate = true;
    bool bLive = false;
    std::string strSourceKind;  // "Korvo", "TCP", "RixFTP", "MXF"
    std::string strDataKind;    // "IMX", "DVCPro", "Hydrel"
    std::string strSource;      // file path, "host:port" or "ftp://..." URL
};

// The ingest plug-in object: opened on a composition, it hands out one frame per Recv, track after track, until
// the media ends. Pause, Resume and Cancel may come from another thread; a cancel also ends a read that waits on
// its source, and a source that delivers nothing for the stall time ends the transfer with an error.
class KorvoReceiver : public Qo::Ingest::Receiver
{
public:
    static constexpr const char* kVersionText = "01.09.00";
    static constexpr uint32_t kBlockSize2MB = 0x200000;
    static constexpr uint32_t kBlockSize8MB = 0x800000;
    static constexpr uint32_t kDefaultStallMs = 30000;
    // Machine key and value (seconds) that set the stall time.
    static constexpr const char* kSettingsKey = "SOFTWARE\\Brennhall\\Recalo";
    static constexpr const char* kStallValue = "Stall Timeout In Sec";

    // Error codes beyond those of the host interface.
    enum : int32_t { kErrorInternal = 6, kErrorNoMedia = 7, kErrorComposition = 8 };

    KorvoReceiver();
    ~KorvoReceiver() override;
    KorvoReceiver(const KorvoReceiver&) = delete;
    KorvoReceiver& operator=(const KorvoReceiver&) = delete;

    bool Open(Qo::Generic::ContainerBuffer* composition, int32_t* opened) override;
    int32_t Recv(Qo::Ingest::Frame*& frame) override;
    bool Close() override;
    void Delete() override;
    bool Pause() override;
    bool Resume() override;
    bool Cancel() override;
    int32_t Runstate() override { return _nState.load(); }
    std::string GetErrorText() override;
    std::vector<int32_t> GetTrackList() override;
    int32_t GetErrorCode() override { return _nErrorCode.load(); }

    int32_t GetInstance() const { return _nInstance; }
    int32_t GetFramesLeft() const { return _nFramesLeft.load(); }
    const KorvoReceiverMedia& GetMedia() const { return _media; }
    // How long a read may wait on a silent source; 0 waits without end.
    void SetStallTime(uint32_t ms) { _nStallMs = ms; }

    // Block size attribute to bytes: 2 and 8 (MB), their byte counts and their decimal millions; 0 for any
    // other value.
    static uint32_t ParseBlockSize(const std::string& value);

protected:
    // The frame reader for the media's kinds; null when there is none for them.
    virtual std::unique_ptr<CReceiverFReader> MakeFrameReader(const KorvoReceiverMedia& media);

private:
    bool OpenMedia(Qo::Generic::ContainerBuffer* composition);
    bool ReadComposition(Qo::Generic::MasterMobIF& mob);
    bool FailOpen(int32_t code, const char* text, const char* logFormat);
    int32_t ReceiveFrame(Qo::Ingest::Frame*& frame);
    int32_t EndOfData(bool readFailed);
    // Sets the code, and the text when none is set yet; returns the code.
    int32_t SetError(int32_t code, const std::string& text);
    void DeleteReader();

    // ReadNextFrame under the stall watch.
    bool ReadWatched();
    // A call to the reader under the stall watch: one that lasts longer than the stall time cancels the reader.
    template <class Call>
    auto Watched(Call&& call) -> decltype(call());
    std::string StallText() const;
    void WatchStalls();
    void StopWatch();

    std::atomic<int32_t> _nState{Qo::Ingest::kRunning};
    std::mutex _errorLock;
    std::string _strErrorText;
    std::atomic<int32_t> _nErrorCode{0};
    uint32_t _nFrameCounter = 0;
    std::vector<int32_t> _tracks;
    std::atomic<int32_t> _nFramesLeft{0};  // Cancel logs it from another thread
    int32_t _nVideoStandard = 3;
    bool _bTrim = false;
    int32_t _nTrimIn = 0;
    KorvoReceiverMedia _media;
    int32_t _nInstance = 0;

    // Pause and cancel: the state changes and the wake-up of a paused Recv happen under one lock.
    std::mutex _pauseLock;
    std::condition_variable _resumed;

    // The reader is replaced only on the host's transfer thread; Cancel and the stall watch reach it under
    // this lock.
    std::mutex _readerLock;
    std::unique_ptr<CReceiverFReader> _pReader;

    // Stall watch: a thread that cancels the reader when one read lasts longer than the stall time.
    uint32_t _nStallMs = kDefaultStallMs;
    std::mutex _watchLock;
    std::condition_variable _watchWake;
    std::thread _watch;
    bool _bWatchStop = false;
    bool _bReading = false;
    uint64_t _nReadSerial = 0;
    std::atomic<bool> _bStalled{false};
};
