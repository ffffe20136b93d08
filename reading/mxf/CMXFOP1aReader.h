#pragma once

#include <cstdint>
#include <vector>

#include "reading/mxf/CMXFEssenceReader.h"

// The readers of OP1a files in which every edit unit (one frame) is one content package of KLV-wrapped
// elements. Files still being written are followed: their length comes from the file size.
class CMXFOP1aReaderBase : public CMXFEssenceReader
{
public:
    static constexpr int32_t kBeyondEnd = 1;
    static constexpr int32_t kFurtherKeyUnreadable = 102;
    static constexpr int32_t kFirstKeyUnreadable = 103;
    static constexpr int32_t kElementTooLong = 104;
    static constexpr int32_t kBadLength = 110;
    static constexpr int32_t kNoElementKey = 111;
    static constexpr int32_t kBadStream = -2;
    static constexpr int32_t kNoSound = -100;

    explicit CMXFOP1aReaderBase(const std::string& logName) : CMXFEssenceReader(16384, logName) {}

    int32_t GoToTime(double* seconds) override;
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;

    uint64_t GetEssenceStart() const { return _nEssenceStart; }
    bool IsGrowing() const { return _bGrowing; }

protected:
    // Recomputes the duration of a growing file from its size.
    void RecomputeDuration();
    // 0 when one more edit unit lies before the essence's end at position (a growing file is looked at
    // again), else 100.
    int32_t CheckEnd(uint64_t position);
    // The edit unit of a field, or 1 / 100 when it lies beyond the end; a sound reader takes the whole file
    // as the new end of a growing file, a picture reader whole edit units.
    int32_t FieldToEditUnit(int64_t field, bool wholeFile, int64_t* editUnit);
    double SecondsAt(uint64_t position) const;

    uint64_t _nEssenceStart = 6144;
    bool _bGrowing = false;
};

class CMXFOP1aPictureReader : public CMXFOP1aReaderBase
{
public:
    explicit CMXFOP1aPictureReader(const std::string& logName) : CMXFOP1aReaderBase(logName) {}

    bool GetVideoInfo(VideoInfo* info) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GetCurrentFieldInfo(uint32_t* rate, uint32_t* editUnitSize, uint8_t* aspect) override;
    int32_t Open(uint32_t flag) override;
    int32_t OnPictureDescriptor(const uint8_t* value, uint64_t length) override;

    uint32_t GetPictureOffset() const { return _nPictureOffset; }

private:
    // The picture element of the edit unit buffered at the cursor.
    int32_t TakePicture(uint64_t position, uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);

    std::vector<uint8_t> _descriptor;
    uint32_t _nPictureOffset = 0;
};

class CMXFOP1aSoundReader : public CMXFOP1aReaderBase
{
public:
    static constexpr int32_t kMaxElements = 16;

    explicit CMXFOP1aSoundReader(const std::string& logName) : CMXFOP1aReaderBase(logName) {}

    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    int32_t SelectAudioStream(int32_t index) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GetCurrentFieldInfo(uint32_t* sampleRate, uint32_t* bits, uint8_t* unused) override;
    int32_t Open(uint32_t flag) override;
    int32_t OnSoundDescriptor(const uint8_t* value, uint64_t length) override;

    int32_t GetElementCount() const { return _nElements; }

private:
    struct Element {
        uint32_t nOffset = 0;
        uint32_t nSize = 0;  // the whole KLV
    };
    // Copies the selected elements of the edit unit at editUnit.
    int32_t TakeSound(uint64_t editUnit, uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);

    uint32_t _nBitsPerSample = 16;
    uint32_t _nSampleRate = 48000;
    int32_t _nChannels = -1;
    Element _elements[kMaxElements];
    int32_t _nElements = 0;
    int32_t _nSelected = -2;  // none before Open
    uint32_t _nSelectedOffset = 0;
    uint32_t _nReadSize = 0;
};
