#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/CTimeCode.h"
#include "reading/formats/CFormatDataReader.h"

// The frames of one video stream, or the sound of one audio stream, of a RIFF AVI file: DV type 1 (one
// interleaved "iavs" stream whose frames carry the sound too) and type 2 ("vids" and "auds"), IMX and the HD
// intra codecs. Chunks are found through the legacy idx1 index or the OpenDML indexes.
class CAviFileDataReader : public CFormatDataReader
{
public:
    static constexpr uint32_t kBufferSize = 65536;
    // Open results besides 0.
    static constexpr int32_t kTooShort = -1;
    static constexpr int32_t kNoStream = 4;
    static constexpr int32_t kNoEntries = 5;

    struct AviIndexEntry {
        uint64_t nOffset;  // of the chunk header, before the index base is added
        uint32_t nSize;
    };
    struct AviSuperEntry {
        uint64_t nOffset;
        uint32_t nSize;
        uint32_t nDuration;
    };
    struct AviWaveFormat {
        uint16_t nFormatTag = 0;
        uint16_t nChannels = 0;
        uint32_t nSamplesPerSec = 0;
        uint32_t nAvgBytesPerSec = 0;
        uint16_t nBlockAlign = 0;
        uint16_t nBitsPerSample = 0;
        uint16_t nExtraSize = 0;
    };
    struct AviStream {
        uint32_t nNumber = 0;
        char type[4] = {};
        char chunkId[4] = {};
        bool bHasChunkId = false;
        uint32_t nLargestChunk = 0;
        uint32_t bitmap[10] = {};  // size, width, height, planes and bit count, compression, ...
        AviWaveFormat wave;
        std::vector<AviIndexEntry> index;
        std::vector<AviSuperEntry> superIndex;
        // For PCM sound: the first sample of each chunk, and the sample count behind the last.
        std::vector<uint64_t> sampleStart;

        bool Is(const char* name) const;
    };

    // kind 1 reads video, 2 sound.
    CAviFileDataReader(int32_t kind, const std::string& logName);

    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    // The index-th "auds" stream for the sound reader; 1 when there is none.
    int32_t SelectAudioStream(int32_t index) override;
    uint32_t GetFormat(uint8_t** format) override;
    bool GetVideoInfo(VideoInfo* info) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;

    const std::vector<AviStream>& GetStreams() const { return _streams; }
    TcSystem GetSystem() const { return _nSystem; }
    uint64_t GetIndexBase() const { return _nIndexBase; }
    uint32_t GetStep() const { return _nStep; }

private:
    void ParseStream(const uint8_t* list, uint32_t size);
    void ReadIdx1();
    void ReadOpenDmlIndexes();
    bool Select(size_t stream);
    void LocateData();
    // The unit of a frame, without moving; 101 consumes nothing.
    int32_t ReadFrame(size_t frame, uint8_t* buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);
    int32_t ExtractDvAudio(uint8_t* buffer, uint32_t size, uint32_t* sizeOut);
    AviStream* Selected() { return _nSelected < _streams.size() ? &_streams[_nSelected] : nullptr; }
    // Whether the selected stream is sound timed by its samples rather than by chunks.
    bool TimedBySamples();
    // Stands on the chunk that holds the sample of the time, written back as that chunk's time.
    int32_t GoToSampleTime(double* seconds);

    int32_t _nKind;
    TcSystem _nSystem = 3;
    double _dRate = 50.0;
    uint32_t _nTotalFields = 0;
    int32_t _nStartField = 0;
    uint32_t _nIndexKind = 0;  // 3: an OpenDML super index, 4: an OpenDML index of chunks
    bool _bHasIdx1 = false;
    uint64_t _nMoviPos = 0;
    uint64_t _nIndexBase = 0;
    uint32_t _nStep = 2;
    size_t _nFrame = 0;
    bool _bAudioFromDv = false;
    std::vector<uint32_t> _dvAudioTable;  // two word indexes per sample
    std::vector<uint8_t> _dvFrame;
    std::vector<AviStream> _streams;
    size_t _nSelected = SIZE_MAX;
};
