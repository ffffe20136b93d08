#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/CTimeCode.h"
#include "platform/PageBuffer.h"
#include "writers/formatdata/CKorvoFormatDataWriter.h"
#include "writers/mediafile/CMediaFileWriter.h"
#include "writers/op1a/CMxfHeaderPatcher.h"
#include "writers/op1a/TimeUUID.h"

// Writes OP1a IMX (D-10) files: the header, one content package per frame and the footer are assembled
// from the installation's sample files ("IMX_Header.MXF", "IMX_System.MXF", "IMX_Footer.MXF"), with the
// clip's rate, sizes, labels, durations and fresh identifiers patched in.
class CIMXMXFWriter : public CDefaultMediaFileWriter, private CMxfHeaderPatcher
{
public:
    // Result codes beyond the data writer's.
    static constexpr int kNotOpen = -1;
    static constexpr int kHeaderSampleFailed = 1;
    static constexpr int kSystemSampleFailed = 2;
    static constexpr int kNoDataWriter = 3;
    static constexpr int kCorruptedHeader = 4;
    static constexpr int kUnsupportedRate = 5;
    static constexpr int kBadPicture = 6;
    static constexpr int kBadSound = 7;
    static constexpr int kNotBegun = 8;
    static constexpr int kFooterFailed = 9;
    static constexpr int kNoIdentifier = 10;

    struct SystemRow {
        uint32_t editUnit;
        uint32_t soundOffset;
        uint8_t variant;
    };
    static const SystemRow kSystems[6];

    CIMXMXFWriter(int audioSampleBits, const char* sampleFolder, uint32_t audioBufferBytes);
    ~CIMXMXFWriter() override;

    void SetAudioSampleBits(int bits);
    int Open(const char* path) override;
    int Begin(const MediaWriterClipInfo& info) override;
    // 8 for 16-bit sound; for 24-bit sound 4, or 8 once Begin was given a clip of more than 4 channels.
    int GetAudioChannelCount(int) override { return _nChannels; }
    int Close() override;
    int AddFrame(const uint8_t* video, uint32_t videoLength, const float* const* channelSamples, int sampleCount,
                 int channelCount) override;
    int SetPacingRate(int rate) override;
    // One content package; interleavedAudio holds sampleCount rows of 8 AES3 words.
    virtual int WriteIMXFrame(const uint8_t* video, uint32_t videoLength, const uint32_t* interleavedAudio,
                              int sampleCount);

    uint64_t GetFramesWritten() const { return _nFramesWritten; }
    uint64_t GetBytesWritten() const { return _nBytesWritten; }
    const std::string& GetSampleFolder() const { return _szSampleFolder; }
    // The identifiers the header pass gave out, in the order of the sets.
    const std::vector<TimeUUID>& GetUIDs() const { return _uids; }

    // AES3 words of one sample (channel number in bits 0-2), rounded and clamped to the width (PcmFromFloat).
    static uint32_t Aes3Word16(float sample, int channel);
    static uint32_t Aes3Word24(float sample, int channel);

private:
    bool OnLocalSet(const uint8_t* key, uint8_t* value, size_t length) override;
    void FillHeaderPatches();
    void FillClosePatches();
    // The walk and the index segment patch over the header buffer; false when the header is refused.
    bool PatchHeader();
    void Interleave(const float* const* channelSamples, int sampleCount, int channelCount, int needed);
    std::string SamplePath(const char* name) const;
    void ReleaseAll();
    void Pace(uint64_t bytes);

    int _nAudioBits = 24;
    int _nChannels = 4;
    std::string _szSampleFolder;
    std::unique_ptr<CKorvoFormatDataWriter> _writer;
    std::vector<uint8_t> _header;
    platform::PageBuffer _package;
    size_t _nPackageSize = 0;
    std::vector<uint32_t> _audio;  // rows of 8 words
    size_t _nAudioRows = 0;        // capacity in rows
    size_t _nBuffered = 0;         // rows held
    int _nSystem = 0;
    uint8_t _nAspect = 0;
    uint32_t _nVideoBytes = 0;
    int _cadence[5] = {1920, 0, 0, 0, 0};
    int _nCadenceLength = 1;
    int _nCadencePos = 0;
    bool _bBegun = false;
    bool _bHeaderPass = false;
    bool _bChannelsCut = false;   // a frame brought more channels than described (logged once)
    bool _bNoIdentifier = false;  // the identifier generator failed during the header pass
    uint64_t _nFramesWritten = 0;
    uint16_t _nContinuity = 0;
    uint64_t _nBytesWritten = 0;
    CTimeCode _current;
    CTimeCode _start;
    int _nPacingRate = 0;
    bool _bTimerArmed = false;
    std::chrono::steady_clock::time_point _deadline;
    uint8_t _materialUmid[32];
    uint8_t _sourceUmid[32];
    std::vector<TimeUUID> _uids;
    size_t _nTrackCounter = 6;
};
