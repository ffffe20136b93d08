#include "reading/parvex/CMXF_Parvex_FileReader.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <string>

#include "common/ByteOrder.h"
#include "common/CLogManager.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "parvex/MXFId.h"
#include "parvex/ParvexLayout.h"
#include "serverblock/ServerBlock.h"

using namespace parvex;

namespace
{

constexpr uint32_t kPiece = 0x10000;
constexpr uint32_t kMinFooterRead = 672;
constexpr const char kItemIndent[] = "                         ";  // per-item lines begin with 25 blanks
constexpr const char kNoUmId[] = "no UmID found in file";

const char* PartitionType(uint8_t status, char (&text)[32])
{
    if (status == 1)
        return "open";
    if (status == 2)
        return "closed";
    std::snprintf(text, sizeof text, "unknown type 0x%X", status);
    return text;
}

}  // namespace

// What one pass over a metadata set carries from item to item.
struct CMXF_Parvex_FileReader::ParseState {
    CMXF_Parvex_ClipInfo* pInfo;
    CMXF_Parvex_ClipDescriptor* pCurrent;
    uint32_t nClipCounter = 0;
    uint32_t nBlockNumber = 0;
    bool bFirstBigBlock = true;
};

CMXF_Parvex_FileReader::CMXF_Parvex_FileReader(std::string logName) : CFileReader(std::move(logName))
{
    _szLogTag = "CMXF_Parvex_FileReader";
    _pWork = platform::MakePageBuffer(kWorkBufferSize);
    SetMinMaxRd(kBlockSize2MB, kBlockSize8MB);
    theLogManager.LogTo(_szLogName, "CMXF_Parvex_FileReader: log_all_metadata=%d", _bLogAllMetadata ? 1 : 0);
}

CMXF_Parvex_FileReader::~CMXF_Parvex_FileReader() = default;

uint32_t CMXF_Parvex_FileReader::Open(const std::string& path)
{
    _dwBytesInBuffer = 0;
    _qwBufferFilePos = 0;
    _qwFooterOffset = 0;
    return CFileReader::Open(path);
}

uint64_t CMXF_Parvex_FileReader::GetFileSize()
{
    return _file.IsOpen() ? _file.Size().value_or(0) : 0;
}

uint64_t CMXF_Parvex_FileReader::SwapToInt64(uint32_t high, uint32_t low)
{
    return uint64_t{ReadBigEndian32(&high)} << 32 | ReadBigEndian32(&low);
}

// ---- Buffer access ----

bool CMXF_Parvex_FileReader::KeyAt(uint32_t offset, const uint8_t* key, uint32_t checked) const
{
    return offset <= _dwBytesInBuffer && _dwBytesInBuffer - offset >= 16 &&
           std::memcmp(_pWork.get() + offset, key, checked) == 0;
}

bool CMXF_Parvex_FileReader::IsHeaderPartitionKey(uint32_t offset) const
{
    return KeyAt(offset, kHeaderPartitionKey, kPartitionKeyChecked);
}
bool CMXF_Parvex_FileReader::IsFooterPartitionKey(uint32_t offset) const
{
    return KeyAt(offset, kFooterPartitionKey, kPartitionKeyChecked);
}
bool CMXF_Parvex_FileReader::IsFillKey(uint32_t offset) const
{
    return KeyAt(offset, kFillKey, kFillKeyChecked);
}
bool CMXF_Parvex_FileReader::IsPrimerPackKey(uint32_t offset) const
{
    return KeyAt(offset, kPrimerPackKey, kPrimerPackKeyChecked);
}
bool CMXF_Parvex_FileReader::IsKorvoMetaDataKey(uint32_t offset) const
{
    return KeyAt(offset, kKorvoMetaDataKey, kKorvoMetaDataKeyChecked);
}

uint32_t CMXF_Parvex_FileReader::ReadBerLength(uint32_t offset, uint32_t* valueOffset) const
{
    *valueOffset = 0;
    if (offset >= _dwBytesInBuffer)
        return 0;
    const uint8_t* p = _pWork.get() + offset;
    if (p[0] < 0x80) {
        *valueOffset = offset + 1;
        return p[0];
    }
    const uint32_t n = p[0] - 0x80u;
    // 0x80 and more than four length bytes are never written; such a length has no value.
    if (n < 1 || n > 4 || _dwBytesInBuffer - offset - 1 < n)
        return 0;
    uint32_t length = 0;
    for (uint32_t i = 1; i <= n; ++i)
        length = length << 8 | p[i];
    *valueOffset = offset + 1 + n;
    return length;
}

