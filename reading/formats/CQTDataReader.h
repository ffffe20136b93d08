#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/CTimeCode.h"
#include "reading/formats/CFormatDataReader.h"

// One track of a QuickTime movie (or of a reference movie whose media lie in sibling files), sample by sample:
// DV, DVCPRO, DVCPRO HD, IMX, Motion-JPEG, Hydrel and ProRes video and PCM sound.
class CQTDataReader : public CFormatDataReader
{
public:
    static constexpr uint32_t kInitialBufferSize = 4096;
    // Open results besides 0.
    static constexpr int32_t kMovieCut = 2;  // the data ended inside the movie atom, or an atom overruns it
    static constexpr int32_t kZeroSize = -3;
    static constexpr int32_t kNoTrack = -4;
    static constexpr int32_t kNoTrackOfKind = -5;
    static constexpr int32_t kNoChunks = -6;
    static constexpr int32_t kNoDataFile = -7;  // the track's data file cannot be opened
    // Sample-table results.
    static constexpr int32_t kNoTimes = 1;
    static constexpr int32_t kNoSampleToChunk = 2;
    static constexpr int32_t kNoSizes = 3;
    static constexpr int32_t kNoChunkOffsets = 4;

    struct QTSample {
        uint64_t nOffset;  // within the chunk
        uint32_t nSize;
        uint64_t nTimeOffset;  // within the chunk, media units
        bool bSync;
    };
    struct QTChunk {
        uint64_t nOffset;
        double dStartTime;
        uint64_t nByteSize;
        std::vector<QTSample> samples;
    };
    struct QTTrack {
        char type[4] = {'u', 'n', 'k', 'n'};
        uint32_t nTimeScale = 0;
        bool bHasSync = false;
        std::vector<uint8_t> description;  // the whole stsd atom
        uint64_t nSkip = 0;                // media units of the edit list to drop
        uint32_t nWidth = 0;
        uint32_t nHeight = 0;
        bool bExternal = false;
        std::string szDataFile;
        std::vector<QTChunk> chunks;

        bool Is(const char* handler) const;
    };

    // kind 1 reads the video track, 2 the sound track.
    CQTDataReader(int32_t kind, const std::string& logName);
    ~CQTDataReader() override;

    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    int32_t SelectAudioStream(int32_t index) override;
    uint32_t GetFormat(uint8_t** format) override;
    bool GetVideoInfo(VideoInfo* info) override;
    // A sample (with a sync table: a sync sample and the samples up to the next one); 101 consumes nothing.
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;

    // Bytes put in front of the first data read after positioning; with a null buffer only their count.
    virtual uint32_t WriteStreamHeader(uint8_t* buffer);
    // The stsd atom of the track being parsed, header included; 0 or a result that ends the parse.
    virtual int32_t OnSampleDescription(const uint8_t* atom, uint64_t size);

    const std::vector<std::unique_ptr<QTTrack>>& GetTracks() const { return _tracks; }
    const QTTrack* GetCurrentTrack() const { return _pTrack; }
    TcSystem GetSystem() const { return _nSystem; }

protected:
    // The track whose atoms are being parsed.
    QTTrack* ParsingTrack() const { return _pParsing; }
    bool _bFirstRead = true;

private:
    struct Atom;
    struct Place {
        size_t nChunk;
        size_t nSample;
    };

    int32_t ParseMovie(const uint8_t* body, uint64_t size);
    int32_t ParseTrack(const uint8_t* body, uint64_t size);
    int32_t ParseMedia(QTTrack& track, const uint8_t* body, uint64_t size);
    int32_t ParseMediaInfo(QTTrack& track, const Atom& minf);
    void ParseDataReference(QTTrack& track, const Atom& dinf);
    int32_t ParseSampleTable(QTTrack& track, const uint8_t* body, uint64_t size);
    void DetectSystem(double secondsPerSample);
    void ReadStartField(const QTTrack& track);
    // The steps that make a track current: buffer, counters, data file, first chunk.
    int32_t UseTrack(QTTrack* track);
    // Leaves out the samples that end past the end of the file read (one cut short in transfer).
    void DropSamplesPastEnd(QTTrack& track);

    bool IsSync(Place place) const;
    bool StepBack(Place& place) const;
    double TimeOf(Place place) const;
    // The bytes of the unit at the current place into the buffer, as GetNextData describes.
    int32_t ReadUnit(uint8_t* buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);

    char _szTrackType[4];
    uint64_t _nCreationTime = 0;
    uint32_t _nMovieTimeScale = 0;
    uint64_t _nMovieDuration = 0;
    int32_t _nStartField = 0;
    TcSystem _nSystem = 3;
    double _dFieldDuration = 0.02;
    std::vector<std::unique_ptr<QTTrack>> _tracks;
    QTTrack* _pTrack = nullptr;
    QTTrack* _pParsing = nullptr;
    Place _place{0, 0};
    double _dTime = 0.0;
    double _dCutTime = -1.0;  // where the samples of a cut file end, in seconds; negative when whole
    bool _bReopen = false;
    std::string _szMovieName;   // the source the movie was opened on
    std::string _szOpenedName;  // the file the source reads now
};
