#pragma once

#include <cstdint>
#include <vector>

#include "reading/mxf/CMXFEssenceReader.h"

// The readers of low-resolution IMX proxies: each picture element holds a run of small fixed-size frames
// (after 9216 leading bytes), each sound edit unit four stereo elements. An edit unit spans 50 units in the
// 625 system and 60 otherwise; a frame spans 10 of them.
class CMXFIMXProxyReaderBase : public CMXFEssenceReader
{
public:
    static constexpr int32_t kBeyondEnd = 1;
    static constexpr int32_t kKeyUnreadable = 103;
    static constexpr int32_t kBadStream = -2;
    static constexpr uint32_t kLeadingBytes = 9216;
    static constexpr uint32_t kFrameArea = 384000;

    explicit CMXFIMXProxyReaderBase(const std::string& logName) : CMXFEssenceReader(65536, logName) {}

    int32_t GoToTime(double* seconds) override;
    int32_t Open(uint32_t flag) override;

    virtual double PositionToTime(uint64_t position);

protected:
    // The segment holding a unit, or null; 1 then.
    CMXFEssenceSegment* SegmentOfUnit(int64_t unit, size_t* index);
    int64_t UnitOf(int64_t field) const { return _nFieldsPerEditUnit == 2 ? field / 2 : field; }

    uint32_t _nUnitsPerEditUnit = 50;
};

class CMXFIMXProxyVideoReader : public CMXFIMXProxyReaderBase
{
public:
    static constexpr uint32_t kStreamHeaderSize = 18;

    explicit CMXFIMXProxyVideoReader(const std::string& logName) : CMXFIMXProxyReaderBase(logName) {}

    bool GetVideoInfo(VideoInfo* info) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GetCurrentFieldInfo(uint32_t* rate, uint32_t* frameSize, uint8_t* aspect) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;
    int32_t OnPictureDescriptor(const uint8_t* value, uint64_t length) override;
    double PositionToTime(uint64_t position) override;

private:
    // Loads the current edit unit; false when it cannot be read.
    bool LoadUnit();
    // Whether frame k of the loaded edit unit exists (it starts with a sequence header).
    bool HasFrame(uint32_t k) const;
    int32_t TakeFrame(uint32_t k, uint8_t* buffer, uint32_t* sizeOut, double* secondsOut);
    uint32_t FramesPerUnit() const { return kFrameArea / _nFrameSize; }

    uint8_t _streamHeader[kStreamHeaderSize] = {};
    bool _bHasStreamHeader = false;
    bool _bHeaderPending = true;
    uint8_t _nAspect = 0;
    uint32_t _nFrameSize = 76800;
    uint64_t _nUnitStart = 0;   // file position of the current edit unit
    uint32_t _nCounter = 0;     // frames of the edit unit already handed out
    uint32_t _nAreaOffset = 0;  // of the frame area in the loaded edit unit
};

class CMXFIMXProxyAudioReader : public CMXFIMXProxyReaderBase
{
public:
    explicit CMXFIMXProxyAudioReader(const std::string& logName) : CMXFIMXProxyReaderBase(logName) {}

    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    int32_t SelectAudioStream(int32_t index) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t Open(uint32_t flag) override;
    double PositionToTime(uint64_t position) override;

private:
    int32_t Streams() const;
    uint32_t DeltaOf(int32_t stream) const;
    int32_t TakeSound(uint64_t unit, uint8_t* buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);

    int32_t _nSelected = -2;
    uint32_t _nSelectedOffset = 0;
    uint32_t _nReadSize = 0;
};
