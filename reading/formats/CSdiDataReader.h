#pragma once

#include <cstdint>
#include <string>

#include "reading/formats/CFormatDataReader.h"

// SDI capture files: uncompressed frames of exactly 876032 bytes (two fields of 438016) back to back, at 50
// fields per second. The base positions by field and delivers whole frames.
class CSdiDataReader : public CFormatDataReader
{
public:
    static constexpr uint32_t kFrameSize = 876032;
    static constexpr uint32_t kFieldSize = 438016;
    static constexpr uint32_t kInitialBufferSize = 1440;
    static constexpr uint32_t kBufferedFrames = 5;

    explicit CSdiDataReader(const std::string& logName);

    // -1 without an open source; the reader then stands on the first frame.
    int32_t Open(uint32_t flag) override;
    // One frame per call (the last one short when the file ends inside it); a null *buffer gets a pointer into
    // the reader's buffer.
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    // 1 beyond the last field.
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;

    uint64_t GetFieldCount() const { return _nFieldCount; }

protected:
    double SecondsAt(uint64_t position) const;
    // The bytes of the frame at the cursor to deliver: at most a frame, fewer at the end; 0 when none.
    uint32_t FrameBytesHere();

    double _dFieldRate = 50.0;
    uint64_t _nKnownLength = 0;
    uint64_t _nInPoint = 0;
    uint64_t _nFieldCount = 0;
};

class CSdiVideoDataReader : public CSdiDataReader
{
public:
    using CSdiDataReader::CSdiDataReader;
};

// The audio blocks each frame carries, as one record per frame.
class CSdiAudioDataReader : public CSdiDataReader
{
public:
    static constexpr uint32_t kRecordSize = 23428;

    using CSdiDataReader::CSdiDataReader;

    // The record of the next frame; the size written is the record's.
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    // The record of the frame before the current position, which steps back onto it.
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;

private:
    void BuildRecord(uint8_t* record) const;
};
