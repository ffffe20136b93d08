#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "writers/formatdata/CKorvoFormatDataWriter.h"

// Several targets written together; a target that fails is dropped and the others go on.
class CKorvoFormatMultipleWriter : public CKorvoFormatDataWriter
{
public:
    // Makes one target's writer and opens it on the path; null when it cannot be opened.
    using TargetMaker = std::function<std::unique_ptr<CKorvoFormatDataWriter>(const char* path)>;

    CKorvoFormatMultipleWriter(uint32_t minTransfer, uint32_t maxTransfer, TargetMaker makeTarget);
    ~CKorvoFormatMultipleWriter() override;

    // Adds one target; 1 when it cannot be opened.
    int Open(const char* path) override;
    int Close() override;
    int WriteData(const void* data, uint32_t length, uint32_t* written) override;
    int SeekPos(uint32_t low, uint32_t high) override;
    bool IsOpen() override { return !_writers.empty(); }
    size_t WriterCount() const { return _writers.size(); }

private:
    TargetMaker _makeTarget;
    std::vector<std::unique_ptr<CKorvoFormatDataWriter>> _writers;
};
