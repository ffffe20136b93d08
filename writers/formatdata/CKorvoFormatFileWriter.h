#pragma once

#include <memory>

#include "common/CFileWriter.h"
#include "writers/formatdata/CKorvoFormatDataWriter.h"

// A plain file, written by the aligned file writer in the caller's thread.
class CKorvoFormatFileWriter : public CKorvoFormatDataWriter
{
public:
    CKorvoFormatFileWriter(uint32_t minTransfer, uint32_t maxTransfer);
    ~CKorvoFormatFileWriter() override;

    int Open(const char* path) override;
    int Close() override;
    int WriteData(const void* data, uint32_t length, uint32_t* written) override;
    int SeekPos(uint32_t low, uint32_t high) override;
    bool IsOpen() override { return _writer.IsHandleValid(); }

private:
    CFileWriter _writer;
};
