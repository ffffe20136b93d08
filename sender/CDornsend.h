#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "outside/qo/Playback/Sender.h"
#include "sender/CDornBlackFrame.h"
#include "sender/CDornWriter.h"

namespace Qo::Generic
{
class CompositionMobIF;
}
class CDorn_RixFtp_Writer;

// The playout sender: reads the target ("TGT-" user attributes of the composition, with Dornsend.ini as fallback),
// picks the writer for the target and codec, forwards every frame to it, and at the end of a complete playout to a
// clip file leaves the side-car metadata file and the playback job file. Results: 0, 2 cancelled, 5 failed (with
// the error text). No exception leaves an operation.
class CDornsend final : public Qo::Playback::Sender_1
{
public:
    static constexpr const char* kVersion = "01.09.00";
    static constexpr int kMaxTrack = 8;

    CDornsend();
    ~CDornsend() override;
    CDornsend(const CDornsend&) = delete;
    CDornsend& operator=(const CDornsend&) = delete;

    int32_t Open(Qo::Generic::CompositionMobIF* composition) override;
    int32_t SendNull(int32_t track, int32_t frameNumber) override;
    int32_t Send(Qo::Playback::FrameRecord frame) override;
    int32_t Close() override;
    void Delete() override;
    int32_t Pause() override;
    int32_t Resume() override;
    int32_t Cancel() override;
    int32_t Runstate() override;
    std::string GetErrorText() override;

    static int GetInstanceCount() { return s_nInstances.load(); }
    // The full path of the target file (Shared mode) or the server URL (RixFtp mode) after Open.
    const std::string& GetTargetPath() const { return _szTargetPath; }
    // How long a paused Send waits between two looks at the flags (100 ms; tests shorten it).
    void SetPausePollMs(int milliseconds) { _nPausePollMs = milliseconds; }
    // Called on each server writer before it opens (tests shorten its retries and time-outs).
    void SetServerWriterHook(std::function<void(CDorn_RixFtp_Writer&)> hook) { _serverWriterHook = std::move(hook); }

private:
    // The job file settings of one destination (main or backup).
    struct JobXmlSettings {
        bool bEnabled = false;
        std::string szJobPath, szCfg, szPage, szReferencingPath, szIP, szPort, szUser, szPassword;
    };

    int32_t OpenTarget(Qo::Generic::CompositionMobIF* composition);
    bool ReadTarget(Qo::Generic::CompositionMobIF* composition, const char* key, std::string& value);
    void ReadJobXmlSettings(Qo::Generic::CompositionMobIF* composition, bool backup);
    std::unique_ptr<CDornWriter> MakeFileWriter(Qo::Generic::CompositionMobIF* composition, bool& failed);
    std::unique_ptr<CDornWriter> MakeServerWriter(Qo::Generic::CompositionMobIF* composition, bool& failed);
    int ReadAudioSampleWidth(Qo::Generic::CompositionMobIF* composition, const std::vector<int32_t>& tracks);
    // Creates the target file, or the next free name after it; false with the cause.
    bool CreateTargetFile(std::string& cause);
    // Removes the target file this playout created (a cancelled or failed one leaves no clip).
    void RemoveTargetFile();
    // False with the cause when a side file could not be written; none written is then left behind.
    bool WriteSideFiles(std::string& cause);
    bool PlayoutComplete() const;

    int32_t WaitWhilePaused(const char* cancelText);
    int32_t Fail(const std::string& text);
    void SetErrorText(const std::string& text);
    int64_t LoadBlackFrame();
    void ReleaseBlackFrame();

    static std::atomic<int> s_nInstances;

    std::mutex _errorMutex;
    std::string _szErrorText;
    std::atomic<bool> _bCancelled{false};
    std::atomic<bool> _bRunning{false};
    std::atomic<bool> _bOpened{false};
    bool _bSendFailed = false;
    bool _bTargetCreated = false;
    int _nPausePollMs = 100;
    std::function<void(CDorn_RixFtp_Writer&)> _serverWriterHook;

    std::unique_ptr<CDornWriter> _pWriter;
    std::string _szMode;
    std::string _szTargetPath;
    std::string _szLouthIdMain, _szVarIdMain, _szLouthIdBackup, _szVarIdBackup;
    JobXmlSettings _jobMain, _jobBackup;
    std::string _szDestClipNb, _szDestCam;
    std::array<int, kMaxTrack + 1> _audioChannel{};  // by track; -1 for a track the composition lacks
    std::string _szTargetName;
    std::array<int64_t, 16> _trackFrames{};
    int64_t _nFirstFrame = 0;
    int64_t _nEndFrame = 0;
    bool _bHasVideoTrack = false;
    std::string _szTapeId, _szOwner, _szSequenceName;
    int64_t _nDuration = 0;
    bool _bGenerateSideCar = false;
    std::string _szSideCarPath;
    CDornBlackFrame _blackFrame;
    std::string _szCodec;
    bool _bDvcpro25 = false;  // codec "DV" named as DVCPRO (25 Mb/s)
    int64_t _nBitrate = 0;
    uint8_t _nPictureCode = 3;
    int64_t _nVideoFramesWritten = 0;
};
