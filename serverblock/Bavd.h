#pragma once

#include <cstdint>
#include <memory>

// One server block in memory: the BAVD layout (big-endian bootstrap, media header, one element field per stored
// field and one element record per stored picture), parsed from a block or built picture by picture and saved
// into the block's header area. A parsed 2kTable block (the older 2 MB layout with its table at the end) is
// described by the same object, with bootstrap version 0.

class Bavd;

// Results of the entry loaders and savers.
constexpr int kBavdEntryOk = 0;
constexpr int kBavdEntryTooShort = -5;
constexpr int kBavdEntryBad = -8;
constexpr int kBavdEntryVersionLow = -11;
constexpr int kBavdEntryVersionHigh = -12;

// Results of Bavd::LoadFromBuffer and Bavd::SaveToBuffer.
constexpr int kBavdOk = 0;
constexpr int kBavdTooShort = 5;
constexpr int kBavdNotABlock = 8;
constexpr int kBavdVersionLow = 11;
constexpr int kBavdVersionHigh = 12;
constexpr int kBavdNoMemory = 16;
constexpr int kBavdTooManyFields = 17;
constexpr int kBavdTooManyRecords = 18;

// Sizes by version; -1 for a version without a layout.
int32_t GetBavdBootstrapSize(uint32_t version);
int32_t GetBavdMediaHeaderSize(uint32_t version);
int32_t GetBavdElemFieldSize(uint32_t version);
int32_t GetBavdElemRecordSize(uint32_t version);

struct BavdHeader {
    static constexpr uint32_t kBodyOffset = 8;
    static constexpr uint32_t kBodySize = 57;

    uint16_t _nBootStrapVersion = kDefaultBootStrapVersion;
    uint32_t _nBlockSize = 0;
    uint16_t _nHeaderVersion = kDefaultHeaderVersion;
    uint32_t _nMediaHeaderOffset = 0;
    uint16_t _nElemFieldVersion = kDefaultElemFieldVersion;
    uint16_t _nElemFieldSize = 0;
    uint32_t _nElemFieldOffset = 0;
    uint16_t _nElemFieldCnt = 0;
    uint16_t _nElemRecordVersion = kDefaultElemRecordVersion;
    uint16_t _nElemRecordSize = 0;
    uint32_t _nElemRecordOffset = 0;
    uint16_t _nElemRecordCnt = 0;
    uint32_t _nTablesEnd[3] = {};
    uint32_t _nHeaderAreaSize = kDefaultHeaderAreaSize;
    uint8_t _nLayoutAV = 0;

    static constexpr uint16_t kDefaultBootStrapVersion = 257;
    static constexpr uint16_t kDefaultHeaderVersion = 258;
    static constexpr uint16_t kDefaultElemFieldVersion = 258;
    static constexpr uint16_t kDefaultElemRecordVersion = 257;
    static constexpr uint32_t kDefaultHeaderAreaSize = 0x8000;

    // Magic, version and body from the start of a block.
    int LoadFromBuffer(const uint8_t* bytes, uint64_t length);
    // The 57 body bytes that follow magic and version.
    int LoadBody(const uint8_t* bytes, uint64_t length, uint16_t version);
    int SaveToBuffer(uint8_t* bytes, uint64_t length) const;
    int SaveBody(uint8_t* bytes, uint64_t length, uint16_t version) const;
    // Newer versions within a major version are written as the newest layout known here.
    void ClampVersions();
    // Offsets, sizes and the tables end from the versions and counts.
    void ComputeLayout();
    // The tables end that ComputeLayout gives for the current versions and counts.
    uint32_t ComputeTablesEnd() const;
};

struct BavdMediaHeader {
    uint32_t _nFirstField = 0xFFFFFFFF;
    uint8_t _nVideoFormat = 0;  // 1..9 or 64
    uint8_t _nAudioFormat = 0;
    uint8_t _nVideoStandard = 0;  // 1 = 525, 2 = 625, 3 = 720, 4 = 1080 lines
    uint8_t _nRateSystem = 0;     // 1..8
    bool _bFormatFlag = false;
    bool _bProgressive = false;
    uint8_t _nAspectRatio = 0;
    uint8_t _nAudioGroupCount = 0;
    bool _bSimultaneous = false;

    int LoadFromBuffer(const uint8_t* bytes, uint64_t length, uint16_t version);
    int SaveToBuffer(uint8_t* bytes, uint64_t length, uint16_t version) const;
};

struct BavdTimecode {
    uint32_t _nField = 0;
    uint8_t _nByte = 0;
    uint8_t _nFlags = 0;
    uint32_t _nUserBits = 0;
};

struct BavdElemField {
    uint32_t _nFieldId = 0;
    uint8_t _nPictureByte = 0;
    BavdTimecode _tc[3];
    uint16_t _nExtra[2] = {};  // version 258 only

    void Clear() { *this = BavdElemField(); }
    int LoadFromBuffer(const uint8_t* bytes, uint64_t length, uint16_t version);
    int SaveToBuffer(uint8_t* bytes, uint64_t length, uint16_t version) const;
};

struct BavdElemRecord {
    static constexpr uint8_t kUnknownLines = 255;