std::string CMXF_Parvex_FileReader::ReadString(uint32_t offset, uint32_t length) const
{
    if (offset > _dwBytesInBuffer)
        return {};
    length = std::min(length, _dwBytesInBuffer - offset);
    std::string text(reinterpret_cast<const char*>(_pWork.get() + offset), length);
    const size_t end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

// A fixed-width number is read from the first bytes of its value whatever the item's length says, but never
// from beyond the bytes read.
bool CMXF_Parvex_FileReader::Number(uint32_t offset, uint32_t width, uint32_t* value) const
{
    if (offset > _dwBytesInBuffer || _dwBytesInBuffer - offset < width)
        return false;
    const uint8_t* p = _pWork.get() + offset;
    *value = width == 4 ? ReadBigEndian32(p) : width == 2 ? ReadBigEndian16(p) : p[0];
    return true;
}

bool CMXF_Parvex_FileReader::EnsureInBuffer(uint64_t filePos, uint32_t n, bool canRefill)
{
    if (filePos >= _qwBufferFilePos && filePos - _qwBufferFilePos <= _dwBytesInBuffer &&
        _dwBytesInBuffer - (filePos - _qwBufferFilePos) >= n)
        return true;
    if (!canRefill || n > kWorkBufferSize)
        return false;
    uint32_t delivered = 0;
    theLogManager.LogTo(_szLogName, "HeaderMetaData_Korvo_MetaData: reading footer at filepos 0x%" PRIX64, filePos);
    const bool read = Seek(filePos) == 0 && ReadData(_pWork.get(), kWorkBufferSize, &delivered) == 0;
    _qwBufferFilePos = filePos;
    _dwBytesInBuffer = read ? delivered : 0;
    return _dwBytesInBuffer >= n;
}

// ---- Reading ----

uint32_t CMXF_Parvex_FileReader::Read_Header(uint32_t n)
{
    n = std::min(n, kWorkBufferSize);
    const uint64_t previous = GetReadPosition();
    Seek(0);
    theLogManager.LogTo(_szLogName, "Read_Header: before ReadData(...,0x%X,...) header", n);
    DiscardBuffer();
    uint32_t delivered = 0;
    const uint32_t result = ReadData(_pWork.get(), n, &delivered);
    _dwBytesInBuffer = delivered;
    _qwBufferFilePos = 0;
    theLogManager.LogTo(_szLogName, "Read_Header: after  ReadData(...,0x%X,...) header (0x%X bytes read)", n,
                        delivered);
    if (result != 0)
        return result;
    if (delivered < n) {
        theLogManager.LogTo(
            _szLogName, "CMXF_Parvex_FileReader::Read_Header: read 0x%X bytes return 0x%X bytes read ?!", n, delivered);
        return 1;
    }
    Seek(previous);
    return 0;
}

bool CMXF_Parvex_FileReader::KlvInHeader(uint32_t offset, uint32_t* next)
{
    uint32_t value = 0;
    const uint32_t length = ReadBerLength(offset + 16, &value);
    if (value == 0 || length > kHeaderAreaSize - std::min(value, kHeaderAreaSize)) {
        theLogManager.LogTo(_szLogName,
                            "CMXF_Parvex_FileReader: KLV at offset 0x%X (length 0x%X) ends beyond the "
                            "header area ---> damaged file",
                            offset, length);
        return false;
    }
    *next = value + length;
    if (*next > _dwBytesInBuffer && _dwBytesInBuffer < kHeaderAreaSize) {
        theLogManager.LogTo(_szLogName,
                            "HeaderMetaData_Korvo_MetaData: NOT enough data read ---> reading all header "
                            "= 0x%X bytes",
                            kHeaderAreaSize);
        if (Read_Header(kHeaderAreaSize) != 0)
            return false;
    }
    return *next <= _dwBytesInBuffer;
}

bool CMXF_Parvex_FileReader::Analyse_Fill(uint32_t offset, uint32_t* next)
{
    if (!KlvInHeader(offset, next))
        return false;
    uint32_t value = 0;
    const uint32_t length = ReadBerLength(offset + 16, &value);
    theLogManager.LogTo(_szLogName,
                        "KLV stuffing found at offset 0x%X : length 0x%X (%u) bytes starting at offset 0x%X", offset,
                        length, length, value);
    return true;
}

bool CMXF_Parvex_FileReader::Analyse_PrimerPack(uint32_t offset, uint32_t* next)
{
    if (!KlvInHeader(offset, next))
        return false;
    if (!_bLogAllMetadata)
        return true;
    uint32_t value = 0;
    const uint32_t length = ReadBerLength(offset + 16, &value);
    theLogManager.LogTo(_szLogName,
                        "HeaderMetaData_PrimerPack found at offset 0x%X : length 0x%X (%u) bytes starting "
                        "at offset 0x%X",
                        offset, length, length, value);
    if (length < 8)
        return true;
    const uint32_t count = ReadBigEndian32(_pWork.get() + value);
    const uint32_t itemLength = ReadBigEndian32(_pWork.get() + value + 4);
    const uint64_t total = uint64_t{count} * itemLength + 8;
    theLogManager.LogTo(_szLogName, "PrimerPack: %u items of %u bytes ---> 4 + 4 + %" PRIu64 " = %" PRIu64 " bytes",
                        count, itemLength, total - 8, total);
    if (total > length || count == 0 || itemLength < 18)
        return true;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = _pWork.get() + value + 8 + uint64_t{i} * itemLength;
        char ul[16 * 3 + 1] = {};
        for (int b = 0; b < 16; ++b)
            std::snprintf(ul + 2 * b, 3, "%02X", entry[2 + b]);
        theLogManager.LogTo(_szLogName, "PrimerPack: item %3u : tag= %02X %02X    UL=%s", i, entry[0], entry[1], ul);
    }
    return true;
}

