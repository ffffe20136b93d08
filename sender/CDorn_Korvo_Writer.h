#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/PageBuffer.h"
#include "sender/CDornWriter.h"
#include "sender/DornCodecFrames.h"
#include "sender/DornDVCProFrames.h"
#include "writers/parvex/KorvoMXFBlockWriter.h"

// What the writers of the video server's own clip format share: the clip ids, the serial number, the block-size
// choice and the host's audio turned into the server's per-field 24-bit audio blocks by the field cadence.
class CDorn_Korvo_Writer : public CDornWriter
{
public:
    static constexpr uint32_t kChannelBufferBytes = 17280;
    static constexpr int kMaxSourceChannels = 8;

    CDorn_Korvo_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain, const char* louthIdBackup,
                       const char* varIdBackup, uint32_t serial, bool blocks8MB);
    ~CDorn_Korvo_Writer() override;

    int Close(bool cancelled) override;
    int AddPicture(const DornFrame* frame) override;
    int AddAudio(int channel, const DornFrame* frame) override;
    // Whether the serial (or, below 10, the machine's registered one) gives the clip ids the writer must make.
    bool CanMakeClipId() const { return !NewClipId().empty(); }
    int AddNULLAudioFrame(int channel, int64_t frameNumber) override;
    void SetAspectRatio(int code) override
    {
        _nAspectCode = code == 3 ? 3 : 2;
        _bAspectGiven = true;
    }
    void GetLouthIdMain(std::string& out) const override { out = _szLouthIdMain; }
    void GetVarIdMain(std::string& out) const override { out = _szVarIdMain; }
    void GetLouthIdBackup(std::string& out) const override { out = _szLouthIdBackup; }
    void GetVarIdBackup(std::string& out) const override { out = _szVarIdBackup; }

    // Encodes and writes the oldest queued picture with the audio block built for it; removes the picture.
    virtual int WriteFrame() = 0;

    // Time between the two generated material ids (their text carries seconds).
    void SetIdSpacing(uint32_t milliseconds) { _nIdSpacingMs = milliseconds; }
    int GetServerChannels() const { return _nServerChannels; }

    // 16-bit host sample to the server's 24 bits: the value in the top 16 bits, so that a reader taking the top
    // two bytes gets every value back unchanged.
    static int32_t Sample16To24(int16_t value) { return value * 256; }

protected:
    // Hands one picture element with its fields' audio to the output (clip file or server block).
    virtual int PutElement(const KorvoMXFVideoInfo& video, const uint8_t* data, uint32_t audioCount,
                           const KorvoMXFAudioInfo* audioInfo, const uint8_t* audio) = 0;
    // The codecs' WriteFrame, shared by the file and server variants: the oldest picture goes out and is removed.
    int WriteImxFrame(const KorvoMXFVideoInfo& record, int64_t frameSize);
    int WriteDVCProFrame(DornDVCProFrames& dvcpro, const KorvoMXFVideoInfo& record, int64_t frameSize);
    int WriteHydrelFrame(const KorvoMXFVideoInfo& record, uint32_t units, uint32_t unitSize);
    // The first DVCPRO frame sets the frame size, and the aspect when the target did not set it (the frame
    // states its own).
    // The road ("a clip file", "a video server") names it in the refusal of a kind the writer does not carry.
    bool LearnDVCPro(DornDVCProFrames& dvcpro, const DornFrame* frame, int64_t* frameSize, const char* road);
    // The first VC-3 frame sets the unit layout, the frame size and the frame capacity; its table row is returned.
    dorncodec::HydrelUnits LearnHydrel(const DornFrame* frame, uint32_t* units, uint32_t* unitSize, int64_t* frameSize);
    // The picture records of the IMX and VC-3 elements, by the picture code.
    static KorvoMXFVideoInfo ImxRecord(uint8_t pictureCode);
    static KorvoMXFVideoInfo HydrelRecord(uint8_t pictureCode);

    // The common part of every Open, after the output is open.
    int OpenCommon(uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, const CTimeCode& start,
                   int64_t duration);
    // Flushes the queue (every picture unless cancelled) and frees the audio buffers: the first failure, else 0.
    int CloseCommon(bool cancelled);
    // A fresh 8-character id from the id generator.
    std::string NewClipId() const;
    bool HasAudio() const { return _nServerChannels > 0; }
    uint32_t AudioFieldBytes() const { return _nAudioBlockSize * static_cast<uint32_t>(_nServerChannels); }
    const KorvoMXFAudioInfo* AudioInfos() const { return _audioInfo; }
    const uint8_t* AudioBlock() const { return _pAudioBlock.get(); }

    CTimeCode _start;
    std::string _szClipName;
    std::string _szLouthIdMain, _szVarIdMain, _szLouthIdBackup, _szVarIdBackup;
    uint32_t _nSerial = 0;
    bool _b8MBBlocks = false;
    int _nAspectCode = 2;
    bool _bAspectGiven = false;  // SetAspectRatio called: the target's aspect overrides the pictures'

    uint8_t _nPictureCode = 3;
    int _nSystem = 3;  // 3: 50 Hz, 4: 59.94 Hz
    bool _bFieldPairs = true;
    bool _b24Bit = false;
    int64_t _nBitrate = 0;
    int64_t _nDurationFields = 0;
    int64_t _nFieldsDone = 0;

private:
    uint32_t NeedBytes() const;
    bool AllChannelsHold(uint32_t bytes) const;
    // The audio of the oldest picture's fields by the cadence, at most limit samples per channel in all (the
    // last picture of a clip carries only the samples the host sent).
    void BuildAudioBlock(uint32_t limit = UINT32_MAX);
    int FlushOnePicture();

    int _nServerChannels = 0;
    std::array<std::vector<uint8_t>, kMaxSourceChannels> _channelBuffers;
    std::array<uint32_t, kMaxSourceChannels> _channelFill{};
    std::array<uint32_t, 5> _cadence{};
    uint32_t _nCadenceLength = 1;
    uint32_t _nCadencePos = 0;
    uint32_t _nAudioBlockSize = 0;
    platform::PageBuffer _pAudioBlock;
    std::vector<uint8_t> _silence;
    KorvoMXFAudioInfo _audioInfo[2] = {};
    uint32_t _nIdSpacingMs = 1000;
};