    uint32_t _nDataOffset = 0;  // from the end of the header area
    uint32_t _nDataSize = 0;
    uint8_t _nWidth = 0;  // units of 32 pixels
    uint8_t _nLineVariant = 0;
    uint8_t _nChannelFlag = 0;
    uint8_t _nChannelByte = 0;
    const Bavd* _pOwner = nullptr;  // the line variant depends on the block's standard and format

    void Clear();
    void SetWidth(uint32_t pixels) { _nWidth = static_cast<uint8_t>((pixels + 31) / 32); }
    // Lines per picture element; doubled counts of the two-field formats are halved first.
    void SetLineVariant(uint32_t lines);
    void SetChannelFlag(bool on) { _nChannelFlag = on ? 1 : 0; }
    int LoadFromBuffer(const uint8_t* bytes, uint64_t length, uint16_t version);
    int SaveToBuffer(uint8_t* bytes, uint64_t length, uint16_t version) const;
};

class Bavd
{
public:
    Bavd() = default;
    Bavd(const Bavd&) = delete;
    Bavd& operator=(const Bavd&) = delete;

    // Parsing: a whole block, or only its header area when the length is the header-area size.
    int LoadFromBuffer(const uint8_t* buffer, uint64_t length);
    // Parsing the 2048-byte table of a 2kTable block.
    int LoadFrom2kTable(const uint8_t* table, uint64_t length);
    // Writes the header area of a BAVD block.
    int SaveToBuffer(uint8_t* buffer, uint64_t length);

    // 1: 2kTable block (carries values only), 2: BAVD 2 MB, 3: BAVD 8 MB; 0, 1 (no memory) or 2 (unknown type).
    int SetBlockType(uint32_t type);
    // 0, or 1 when the block is not a BAVD block of a known size.
    int SetBootStrapVersion(uint16_t version);
    int SetHeaderVersion(uint16_t version);
    int SetElemFieldVersion(uint16_t version);
    int SetElemRecordVersion(uint16_t version);
    void Reset();

    uint32_t GetHeaderAreaSize() const { return _header._nHeaderAreaSize; }
    uint32_t GetDataAreaSize() const;
    uint8_t GetLayoutAV() const { return _header._nLayoutAV; }
    uint32_t GetBlockSize() const { return _header._nBlockSize; }
    uint32_t GetMaxElements() const;
    // Bytes of bootstrap, media header and the given numbers of entries at the current versions.
    uint32_t ComputeHeaderSize(uint32_t elemFields, uint32_t elemRecords) const;

    void SetElemFieldCnt(uint16_t count) { _header._nElemFieldCnt = count; }
    void SetElemRecordCnt(uint16_t count) { _header._nElemRecordCnt = count; }
    void AddElemFieldCnt(uint16_t count)
    {
        _header._nElemFieldCnt = static_cast<uint16_t>(_header._nElemFieldCnt + count);
    }
    void AddElemRecordCnt(uint16_t count)
    {
        _header._nElemRecordCnt = static_cast<uint16_t>(_header._nElemRecordCnt + count);
    }
    uint16_t GetElemFieldCnt() const { return _header._nElemFieldCnt; }
    uint16_t GetElemRecordCnt() const { return _header._nElemRecordCnt; }

    void SetFirstField(uint32_t field) { _media._nFirstField = field; }
    void SetVideoStandard(uint8_t standard) { _media._nVideoStandard = standard; }
    void SetRateSystem(uint8_t system) { _media._nRateSystem = system; }
    void SetProgressive(bool on) { _media._bProgressive = on; }
    void SetAspectRatio(uint8_t code) { _media._nAspectRatio = code; }
    void SetFormatFlag(bool on) { _media._bFormatFlag = on; }
    void SetVideoFormat(uint8_t format) { _media._nVideoFormat = format; }
    void SetAudioFormat(uint8_t format) { _media._nAudioFormat = format; }
    void SetAudioGroupCount(uint8_t count) { _media._nAudioGroupCount = count; }
    void SetSimultaneousMode(bool on) { _media._bSimultaneous = on; }

    // Entry n, or nullptr for n of 200 and above (or when the entries cannot be allocated).
    BavdElemField* GetElemField(uint32_t n);
    BavdElemRecord* GetElemRecord(uint32_t n);
    const BavdElemField* GetElemField(uint32_t n) const;
    const BavdElemRecord* GetElemRecord(uint32_t n) const;

    const BavdHeader& GetHeader() const { return _header; }
    const BavdMediaHeader& GetMediaHeader() const { return _media; }
    uint32_t GetFirstField() const { return _media._nFirstField; }
    uint32_t GetFieldCount() const { return _header._nElemFieldCnt; }
    uint32_t GetFieldOutExcluded() const { return _media._nFirstField + _header._nElemFieldCnt; }
    uint32_t GetVideoFormat() const { return _media._nVideoFormat; }
    uint32_t GetAudioGroupCount() const { return _media._nAudioGroupCount; }
    bool IsProgressive() const { return _media._bProgressive; }
    uint32_t GetRecordsPerField() const;
    uint32_t GetFieldsPerRecord() const;

private:
    bool AllocateElements();
    bool IsWritableBavd() const;
    int LoadElements(const uint8_t* buffer, uint64_t length);

    BavdHeader _header;
    BavdMediaHeader _media;
    std::unique_ptr<BavdElemField[]> _pFields;
    std::unique_ptr<BavdElemRecord[]> _pRecords;
};