bool CMXF_Parvex_FileReader::AnalysePartition(uint32_t offset, uint32_t* next, CMXF_Parvex_ClipInfo* info, bool footer)
{
    const char* where = footer ? "Analyse_FooterPartition" : "Analyse_HeaderPartition";
    uint32_t value = 0;
    const uint32_t length = ReadBerLength(offset + 16, &value);
    if (value == 0 || length > _dwBytesInBuffer - value) {
        theLogManager.LogTo(_szLogName,
                            "CMXF_Parvex_FileReader::%s: partition pack of 0x%X bytes does not fit the "
                            "0x%X bytes read ---> damaged file",
                            where, length, _dwBytesInBuffer);
        return false;
    }
    *next = value + length;
    char type[32];
    const char* status = PartitionType(_pWork[offset + 14], type);
    if (footer)
        theLogManager.LogTo(_szLogName,
                            "CMXF_Parvex_FileReader::Analyse_FooterPartition: valid MXF footer found at "
                            "offset 0x%X (filepos= 0x%" PRIX64 "), footer partition type: %s",
                            offset, _qwBufferFilePos + offset, status);
    else
        theLogManager.LogTo(_szLogName,
                            "CMXF_Parvex_FileReader::Analyse_HeaderPartition: valid MXF header found at "
                            "offset 0x%X, header partition type: %s",
                            offset, status);
    if (length < kPartitionValueSize) {
        theLogManager.LogTo(_szLogName,
                            "CMXF_Parvex_FileReader::%s: insufficient length: %u bytes, "
                            "sizeof(MXF_Header_value)=%u",
                            where, length, kPartitionValueSize);
        return true;
    }
    const uint8_t* v = _pWork.get() + value;
    auto u64 = [v](int at) { return uint64_t{ReadBigEndian32(v + at)} << 32 | ReadBigEndian32(v + at + 4); };
    _qwFooterOffset = u64(24);
    info->_qwFooterOffset = _qwFooterOffset;
    if (_bLogAllMetadata) {
        const char* p = footer ? "p_footer_value" : "p_header_value";
        theLogManager.LogTo(_szLogName, "%s->major_version= %u", p, ReadBigEndian16(v));
        theLogManager.LogTo(_szLogName, "%s->minor_version= %u", p, ReadBigEndian16(v + 2));
        theLogManager.LogTo(_szLogName, "%s->KAGSize= %u", p, ReadBigEndian32(v + 4));
        theLogManager.LogTo(_szLogName, "%s->ThisPartition= 0x%" PRIX64, p, u64(8));
        theLogManager.LogTo(_szLogName, "%s->PreviousPartition= 0x%" PRIX64, p, u64(16));
        theLogManager.LogTo(_szLogName, "%s->FooterPartition= 0x%" PRIX64, p, u64(24));
        theLogManager.LogTo(_szLogName, "%s->HeaderByteCount= 0x%" PRIX64, p, u64(32));
        theLogManager.LogTo(_szLogName, "%s->IndexByteCount= 0x%" PRIX64, p, u64(40));
        theLogManager.LogTo(_szLogName, "%s->IndexSID= %u", p, ReadBigEndian32(v + 48));
        theLogManager.LogTo(_szLogName, "%s->BodyOffset= 0x%" PRIX64, p, u64(52));
        theLogManager.LogTo(_szLogName, "%s->BodySID= %u", p, ReadBigEndian32(v + 60));
    }
    return true;
}

bool CMXF_Parvex_FileReader::Analyse_HeaderPartition(uint32_t offset, uint32_t* next, CMXF_Parvex_ClipInfo* info)
{
    return AnalysePartition(offset, next, info, false);
}

bool CMXF_Parvex_FileReader::Analyse_FooterPartition(uint32_t offset, uint32_t* next, CMXF_Parvex_ClipInfo* info)
{
    return AnalysePartition(offset, next, info, true);
}

int32_t CMXF_Parvex_FileReader::GetHeaderData(CMXF_Parvex_ClipInfo* info, uint32_t readFooter, int* footerFound)
{
    if (footerFound)
        *footerFound = 0;
    if (info)
        info->SetIndexLoader(&LoadIndex);
    if (!info || !_pWork)
        return kResultNoInfo;
    const uint32_t pieces = readFooter ? readFooter : _dwHeaderReadSize64k;
    const uint32_t bytes =
        static_cast<uint32_t>(std::clamp<uint64_t>(uint64_t{pieces} * kPiece, kPiece, kWorkBufferSize));
    theLogManager.LogTo(_szLogName, "CMXF_Parvex_FileReader::GetHeaderData: before read %u x 64KB = 0x%X bytes",
                        bytes / kPiece, bytes);
    if (Read_Header(bytes) != 0)
        return kResultShortRead;
    if (!IsHeaderPartitionKey(0))
        return kResultNoHeaderPartition;

    int32_t result = kResultOk;
    uint32_t next = 0;
    bool parsedSet = false;
    if (!Analyse_HeaderPartition(0, &next, info)) {
        result = kResultDamaged;
    } else if (IsFillKey(next) && !Analyse_Fill(next, &next)) {
        result = kResultDamaged;
    } else if (IsPrimerPackKey(next)) {
        if (!Analyse_PrimerPack(next, &next)) {
            result = kResultDamaged;
        } else if (!IsKorvoMetaDataKey(next)) {
            result = kResultNoMetaData;
        } else {
            const int32_t set = Analyse_KorvoMetaData(next, &next, info, false);
            result = set == 0 ? kResultOk : set == kMetaDataDamaged ? kResultDamaged : kResultNoSignature;
            parsedSet = set == 0;
        }
    }
    CMXF_Parvex_ClipDescriptor* head = info->GetFirstClip();
    if (parsedSet && head && head->_nShortRef == 0 && head->_nShortIn != 0 && head->_nShortOut != 0)
        head->_nShortRef = head->_nShortIn + (head->_nShortOut - head->_nShortIn) / 2;
    if (result != kResultDamaged && info->_qwFooterOffset != 0 && readFooter) {
        const int32_t headerResult = result;
        int found = 0;
        result = Analyse_Footer(info, &found);
        if (footerFound)
            *footerFound = found;
        if (info->_nBlocks == 0)
            info->_nBlocks = info->GetBlockCount();
        if (headerResult != kResultOk)
            result = headerResult;
    }
    if (result != kResultOk)
        return result;

    // Identifiers.
    const std::string clipId = head ? head->_szClipId : std::string();
    if (info->_szMaterialId.empty() && !clipId.empty()) {
        theLogManager.LogTo(_szLogName,
                            "CMXF_Parvex_FileReader::GetHeaderData: ---> Id_Material=[]  Id_Louth=[%s] "
                            "---> set Id_Material to Id_Louth",
                            clipId.c_str());
        info->_szMaterialId = clipId;
    }
    if (clipId.empty()) {
        theLogManager.LogTo(_szLogName,
                            "CMXF_Parvex_FileReader::GetHeaderData: ---> Id_Material=[%s]  Id_Louth=[%s] "
                            "---> Invalid File",
                            info->_szMaterialId.c_str(), clipId.c_str());
        result = kResultInvalidFile;
    }
    if (info->_qwLocalCreationTime == 0)
        info->_qwLocalCreationTime = info->_qwCreationTimeGMT + int64_t{info->_nTimeZone} * 3600;
    for (CMXF_Parvex_ClipDescriptor* clip = head; clip; clip = clip->_pNext) {
        if (clip->_nTCSystem == 0)
            clip->_nTCSystem = info->_nSystem;
        if (clip->_nMchSerialNb == 0 && info->_szMaterialId.size() == 8) {
            // Every id is read as a kind-1 id here, kind 2 included.
            MXFIdType1 id;
            id.Parse(info->_szMaterialId.c_str());
            clip->_nMchSerialNb = static_cast<uint16_t>(id.GetSerial() * 10);
            theLogManager.LogTo(_szLogName, "CMXF_Parvex_FileReader::GetHeaderData: MaterialID [%s] ---> SerialNb = %u",
                                info->_szMaterialId.c_str(), id.GetSerial() * 10);
        }
    }
    info->UpdateFromMainClip();
    return result;
}

