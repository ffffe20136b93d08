#pragma once

#include <cstdint>
#include <vector>

#include "reading/mxf/CMXFEssenceReader.h"

// The readers of long-GOP HD files whose body partitions are indexed by index table segments: the index
// entries are walked partition by partition. The entries of a partition address the essence of the partition
// before it; reading starts at the third partition of the list. These readers copy into the caller's buffer.
class CMXFXDCAMHDReaderBase : public CMXFEssenceReader
{
public:
    static constexpr int32_t kBeyondEnd = 1;
    static constexpr int32_t kFurtherKeyUnreadable = 102;
    static constexpr int32_t kKeyUnreadable = 103;
    static constexpr size_t kFirstPartition = 2;

    explicit CMXFXDCAMHDReaderBase(const std::string& logName) : CMXFEssenceReader(65536, logName) {}

    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GetCurrentFieldInfo(uint32_t* a, uint32_t* b, uint8_t* c) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;

    // The element(s) of the current entry into the caller's buffer.
    virtual int32_t ReadEntry(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) = 0;
    // Computes the current partition's base.
    virtual void EnterPartition();

protected:
    // An entry of the list: partition and entry number.
    struct Place {
        size_t nPartition = 0;
        int64_t nEntry = 0;
    };
    const std::vector<CMXFIndexEntry>& Entries(size_t partition) const { return _partitions[partition]->entries; }
    const CMXFIndexEntry* EntryAt(const Place& place) const;
    // Moves by count entries across partitions (from the first readable one on); false at either end.
    bool Move(Place* place, int64_t count) const;
    // The first entry of the next readable partition with entries from place's partition on, or the end.
    bool SettleForwards();
    // A file position from the current base and an offset; false when it lies outside the file.
    bool PositionOf(uint64_t offset, uint64_t* position) const;

    Place _current;  // _current.nPartition == _partitions.size() past the end
    int64_t _nBase = 0;

private:
    // The essence of the last partition has no index when the file was cut before the partition that carries
    // it: its content packages are walked and indexed as the writer would have, in a partition of their own.
    void IndexTrailingEssence();
};

class CMXFXDCAMHDVideoReader : public CMXFXDCAMHDReaderBase
{
public:
    explicit CMXFXDCAMHDVideoReader(const std::string& logName) : CMXFXDCAMHDReaderBase(logName) {}

    bool GetVideoInfo(VideoInfo* info) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GetCurrentFieldInfo(uint32_t* rate, uint32_t* editUnitSize, uint8_t* aspect) override;
    int32_t Open(uint32_t flag) override;
    int32_t OnPictureDescriptor(const uint8_t* value, uint64_t length) override;
    int32_t ReadEntry(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;

    int64_t GetLeadingFrames() const { return _nLeadingFrames; }
    // The display-order correction of an entry (0 when its walk leaves what the walk supports).
    int64_t Reorder(const Place& place) const;

private:
    std::vector<uint8_t> _descriptor;
    int64_t _nLeadingFrames = 0;
};

class CMXFXDCAMHDAudioReader : public CMXFXDCAMHDReaderBase
{
public:
    explicit CMXFXDCAMHDAudioReader(const std::string& logName) : CMXFXDCAMHDReaderBase(logName) {}

    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GetCurrentFieldInfo(uint32_t* sampleRate, uint32_t* bits, uint8_t* unused) override;
    int32_t Open(uint32_t flag) override;
    int32_t OnSoundDescriptor(const uint8_t* value, uint64_t length) override;
    int32_t ReadEntry(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;

private:
    int32_t _nChannels = 0;
    uint32_t _nBitsPerSample = 0;
};
