#pragma once

#include <cstdint>
#include <string>

#include "common/CFileReader.h"
#include "platform/PageBuffer.h"

class CMXF_Parvex_ClipInfo;
class CMXF_Parvex_ClipDescriptor;

// Reads a Parvex clip file into a CMXF_Parvex_ClipInfo: the clip description from the header metadata and the
// block index and thumbnails from the footer. The caller opens and closes the file (CFileReader::Open, Close).
// Every length, count and offset taken from the file is checked against the bytes read before it is used; a
// damaged file is refused with kResultDamaged.
class CMXF_Parvex_FileReader : public CFileReader
{
public:
    enum : int32_t {
        kResultOk = 0,
        kResultNoInfo = -1,            // no clip info given, or no work buffer
        kResultShortRead = 1,          // the header read came back short
        kResultNoHeaderPartition = 2,  // no header partition pack at offset 0
        kResultNoMetaData = 3,         // a primer pack without a Korvo metadata set behind it
        kResultNoSignature = 4,        // the metadata set carries no valid signature
        kResultInvalidFile = 5,        // no clip id; for GetFooterData: no footer
        kResultDamaged = 6,            // a length, count or offset does not fit the bytes of the file
    };
    static constexpr uint32_t kWorkBufferSize = 0x200000;

    explicit CMXF_Parvex_FileReader(std::string logName);
    ~CMXF_Parvex_FileReader() override;

    // Forgets what the previous file said before opening the next.
    uint32_t Open(const std::string& path) override;

    // Reads the clip description into info. readFooter 0 reads the header only (the configured number of 64 KB
    // pieces, 2 by default); n >= 1 reads n x 64 KB of header and then the footer's block index and thumbnails.
    // *footerFound (the indexed flag) is 1 when the footer was found and read whole.
    int32_t GetHeaderData(CMXF_Parvex_ClipInfo* info, uint32_t readFooter, int* footerFound = nullptr);
    // Reads only the footer: -1, 5 when the file names no footer, 6 when it is damaged, else 0.
    int32_t GetFooterData(CMXF_Parvex_ClipInfo* info);
    // The index loader these two set on the info they fill (CMXF_Parvex_ClipInfo::Load_Index): opens the file,
    // reads its footer (readHeader: header and footer) into info and closes it; 0 when the index was loaded.
    static int LoadIndex(CMXF_Parvex_ClipInfo& info, const std::string& fileName, int readHeader);
    // The essence byte count that the header's essence item gives and the footer position: 0; 1 the header
    // cannot be read; 2 no essence item, or one that runs past the footer.
    uint32_t GetFileInfo(uint64_t* essenceSize, uint64_t* footerPos);
    uint64_t GetFileSize();

    void SetHeaderReadSize(uint32_t pieces64k) { _dwHeaderReadSize64k = pieces64k; }
    void SetLogAllMetadata(bool on) { _bLogAllMetadata = on; }

    // The first n bytes of the file into the work buffer: 0, the ReadData result, or 1 on a short read.
    uint32_t Read_Header(uint32_t n);
    int32_t Analyse_Footer(CMXF_Parvex_ClipInfo* info, int* found);
    bool Analyse_HeaderPartition(uint32_t offset, uint32_t* next, CMXF_Parvex_ClipInfo* info);
    bool Analyse_FooterPartition(uint32_t offset, uint32_t* next, CMXF_Parvex_ClipInfo* info);
    bool IsHeaderPartitionKey(uint32_t offset) const;
    bool IsFooterPartitionKey(uint32_t offset) const;
    bool IsFillKey(uint32_t offset) const;
    bool IsPrimerPackKey(uint32_t offset) const;
    bool IsKorvoMetaDataKey(uint32_t offset) const;
    // The BER length at offset; *valueOffset is 0 when the length is not readable from the buffer.
    uint32_t ReadBerLength(uint32_t offset, uint32_t* valueOffset) const;
    bool Analyse_Fill(uint32_t offset, uint32_t* next);
    bool Analyse_PrimerPack(uint32_t offset, uint32_t* next);
    // 0 when a valid signature was met, -1 when none was, kMetaDataDamaged when the set does not fit the file.
    static constexpr int32_t kMetaDataDamaged = -2;
    int32_t Analyse_KorvoMetaData(uint32_t offset, uint32_t* next, CMXF_Parvex_ClipInfo* info, bool footerMode);
    // The value bytes as a string with trailing blanks cut.
    std::string ReadString(uint32_t offset, uint32_t length) const;
    static uint64_t SwapToInt64(uint32_t high, uint32_t low);

private:
    struct ParseState;
    bool KeyAt(uint32_t offset, const uint8_t* key, uint32_t checked) const;
    // Whether the KLV at offset fits the first 2 MB; reads the whole header area when it ends beyond the buffer.
    bool KlvInHeader(uint32_t offset, uint32_t* next);
    bool AnalysePartition(uint32_t offset, uint32_t* next, CMXF_Parvex_ClipInfo* info, bool footer);
    bool EnsureInBuffer(uint64_t filePos, uint32_t n, bool canRefill);
    bool Number(uint32_t offset, uint32_t width, uint32_t* value) const;
    void HandleHeaderItem(ParseState& state, uint16_t tag, uint32_t value, uint32_t length);
    bool HandleFooterItem(ParseState& state, uint16_t tag, uint32_t value, uint32_t length);
    uint32_t ReadPack(uint32_t value, uint32_t length, uint32_t limit, std::string* texts, bool* wideFlags,
                      uint8_t (*wide)[12]);
    void LogRaw(const char* name, uint32_t value, uint32_t length) const;

    platform::PageBuffer _pWork;
    uint32_t _dwBytesInBuffer = 0;
    uint64_t _qwBufferFilePos = 0;
    uint32_t _dwHeaderReadSize64k = 2;
    bool _bLogAllMetadata = false;
    uint64_t _qwFooterOffset = 0;
};
