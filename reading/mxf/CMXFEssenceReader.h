#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "reading/framework/CDataReader.h"
#include "reading/mxf/CMXFPackage.h"
#include "reading/mxf/CMXFPartition.h"

// A stretch of essence named by one source clip of the material package.
struct CMXFEssenceSegment {
    uint64_t nEssenceStart = 0;
    int64_t nFirstEditUnit = 0;
    int64_t nDuration = 0;
    CMXFPartition* pPartition = nullptr;
};

// The base of the readers of MXF files written by other systems. Open finds the partitions, their index
// segments and the parts of the header metadata the readers need, derives edit rate, duration, start and
// timecode system, and leaves the reader on the first essence. The families add the essence work through the
// two descriptor hooks and their own GetNextData/GetPrevData.
class CMXFEssenceReader : public CDataReader
{
public:
    // Open results besides 0.
    static constexpr int32_t kTooShort = -1;
    static constexpr int32_t kNoHeaderPartition = -2;
    static constexpr int32_t kBadHeaderKey = -15;
    static constexpr int32_t kKeyUnreadable = 1;
    static constexpr int32_t kDoesNotFit = 2;
    static constexpr int32_t kNoPackage = -16;
    static constexpr int32_t kNoBodyPartition = -17;
    static constexpr int32_t kNoSegment = -20;
    static constexpr int32_t kNoEssencePartition = -21;

    // Bounds on what a file can make the reader hold.
    static constexpr uint32_t kMaxMetadataBytes = 64u << 20;
    static constexpr uint32_t kMaxFooterScan = 0x100000;
    static constexpr int64_t kMaxEditUnits = int64_t{1} << 40;

    CMXFEssenceReader(uint32_t bufferSize, const std::string& logName);
    ~CMXFEssenceReader() override;

    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;

    // Called by Open for each descriptor set of the essence's partition.
    virtual int32_t OnPictureDescriptor(const uint8_t* value, uint64_t length);
    virtual int32_t OnSoundDescriptor(const uint8_t* value, uint64_t length);

    // What Open found, for the families and for tests.
    double GetEditRate() const { return _dEditRate; }
    int64_t GetDuration() const { return _nDuration; }
    int64_t GetStart() const { return _nStart; }
    uint32_t GetEditUnitSize() const { return _nEditUnitSize; }
    uint8_t GetTcSystem() const { return _nTcSystem; }
    uint32_t GetFieldsPerEditUnit() const { return _nFieldsPerEditUnit; }
    double GetFieldRate() const { return _dFieldRate; }
    uint64_t GetRunIn() const { return _nRunIn; }
    const std::vector<std::unique_ptr<CMXFPartition>>& GetPartitions() const { return _partitions; }
    const std::vector<CMXFEssenceSegment>& GetSegments() const { return _segments; }

    // The video type and picture facts of a picture descriptor's value; progressive follows the system.
    static bool ParsePictureDescriptor(const uint8_t* value, uint64_t length, uint8_t tcSystem, VideoInfo* info);

protected:
    // Buffer helpers. Positions are file positions.
    uint64_t Tell() const { return _nBufferPos + static_cast<uint64_t>(_pCursor - _pBuffer.get()); }
    // At least count bytes buffered at the cursor, refilling as needed; false at the end of the source or when
    // the buffer is too small.
    bool Ensure(uint32_t count);
    // Grows the buffer to hold count bytes (the length rounded down to 4096, plus 4096); false beyond the bound.
    bool GrowBuffer(uint64_t count);
    bool SkipBytes(uint64_t count);
    // Puts the cursor on position with count bytes buffered behind it. When they are not buffered yet, the read
    // starts as far before position as the buffer allows (not before lowest), so that a backwards walk mostly
    // stays in the buffer.
    bool LoadAt(uint64_t position, uint32_t count, uint64_t lowest);
    bool LoadAt(uint64_t position, uint32_t count) { return LoadAt(position, count, position); }
    // Hands out the up to unit bytes that end at position (none before lowest): into *buffer, or *buffer set to
    // the cursor when it is null. start receives their file position; false when they cannot be loaded.
    bool DeliverBefore(uint64_t position, uint64_t lowest, uint32_t unit, uint8_t** buffer, uint32_t* sizeOut,
                       uint64_t* start);
    // A key and its BER length at the cursor, consumed.
    bool ReadKey(uint8_t* key, uint64_t* length);
    // Skips one KLV fill item when one is next; false when it cannot.
    bool SkipFill();
    int64_t FileSize() const;
    uint64_t Remaining(uint64_t position) const;

    CMXFPartition* HeaderPartition() const { return _partitions.empty() ? nullptr : _partitions.front().get(); }
    CMXFEssenceSegment* CurrentSegment() { return _nSegment < _segments.size() ? &_segments[_nSegment] : nullptr; }

    std::vector<std::unique_ptr<CMXFPartition>> _partitions;  // header first
    std::vector<uint64_t> _ripPositions;
    std::unique_ptr<CMXFPackage> _pPackage;
    std::vector<CMXFSequence*> _sequences;
    std::vector<std::unique_ptr<CMXFComponent>> _components;
    std::vector<CMXFEssenceSegment> _segments;
    size_t _nSegment = 0;  // _segments.size() past the last
    uint64_t _nSegmentStart = 0;
    uint64_t _nRunIn = 0;
    double _dEditRate = 25.0;
    int64_t _nDuration = -1;
    int64_t _nStart = 0;
    uint32_t _nEditUnitSize = 0;
    uint32_t _nPrivateEditUnitSize = 0;
    uint8_t _nTcSystem = 0;
    uint32_t _nFieldsPerEditUnit = 2;
    double _dFieldRate = 50.0;
    bool _bOpened = false;  // the last Open succeeded

private:
    void Reset();
    int32_t FindHeaderPartition();
    int32_t ReadPartitionPack(CMXFPartition& partition);
    int32_t ReadIndexSegments(CMXFPartition& partition);
    int32_t ReadPartitionAt(uint64_t position, std::unique_ptr<CMXFPartition>* out);
    void FindFooter(CMXFPartition& header);
    int32_t ReadPartitions();
    // The partitions named by the random index pack, or chained back from the footer; false when one of them
    // cannot be read (a file cut short), leaving only the header partition.
    bool FollowRandomIndex(uint64_t size);
    bool FollowFooterChain(uint64_t size);
    // The partitions found by walking the KLVs from the header's essence to the end of the file or the first
    // KLV cut short.
    void ScanPartitionsForwards(uint64_t size);
    // The key and length of the KLV at the position, read straight from the source (Seek before reading
    // through the buffer again); false when they cannot be read whole.
    bool PeekKey(uint64_t position, uint8_t* key, uint64_t* length, uint32_t* headerSize);
    int32_t ReadHeaderMetadata();
    int32_t ParseHeaderMetadata(const uint8_t* begin, const uint8_t* end);
    void TakePictureAndTimecode();
    int32_t FormSegments();
    int32_t ReadDescriptors();
    void DeriveSystem();
    CMXFComponent* FindComponent(const uint8_t* uid);
};