int32_t CMXF_Parvex_FileReader::GetFooterData(CMXF_Parvex_ClipInfo* info)
{
    if (info)
        info->SetIndexLoader(&LoadIndex);
    if (!info || !_pWork)
        return kResultNoInfo;
    if (info->_qwFooterOffset == 0 && Read_Header(kPiece) == 0 && IsHeaderPartitionKey(0)) {
        uint32_t next = 0;
        Analyse_HeaderPartition(0, &next, info);
    }
    theLogManager.LogTo(_szLogName, "GetFooterData: footer_offset=0x%" PRIX64, info->_qwFooterOffset);
    if (info->_qwFooterOffset == 0)
        return kResultInvalidFile;
    int found = 0;
    const int32_t result = Analyse_Footer(info, &found);
    if (info->_nBlocks == 0)
        info->_nBlocks = info->GetBlockCount();
    return result;
}

int CMXF_Parvex_FileReader::LoadIndex(CMXF_Parvex_ClipInfo& info, const std::string& fileName, int readHeader)
{
    // Index messages go to the default log, as the clip information's own do.
    CMXF_Parvex_FileReader reader("");
    if (reader.Open(fileName) != 0) {
        theLogManager.LogTo("", "Load_Index: FAILED to Open File ---> unable to LoadIndex");
        return -1;
    }
    theLogManager.LogTo("", "Load_Index: filesize=0x%" PRIX64 "  filename=%s", reader.GetFileSize(), fileName.c_str());
    const int32_t result = readHeader ? reader.GetHeaderData(&info, 1) : reader.GetFooterData(&info);
    reader.Close();
    return result;
}

int32_t CMXF_Parvex_FileReader::Analyse_Footer(CMXF_Parvex_ClipInfo* info, int* found)
{
    if (found)
        *found = 0;
    const uint64_t footer = info->_qwFooterOffset;
    Seek(footer);
    _qwBufferFilePos = footer;
    theLogManager.LogTo(_szLogName, "before ReadData(...,0x200000,...) footer start");
    uint32_t delivered = 0;
    if (ReadData(_pWork.get(), kWorkBufferSize, &delivered) != 0)
        delivered = 0;
    _dwBytesInBuffer = delivered;
    theLogManager.LogTo(_szLogName, "after  ReadData(...,0x200000,...) footer start");
    if (delivered < kMinFooterRead) {
        theLogManager.LogTo(_szLogName,
                            "CMXF_Parvex_FileReader::Analyse_Footer: read 0x200000 bytes return 0x%X bytes "
                            "read ?!",
                            delivered);
        return kResultOk;
    }
    if (!IsFooterPartitionKey(0))
        return kResultOk;
    uint32_t next = 0;
    bool whole = Analyse_FooterPartition(0, &next, info);
    if (whole && IsFillKey(next)) {
        uint32_t value = 0;
        const uint32_t length = ReadBerLength(next + 16, &value);
        whole = value != 0 && length <= _dwBytesInBuffer - value;
        next = value + length;
    }
    if (whole && IsPrimerPackKey(next)) {
        uint32_t value = 0;
        const uint32_t length = ReadBerLength(next + 16, &value);
        whole = value != 0 && length <= _dwBytesInBuffer - value;
        next = value + length;
        if (whole && IsKorvoMetaDataKey(next))
            whole = Analyse_KorvoMetaData(next, &next, info, true) != kMetaDataDamaged;
    }
    if (!whole) {
        // No half index: a damaged footer leaves none.
        info->FreeBigBlocks();
        theLogManager.LogTo(
            _szLogName, "CMXF_Parvex_FileReader::Analyse_Footer: damaged footer at 0x%" PRIX64 " ---> index dropped",
            footer);
        return kResultDamaged;
    }
    if (found)
        *found = 1;
    return kResultOk;
}

