#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reading/mxf/CMXFEssenceReader.h"

// The file type of a source name, handed to the readers that must tell picture files from sound files.
using FileTypeDetector = std::function<FileType(const char* name)>;

// The readers of OP-Atom files: one track per file, as one clip-wrapped essence element read in fixed units.
// Files still being written are followed.
class CMXFOPAtomReaderBase : public CMXFEssenceReader
{
public:
    static constexpr int32_t kBeyondEnd = 1;
    static constexpr int32_t kNoSoundFile = -2;
    static constexpr int32_t kNoSound = -100;

    explicit CMXFOPAtomReaderBase(const std::string& logName) : CMXFEssenceReader(32768, logName) {}

    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;

    virtual double PositionToTime(uint64_t position);

    uint64_t GetEssenceStart() const { return _nEssenceStart; }
    uint32_t GetReadUnit() const { return _nReadUnit; }
    bool IsGrowing() const { return _bGrowing; }

protected:
    // Where reading stops: the end of the essence element, or of a growing file's known edit units.
    uint64_t Limit() const;
    // Looks at a growing file again when fewer than one edit unit lies before the limit; 100 when it has not
    // grown. plusOne counts a started read group.
    int32_t FollowGrowth(uint64_t position, bool plusOne);

    uint64_t _nEssenceStart = 32768;
    uint64_t _nEssenceLength = 0;
    uint32_t _nReadUnit = 0;
    uint32_t _nGroup = 1;  // edit units per read group
    bool _bGrowing = false;
};

class CMXFOPAtomVideoReader : public CMXFOPAtomReaderBase
{
public:
    explicit CMXFOPAtomVideoReader(const std::string& logName) : CMXFOPAtomReaderBase(logName) {}

    bool GetVideoInfo(VideoInfo* info) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int32_t Open(uint32_t flag) override;
    int32_t OnPictureDescriptor(const uint8_t* value, uint64_t length) override;
    double PositionToTime(uint64_t position) override;

private:
    std::vector<uint8_t> _descriptor;
};

class CMXFOPAtomAudioReader : public CMXFOPAtomReaderBase
{
public:
    static constexpr int32_t kMaxFiles = 16;

    CMXFOPAtomAudioReader(const std::string& logName, FileTypeDetector detect)
        : CMXFOPAtomReaderBase(logName), _detect(std::move(detect))
    {
    }

    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int32_t GetExtendedInfo(double fieldRate) override;
    int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* bits, uint8_t* unused) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;
    int32_t OnSoundDescriptor(const uint8_t* value, uint64_t length) override;
    double PositionToTime(uint64_t position) override;

    const std::vector<std::string>& GetSoundFiles() const { return _files; }
    double GetDurationSeconds() const { return _dDurationSeconds; }

private:
    // The sound files beside a picture file, from the track names in its name.
    static std::vector<std::string> FindSoundFiles(const std::string& picture, const std::string& logName);
    int32_t ReadWithChildren(bool forwards, uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);
    template <typename Op>
    int32_t ForEachChild(Op op);
    uint32_t BytesPerSample() const { return _nBitsPerSample / 8; }

    FileTypeDetector _detect;
    uint32_t _nBitsPerSample = 0;
    int32_t _nChannels = 0;
    double _dDurationSeconds = 0.0;
    FileType _nMode = Unknown_File;
    std::vector<std::string> _files;
    std::vector<std::unique_ptr<CMXFOPAtomAudioReader>> _children;
    uint32_t _nFieldMultiplier = 2;
    std::vector<uint32_t> _pattern;
    size_t _nPatternCursor = 0;
};
