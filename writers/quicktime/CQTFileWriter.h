#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/CTimeCode.h"
#include "writers/formatdata/CKorvoFormatDataWriter.h"
#include "writers/quicktime/QTAtom.h"

class CXmlDocument;
class CXmlNode;

// Builds a QuickTime movie: a self-contained one (essence in the movie's media data, movie atom at the
// end) or a reference movie whose essence goes to side files that the movie points at through aliases.
class CQTFileWriter
{
public:
    static constexpr uint32_t kBufferSize = 0x80000;
    static constexpr uint32_t kSamplesPerChunk = 20;
    static constexpr uint32_t kAlignment = 512;
    static constexpr int kMaxAudioTracks = 8;

    struct Chunk {
        uint64_t offset;
        uint32_t count;  // samples
    };

    explicit CQTFileWriter(bool selfContained);
    virtual ~CQTFileWriter();
    CQTFileWriter(const CQTFileWriter&) = delete;
    CQTFileWriter& operator=(const CQTFileWriter&) = delete;

    // Reads "<CreateXml>", "<ExternalPath>", "<ClipName>" and "<LoggingInfo>"; the second text is the
    // side-car metadata file of the clip XML.
    virtual void SetParameters(const char* parameters, const char* metadataPath);
    virtual void WriteSampleDescription(QTAtom& stsd) { (void)stsd; }
    virtual std::string PixelAspectName() { return "square"; }
    virtual bool IsAnamorphic() { return _nAspect == 3 && _nHeight < 720; }
    virtual std::string FieldDominanceName();

    // The aspect code (3 16:9, else 4:3) when the pictures tell it after Begin; it reaches the movie atom.
    void SetAspectCode(uint8_t code) { _nAspect = code; }
    // From this size of the movie on, chunk offsets are 64-bit and the media data gets a 64-bit size.
    void SetLargeFileThreshold(uint64_t bytes) { _nLargeFile = bytes; }
    // Writes the clip XML beside the movie (the movie's path with the extension "xml").
    void QTCreateXML(int64_t frameCount);

    const std::string& GetMoviePath() const { return _szMoviePath; }
    uint64_t GetFramesWritten() const { return _nFrames; }

protected:
    int CreateMovieWriter(const char* path);
    // Starts the movie: side files in reference mode, then the media data start.
    int StartMovie(uint8_t standardCode, int audioChannels, bool stereoPairs, const CTimeCode& start,
                   uint32_t durationFields);
    int WriteVideoFrame(const uint8_t* data, uint32_t size);
    int WriteAudioChunk(int track, const uint8_t* data, uint32_t bytes, uint32_t samples);
    // Closes the pending chunk, writes the movie atom and fixes the media data size; 0 or the first failure.
    int FinishMovie();
    void ReleaseMovie();
    void QTCreateXMLLogs(CXmlDocument& document, CXmlNode& clip, CXmlDocument& metadata);

    int AudioBytesPerSample() const { return _b24Bit ? 3 : 2; }
    int AudioChannelsPerTrack() const { return _bStereoPairs ? 2 : 1; }
    uint32_t VideoTimeScale() const;
    uint64_t MovieDurationMs(uint64_t frames) const { return frames * 100 * 1000 / VideoTimeScale(); }

    // Movie parts.
    std::vector<uint8_t> BuildMovieAtom(uint64_t frames);
    void AddVideoTrack(QTAtom& moov, uint64_t frames);
    void AddAudioTrack(QTAtom& moov, int track, uint64_t frames);
    void AddTimecodeTrack(QTAtom& moov, uint64_t frames);
    void AddDataReference(QTAtom& minf, const std::string& sideFile);
    static void AddSampleToChunk(QTAtom& stbl, const std::vector<Chunk>& chunks);
    static void AddChunkOffsets(QTAtom& stbl, const std::vector<Chunk>& chunks, bool large);
    int WriteMovieAtom(uint64_t frames);
    int CloseVideoChunk(bool closing = false);
    int PadMovie();
    int Write(CKorvoFormatDataWriter& writer, const void* data, uint32_t size, uint64_t* position);

    bool _bSelfContained;
    bool _b24Bit = false;
    int _nDVKind = 0;
    std::unique_ptr<CKorvoFormatDataWriter> _movie;
    std::unique_ptr<CKorvoFormatDataWriter> _video;  // reference mode
    std::vector<std::unique_ptr<CKorvoFormatDataWriter>> _audio;
    std::string _szMoviePath;
    uint8_t _nStandard = 3;
    uint32_t _nFieldsPerFrame = 2;
    int _nWidth = 720;
    int _nHeight = 576;
    int _nWidthOverride = -1;
    int _nHeightOverride = -1;
    uint8_t _nAspect = 0;
    CTimeCode _start;
    uint64_t _nAnnounced = 0;
    uint64_t _nFrames = 0;
    std::vector<Chunk> _currentChunk;  // offsets and sizes of its samples (count = size)
    std::vector<Chunk> _videoChunks;
    std::vector<uint32_t> _frameSizes;
    int _nAudioTracks = 0;
    bool _bStereoPairs = false;
    std::vector<uint64_t> _audioSamples;
    std::vector<std::vector<Chunk>> _audioChunks;
    std::vector<uint64_t> _audioSidePos;
    uint64_t _nMoviePos = 0;
    uint64_t _nVideoSidePos = 0;
    uint64_t _nMdatStart = 0;
    bool _bTimecodeTrack = true;
    bool _bTimecodeSample = false;
    bool _bMovieFinal = false;  // reference mode: the movie atom is written and the movie closed
    bool _bRealCounts = false;  // the movie atom being built holds what was written, not what was announced
    uint32_t _nPrefixBytes = 0;
    uint64_t _nLargeFile = 0x100000000ull;
    int _nFailure = 0;  // the first write failure

    bool _bCreateXml = false;
    std::string _szExternalPath;
    std::string _szClipName;
    std::string _szLoggingInfo;
    std::string _szMetadataPath;
};
