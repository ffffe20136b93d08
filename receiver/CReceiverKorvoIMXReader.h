#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "receiver/CReceiverFReader.h"

// Reads IMX pictures and their audio from the blocks of a clip file, the TCP block stream or a video server.
// Each picture spans two field elements; each field carries a unit of audio per track, cut into frames by the
// video system's cadence.
class CReceiverKorvoIMXReader : public CReceiverFReader
{
public:
    // The block reader follows the source kind: "TCP", "RixFTP", else a clip file.
    CReceiverKorvoIMXReader(const std::string& sourceKind, uint32_t blockSize, bool highFrameRate, int32_t instance,
                            uint32_t firstServerField);
    // Over a block reader of the caller's choice.
    CReceiverKorvoIMXReader(std::unique_ptr<CKorvoBlockReader> blockReader, bool highFrameRate, int32_t instance);
    ~CReceiverKorvoIMXReader() override;

    int Open(const std::string& source, int32_t videoSystem, int32_t rate, int32_t audioTracks,
             int32_t audioBits) override;
    void Close() override;
    bool ReadNextFrame() override;
    KorvoFrame* GetVideoFrame() override;
    KorvoFrame* GetTrackFrame(int32_t track) override;
    void SetStartFrame(int32_t frames) override;
    void SetFirstField(uint32_t serverField) override;
    void Cancel() override;
    void SetLastSet() override { _bLastSet = true; }

    CKorvoBlockReader* GetBlockReader() const { return _pBlockReader.get(); }
    int32_t GetPosition() const { return _nPosition; }
    uint32_t GetExpectedVideoSize() const { return _nExpectedVideoSize; }

protected:
    CReceiverKorvoIMXReader(const char* className, std::unique_ptr<CKorvoBlockReader> blockReader, bool highFrameRate,
                            int32_t instance);

    // Sets fields per frame, cadence, audio unit size and expected video size for the video system and rate.
    virtual void SetTiming();
    // Makes the held video frame of one picture's bytes; a set-building result.
    virtual int MakeVideoFrame(const uint8_t* video, int32_t size);
    virtual int BuildFrameSet();
    // The samples a track's frame takes: the cadence's, or all it holds for the last set.
    uint32_t WantedSamples(const CReceiverAudioTrack& track) const;
    // Reads the next block (position 0); the block reader's result.
    int ReadBlock();
    // Reads the next block when the position is not inside the current one.
    int EnsureBlock();
    void BuildAudioFrame(int32_t track, bool swapped);
    // Appends track t's part of the audio unit of a field of the current block to its buffer.
    void AppendTrackUnit(int32_t track, int32_t unitIndex, bool swapped);

    const char* _pszClass;
    std::unique_ptr<CKorvoBlockReader> _pBlockReader;
    bool _bHighFrameRate;
    int32_t _nInstance;
    int32_t _nVideoSystem = 3;
    int32_t _nRate = 0;
    int32_t _nAudioTracks = 0;
    bool _b24Bit = false;
    uint32_t _nExpectedVideoSize = 0;
    uint32_t _nFieldsPerFrame = 2;
    uint32_t _nAudioUnitSize = 2944;
    uint32_t _nMaxSamplesPerField = 960;
    uint32_t _nCadence[5] = {1920, 1920, 1920, 1920, 1920};
    uint32_t _nCadenceIndex = 0;
    CReceiverAudioTrack _tracks[kMaxAudioTracks];
    KorvoFrame* _pVideoFrame = nullptr;
    KorvoFrame* _pTrackFrames[kMaxAudioTracks] = {};
    int32_t _nPosition = 0;
    uint32_t _nElementsPerField = 1;
    bool _bLastSet = false;
};

// Audio of 2 MB blocks with a table at the end is stored in byte-reversed 32-bit words.
bool HasSwappedAudio(const CKorvoBlockReader& reader);