uint32_t CMXF_Parvex_FileReader::GetFileInfo(uint64_t* essenceSize, uint64_t* footerPos)
{
    if (!_pWork)
        return 1;
    if (_qwFooterOffset == 0) {
        if (Read_Header(kPiece) != 0 || !IsHeaderPartitionKey(0))
            return 1;
        CMXF_Parvex_ClipInfo scratch;
        uint32_t next = 0;
        if (!Analyse_HeaderPartition(0, &next, &scratch))
            return 1;
    }
    // The essence item closes the header area: its key and a 9-byte length.
    uint8_t item[16 + 9] = {};
    uint32_t delivered = 0;
    if (Seek(kEssenceKeyOffset) != 0 || ReadData(item, sizeof item, &delivered) != 0 || delivered != sizeof item)
        return 1;
    if (std::memcmp(item, kEssenceKey, 16) != 0 || item[16] != 0x88)
        return 2;
    const uint64_t essence = uint64_t{ReadBigEndian32(item + 17)} << 32 | ReadBigEndian32(item + 21);
    const uint64_t limit = _qwFooterOffset != 0 ? _qwFooterOffset : GetFileSize();
    if (limit < kHeaderAreaSize || essence > limit - kHeaderAreaSize)
        return 2;
    *essenceSize = essence;
    *footerPos = _qwFooterOffset;
    return 0;
}

// ---- The Korvo metadata set ----

int32_t CMXF_Parvex_FileReader::Analyse_KorvoMetaData(uint32_t offset, uint32_t* next, CMXF_Parvex_ClipInfo* info,
                                                      bool footerMode)
{
    uint32_t value = 0;
    const uint32_t length = ReadBerLength(offset + 16, &value);
    if (value == 0)
        return kMetaDataDamaged;
    const uint64_t end = _qwBufferFilePos + value + length;
    *next = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{value} + length, UINT32_MAX));
    theLogManager.LogTo(_szLogName,
                        "HeaderMetaData_Korvo_MetaData found at offset 0x%X : length 0x%X (%u) bytes "
                        "starting at offset 0x%X",
                        offset, length, length, value);
    if (!footerMode) {
        // The header metadata lies within the first 2 MB.
        if (uint64_t{value} + length > kHeaderAreaSize) {
            theLogManager.LogTo(_szLogName,
                                "HeaderMetaData_Korvo_MetaData: set of 0x%X bytes ends beyond the header "
                                "area ---> damaged file",
                                length);
            return kMetaDataDamaged;
        }
        if (uint64_t{value} + length > _dwBytesInBuffer) {
            theLogManager.LogTo(_szLogName,
                                "HeaderMetaData_Korvo_MetaData: NOT enough data read ---> reading all "
                                "header = 0x%X bytes",
                                value + length);
            if (Read_Header(value + length) != 0)
                return kMetaDataDamaged;
        }
    }
    ParseState state;
    state.pInfo = info;
    state.pCurrent = info->GetOrCreateFirstClip();
    if (!state.pCurrent)
        return kMetaDataDamaged;
    if (!footerMode)
        state.pCurrent->_szClipId = info->_szClipId = kNoUmId;

    bool signedSet = false;
    uint64_t pos = _qwBufferFilePos + value;
    while (end - pos > 4) {
        if (!EnsureInBuffer(pos, 4, footerMode))
            return kMetaDataDamaged;
        const uint8_t* item = _pWork.get() + (pos - _qwBufferFilePos);
        const uint16_t tag = ReadBigEndian16(item);
        const uint16_t itemLength = ReadBigEndian16(item + 2);
        if (_bLogAllMetadata)
            theLogManager.LogTo(_szLogName,
                                "%sKorvo_MetaData tag 0x%X: length 0x%X (%u) bytes   (remaining %" PRIu64 " bytes)",
                                kItemIndent, tag, itemLength, itemLength, end - pos - 4);
        if (itemLength > end - pos - 4)
            break;
        if (!EnsureInBuffer(pos, 4u + itemLength, footerMode)) {
            theLogManager.LogTo(_szLogName,
                                "HeaderMetaData_Korvo_MetaData: item 0x%X at filepos 0x%" PRIX64
                                " cut short ---> damaged file",
                                tag, pos);
            return kMetaDataDamaged;
        }
        const auto v = static_cast<uint32_t>(pos - _qwBufferFilePos + 4);
        if (tag == kTagSignature) {
            const std::string signature(reinterpret_cast<const char*>(_pWork.get() + v), itemLength);
            if (itemLength != kSignatureLength) {
                theLogManager.LogTo(_szLogName, "%sinvalid length for Korvo signature, must be 9 bytes", kItemIndent);
            } else if (signature != kSignature) {
                theLogManager.LogTo(_szLogName, "%sinvalid Korvo signature: found %s", kItemIndent, signature.c_str());
            } else {
                signedSet = true;
                theLogManager.LogTo(_szLogName, "%svalid Korvo signature found: %s", kItemIndent, signature.c_str());
            }
        } else if (signedSet) {
            if (footerMode) {
                if (!HandleFooterItem(state, tag, v, itemLength))
                    return kMetaDataDamaged;
            } else {
                HandleHeaderItem(state, tag, v, itemLength);
            }
        }
        pos += 4u + itemLength;
    }
    return signedSet ? 0 : -1;
}

void CMXF_Parvex_FileReader::LogRaw(const char* name, uint32_t value, uint32_t length) const
{
    if (!_bLogAllMetadata)
        return;
    std::string hex;
    char text[4];
    for (uint32_t i = 0; i < length && value + i < _dwBytesInBuffer; ++i) {
        std::snprintf(text, sizeof text, "%02X ", _pWork[value + i]);
        hex += text;
    }
    theLogManager.LogTo(_szLogName, "%s%s: %s", kItemIndent, name, hex.c_str());
}

