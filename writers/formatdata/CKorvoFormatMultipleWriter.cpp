#include "writers/formatdata/CKorvoFormatMultipleWriter.h"

CKorvoFormatMultipleWriter::CKorvoFormatMultipleWriter(uint32_t minTransfer, uint32_t maxTransfer,
                                                       TargetMaker makeTarget)
    : CKorvoFormatDataWriter(minTransfer, maxTransfer), _makeTarget(std::move(makeTarget))
{
    _szPrefix = "MultiWriter: ";
}

CKorvoFormatMultipleWriter::~CKorvoFormatMultipleWriter()
{
    Close();
}

int CKorvoFormatMultipleWriter::Open(const char* path)
{
    std::unique_ptr<CKorvoFormatDataWriter> writer = _makeTarget ? _makeTarget(path) : nullptr;
    if (!writer)
        return 1;
    _writers.push_back(std::move(writer));
    return 0;
}

int CKorvoFormatMultipleWriter::Close()
{
    int result = 0;
    for (auto& writer : _writers)
        if (writer->Close() != 0)
            result = 1;  // the data of that target may be incomplete
    _writers.clear();
    return result;
}

int CKorvoFormatMultipleWriter::WriteData(const void* data, uint32_t length, uint32_t* written)
{
    if (written)
        *written = 0;
    for (auto it = _writers.begin(); it != _writers.end();) {
        uint32_t done = 0;
        if ((*it)->WriteData(data, length, &done) != 0 || done != length) {
            (*it)->Close();
            it = _writers.erase(it);
            Log(kWarning, "WriteData Writer Closed !");
        } else {
            ++it;
        }
    }
    if (_writers.empty()) {
        Log(kError, "WriteData ALL Writers Closed !", -1);
        return -1;
    }
    if (written)
        *written = length;
    return 0;
}

int CKorvoFormatMultipleWriter::SeekPos(uint32_t low, uint32_t high)
{
    for (auto it = _writers.begin(); it != _writers.end();) {
        if ((*it)->SeekPos(low, high) != 0) {
            it = _writers.erase(it);
            Log(kWarning, "SeekPos Writer Closed !");
        } else {
            ++it;
        }
    }
    if (_writers.empty()) {
        Log(kError, "SeekPos ALL Writers Closed !", -1);
        return -1;
    }
    return 0;
}