// A pack: entries of a 2-byte length and that many bytes, until the value is used up; entries beyond the limit are
// skipped; returns the entries handled. Wide packs keep the first 12 bytes of an entry and mark the keyword wide.
uint32_t CMXF_Parvex_FileReader::ReadPack(uint32_t value, uint32_t length, uint32_t limit, std::string* texts,
                                          bool* wideFlags, uint8_t (*wide)[12])
{
    uint32_t at = 0;
    uint32_t index = 0;
    while (length - at >= 2) {
        const uint16_t entry = ReadBigEndian16(_pWork.get() + value + at);
        at += 2;
        if (entry > length - at)
            break;
        if (index < limit) {
            if (wide) {
                // An empty wide entry leaves the keyword as it is: it has no wide form.
                if (entry > 0) {
                    std::memset(wide[index], 0, kWideKeywordSize);
                    std::memcpy(wide[index], _pWork.get() + value + at, std::min<uint32_t>(entry, kWideKeywordSize));
                    wideFlags[index] = true;
                }
            } else {
                texts[index] = ReadString(value + at, entry);
                if (wideFlags)
                    wideFlags[index] = false;
            }
        }
        ++index;
        at += entry;
    }
    return std::min(index, limit);
}

void CMXF_Parvex_FileReader::HandleHeaderItem(ParseState& state, uint16_t tag, uint32_t value, uint32_t length)
{
    CMXF_Parvex_ClipInfo& info = *state.pInfo;
    CMXF_Parvex_ClipDescriptor*& clip = state.pCurrent;
    const bool first = state.nClipCounter <= 1;
    uint32_t n32 = 0, n16 = 0, n8 = 0;
    const bool has32 = Number(value, 4, &n32);
    const bool has16 = Number(value, 2, &n16);
    const bool has8 = Number(value, 1, &n8);
    auto text = [&] { return ReadString(value, length); };
    auto raw = [&](uint8_t* target, uint32_t room) {
        std::memset(target, 0, room);
        std::memcpy(target, _pWork.get() + value, std::min(length, room));
    };
    // Clip items write the current clip and, for the first clip, the info's field of the same name.
    auto both = [&](auto clipField, auto infoField, auto v) {
        clip->*clipField = v;
        if (first)
            info.*infoField = v;
    };
    switch (tag) {
        case kTagClipUmID: {
            ++state.nClipCounter;
            const std::string id = text();
            if (state.nClipCounter == 1) {
                clip->_szClipId = info._szClipId = id;
            } else if (CMXF_Parvex_ClipDescriptor* added = info.AddClip(id, true)) {
                clip = added;
            }
            break;
        }
        case kTagClipName:
            both(&CMXF_Parvex_ClipDescriptor::_szClipName, &CMXF_Parvex_ClipInfo::_szClipName, text());
            break;
        case kTagNumClip:
            if (has32)
                both(&CMXF_Parvex_ClipDescriptor::_nNumClip, &CMXF_Parvex_ClipInfo::_nNumClip,
                     static_cast<int32_t>(n32 & 0xFFFF));
            break;
        case kTagCamera:
            if (has8)
                both(&CMXF_Parvex_ClipDescriptor::_cCamera, &CMXF_Parvex_ClipInfo::_cCamera, static_cast<uint8_t>(n8));
            break;
        case kTagNumMachine:
            if (has8)
                both(&CMXF_Parvex_ClipDescriptor::_nNumMachine, &CMXF_Parvex_ClipInfo::_nNumMachine,
                     static_cast<uint8_t>(n8));
            break;
        case kTagCameraPref:
            if (has8)
                both(&CMXF_Parvex_ClipDescriptor::_cCameraPref, &CMXF_Parvex_ClipInfo::_cCameraPref,
                     static_cast<uint8_t>(n8));
            break;
        case kTagShortIn:
        case kTagShortOut:
        case kTagShortRef: {
            if (!has32)
                break;
            const auto point = tag == kTagShortIn    ? &CMXF_Parvex_ClipDescriptor::_nShortIn
                               : tag == kTagShortOut ? &CMXF_Parvex_ClipDescriptor::_nShortOut
                                                     : &CMXF_Parvex_ClipDescriptor::_nShortRef;
            const auto infoPoint = tag == kTagShortIn    ? &CMXF_Parvex_ClipInfo::_nShortIn
                                   : tag == kTagShortOut ? &CMXF_Parvex_ClipInfo::_nShortOut
                                                         : &CMXF_Parvex_ClipInfo::_nShortRef;
            both(point, infoPoint, n32);
            CMXF_Parvex_Thumbnail& thumb = info._aThumbnails[tag == kTagShortIn    ? CMXF_Parvex_ClipInfo::kThumbIn
                                                             : tag == kTagShortOut ? CMXF_Parvex_ClipInfo::kThumbOut
                                                                                   : CMXF_Parvex_ClipInfo::kThumbRef];
            if (first && thumb._nField == 0)
                thumb._nField = n32;
            break;
        }
        case kTagOffsetTC:
            if (has32)
                both(&CMXF_Parvex_ClipDescriptor::_nOffsetTC, &CMXF_Parvex_ClipInfo::_nOffsetTC, n32);
            break;
        case kTagServerName:
            both(&CMXF_Parvex_ClipDescriptor::_szServerName, &CMXF_Parvex_ClipInfo::_szServerName, text());
            break;
        case kTagStatus:
            if (has32) {
                both(&CMXF_Parvex_ClipDescriptor::_nStatus, &CMXF_Parvex_ClipInfo::_nStatus,
                     static_cast<uint16_t>(n32));
                both(&CMXF_Parvex_ClipDescriptor::_nQuality, &CMXF_Parvex_ClipInfo::_nQuality,
                     static_cast<uint16_t>((n32 >> 12) & 3));
                if (first && info._nAudioType == 0)
                    info._nAudioType = (n32 >> 10) & 3;
            }
            break;
        case kTagStatusParvex:
            if (has32)
                both(&CMXF_Parvex_ClipDescriptor::_nFileStatus, &CMXF_Parvex_ClipInfo::_nFileStatus,
                     static_cast<uint16_t>(n32));
            break;
        case kTagTCSystem:
            if (has32)
                both(&CMXF_Parvex_ClipDescriptor::_nTCSystem, &CMXF_Parvex_ClipInfo::_nTCSystem, n32);
            break;
        case kTagSession:
            if (has32)
                both(&CMXF_Parvex_ClipDescriptor::_nSession, &CMXF_Parvex_ClipInfo::_nSession, n32);
            break;
        case kTagUnicodeFlag:
            if (has32)
                both(&CMXF_Parvex_ClipDescriptor::_nUnicodeFlag, &CMXF_Parvex_ClipInfo::_nUnicodeFlag, n32);
            break;
        case kTagFillAndKeyType:
            if (has32)
                both(&CMXF_Parvex_ClipDescriptor::_nFillAndKeyType, &CMXF_Parvex_ClipInfo::_nFillAndKeyType, n32);
            break;
        case kTagFillAndKey:
            both(&CMXF_Parvex_ClipDescriptor::_szFillAndKey, &CMXF_Parvex_ClipInfo::_szFillAndKey, text());
            break;
        case kTagClipIdSrc:
            both(&CMXF_Parvex_ClipDescriptor::_szClipIdSrc, &CMXF_Parvex_ClipInfo::_szClipIdSrc, text());
            break;
        case kTagClipNameSrc:
            both(&CMXF_Parvex_ClipDescriptor::_szClipNameSrc, &CMXF_Parvex_ClipInfo::_szClipNameSrc, text());
            break;
        case kTagUserBits:
            if (length == 8) {
                raw(clip->_aUserBits, 8);
                if (first)
                    std::memcpy(info._aUserBits, clip->_aUserBits, 8);
                LogRaw("user bits", value, length);
            }
            break;
        case kTagWideClipName:
            raw(clip->_aWideClipName, kWideNameSize);
            clip->_bWideClipName = true;
            LogRaw("wide clip name", value, length);
            break;
        case kTagWideClipNameSrc:
            raw(clip->_aWideClipNameSrc, kWideNameSize);
            clip->_bWideClipNameSrc = true;
            LogRaw("wide clip name source", value, length);
            break;
        case kTagVarId:
            clip->_szVarId = text();
            break;
        case kTagWideVarId:
            raw(clip->_aWideVarId, kWideVarIdSize);
            clip->_bWideVarId = true;
            LogRaw("wide VarId", value, length);
            break;
        case kTagWideVarIdSize:
            if (has16)
                clip->_nWideVarIdSize = static_cast<uint16_t>(n16);
            break;
        case kTagSerTCVersion:
            if (has16)
                clip->_nSerTCVersion = static_cast<uint16_t>(n16);
            break;
        case kTagSerTCTod:
            raw(clip->_aSerTCTod, kSerTCSize);
            break;
        case kTagSerTCUsr:
            raw(clip->_aSerTCUsr, kSerTCSize);
            clip->_bSerTCUsr = true;
            break;
        case kTagSerTCTodSrc:
            raw(clip->_aSerTCTodSrc, kSerTCSize);
            break;
        case kTagSerTCUsrSrc:
            raw(clip->_aSerTCUsrSrc, kSerTCSize);
            break;
        case kTagTypeTCTod:
            if (has8)
                clip->_nTypeTCTod = static_cast<uint8_t>(n8);
            break;
        case kTagTypeTCUser:
            if (has8)
                clip->_nTypeTCUser = static_cast<uint8_t>(n8);
            break;
        case kTagPrimaryTC:
            if (has8)
                clip->_nPrimaryTC = static_cast<uint8_t>(n8);
            break;
        case kTagQuality:
            if (has16)
                both(&CMXF_Parvex_ClipDescriptor::_nQuality, &CMXF_Parvex_ClipInfo::_nQuality,
                     static_cast<uint16_t>(n16));
            break;
        case kTagMchSerialNb:
            if (has32)
                clip->_nMchSerialNb = static_cast<uint16_t>(n32);
            break;
        case kTagKeywords:
            ReadPack(value, length, kMaxKeywords, clip->_szKeywords, clip->_bKeywordWide, nullptr);
            if (first)
                for (uint32_t i = 0; i < kMaxKeywords; ++i)
                    info._szKeywords[i] = clip->_szKeywords[i];
            break;
        case kTagWideKeywords:
            ReadPack(value, length, kMaxKeywords, nullptr, clip->_bKeywordWide, clip->_aKeywordWide);
            break;
        // File-level items.
        case kTagIn:
            info._nIn = has32 ? n32 : info._nIn;
            break;
        case kTagOut:
            info._nOut = has32 ? n32 : info._nOut;
            break;
        case kTagNbAudios:
            info._nAudioGroups = has32 ? n32 : info._nAudioGroups;
            break;
        case kTagVideoFormat:
            if (has32) {
                info._nVideoFormat = n32;
                info._nStandardAndSystem = static_cast<uint8_t>(n32 >> 24);
            }
            break;
        case kTagSystem:
            info._nSystem = has32 ? n32 : info._nSystem;
            break;
        case kTag2KTableVersion:
            info._n2KTableVersion = has32 ? n32 : info._n2KTableVersion;
            break;
        case kTagVideoRate:
            info._nBitrate = has32 ? n32 : info._nBitrate;
            break;
        case kTagClipIdMaterial:
            info._szMaterialId = text();
            break;
        case kTagNbVideos:
            info._nVideos = has32 ? n32 : info._nVideos;
            break;
        case kTagAudioType:
            info._nAudioType = has32 ? n32 : info._nAudioType;
            break;
        case kTagCreationTimeGMT:
            if (has32 && info._qwCreationTimeGMT == 0) {
                info._qwCreationTimeGMT = n32;
                const std::time_t t = n32;
                std::tm tm{};
                gmtime_r(&t, &tm);
                char date[32], time[32];
                std::strftime(date, sizeof date, "%Y/%m/%d", &tm);
                std::strftime(time, sizeof time, "%H:%M:%S", &tm);
                theLogManager.LogTo(_szLogName, "%sLenmark_creation_time_GMT: %s %s", kItemIndent, date, time);
            }
            break;
        case kTagCreationTimeZone:
            info._nTimeZone = has32 ? static_cast<int32_t>(n32) : info._nTimeZone;
            break;
        case kTagBlockSize:
            info._nBlockSize = has32 ? n32 : info._nBlockSize;
            break;
        case kTagBlockType:
            info._nBlockType = has32 ? n32 : info._nBlockType;
            break;
        case kTagVideoCodec:
            info._nVideoCodec = has32 ? n32 : info._nVideoCodec;
            break;
        case kTagVideosDualLink:
            info._nDualLink = has32 ? n32 : info._nDualLink;
            break;
        case kTagVideosSimultaneous:
            info._nSimultaneous = has32 ? n32 : info._nSimultaneous;
            break;
        // Session.
        case kTagSessionDate:
            info._qwSessionDate = has32 ? n32 : info._qwSessionDate;
            break;
        case kTagSessionDateText:
            info._szSessionDate = text();
            break;
        case kTagSessionSport:
            info._szSessionSport = text();
            break;
        case kTagSessionCompetition:
            info._szSessionCompetition = text();
            break;
        case kTagSessionCompetitionLevel:
            info._szSessionCompetitionLevel = text();
            break;
        case kTagSessionLocation:
            info._szSessionLocation = text();
            break;
        case kTagSessionPlayerA:
            info._szSessionTeamA = text();
            break;
        case kTagSessionPlayerB:
            info._szSessionTeamB = text();
            break;
        case kTagSessionName:
            info._szSessionName = text();
            break;
        case kTagBackupCompletionTime:
            info._qwBackupCompletionTime = has32 ? n32 : info._qwBackupCompletionTime;
            break;
        case kTagSessionKeywords: {
            info._nSessionKeywords =
                ReadPack(value, length, kMaxSessionKeywords, info._szSessionKeywords, nullptr, nullptr);
            break;
        }
        default:
            break;
    }
}

bool CMXF_Parvex_FileReader::HandleFooterItem(ParseState& state, uint16_t tag, uint32_t value, uint32_t length)
{
    CMXF_Parvex_ClipInfo& info = *state.pInfo;
    if (tag == kTagIndexBigBlock) {
        const uint8_t* v = _pWork.get() + value;
        theLogManager.LogTo(_szLogName, "Parvex index_Big_Block found at offset 0x%X contains %u bytes", value, length);
        if (length < kBigBlockHeadSize) {
            theLogManager.LogTo(_szLogName, "Parvex index_Big_Block: %u bytes, less than its head ---> damaged index",
                                length);
            return false;
        }
        const uint32_t in = ReadBigEndian32(v), out = ReadBigEndian32(v + 4);
        const uint32_t count = ReadBigEndian16(v + 8), descriptorLength = ReadBigEndian16(v + 10);
        theLogManager.LogTo(_szLogName, "Parvex index_Big_Block: field_in=%u  field_out_excluded=%u", in, out);
        theLogManager.LogTo(_szLogName, "Parvex index_Big_Block: nb_block_descriptors=%u   descriptor_length=%u", count,
                            descriptorLength);
        if (count > kBlocksPerBigBlock || (count > 0 && descriptorLength < kBlockDescriptorSize) ||
            uint64_t{count} * descriptorLength > length - kBigBlockHeadSize) {
            theLogManager.LogTo(_szLogName,
                                "Parvex index_Big_Block: %u descriptors of %u bytes do not fit %u bytes "
                                "---> damaged index",
                                count, descriptorLength, length);
            return false;
        }
        if (state.bFirstBigBlock)
            info._nFileFieldIn = in;
        state.bFirstBigBlock = false;
        info._nFileFieldOutExcluded = out;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* d = v + kBigBlockHeadSize + i * descriptorLength;
            const uint32_t first = ReadBigEndian32(d);
            const uint64_t pos = uint64_t{ReadBigEndian32(d + 4)} << 32 | ReadBigEndian32(d + 8);
            const uint32_t end = i + 1 < count ? ReadBigEndian32(d + descriptorLength) : out;
            if (!info.Index_Add_Block(state.nBlockNumber++, first, end, pos))
                return false;
            if (i + 1 == count)
                theLogManager.LogTo(_szLogName, "Parvex index_Big_Block: last_block filepos=0x%" PRIX64, pos);
        }
        return true;
    }
    const uint32_t group = tag & 0xFFF0;
    if (group != 0x8600 && group != 0x8610 && group != 0x8620)
        return true;
    CMXF_Parvex_Thumbnail& thumb = info._aThumbnails[group == 0x8600   ? CMXF_Parvex_ClipInfo::kThumbIn
                                                     : group == 0x8610 ? CMXF_Parvex_ClipInfo::kThumbRef
                                                                       : CMXF_Parvex_ClipInfo::kThumbOut];
    uint32_t n = 0;
    switch (tag & 0xF) {
        case 0:
            if (Number(value, 1, &n))
                thumb._nCx = static_cast<uint8_t>(n);
            break;
        case 1:
            if (Number(value, 1, &n))
                thumb._nCy = static_cast<uint8_t>(n);
            break;
        case 2:
            thumb._qwFilePos = _qwBufferFilePos + value;
            break;
        case 3:
            if (Number(value, 4, &n))
                thumb._nField = n;
            break;
        default:
            break;
    }
    return true;
}
