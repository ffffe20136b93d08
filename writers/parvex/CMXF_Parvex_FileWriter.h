#pragma once

#include <cstdint>

#include "common/CFileWriter.h"
#include "platform/PageBuffer.h"

class CLogFile;
class CMXF_Parvex_ClipInfo;

// Lays out a Parvex clip file: the 2 MB header area (header partition, primer pack, Korvo metadata set, fill,
// essence key), and the footer (partition, primer pack, the metadata set again with thumbnails and the block
// index). The essence blocks between them are written by the caller.
class CMXF_Parvex_FileWriter : public CFileWriter
{
public:
    static constexpr uint32_t kWorkBufferSize = 0x200000;

    // Messages go to log, or to the log manager when it is null.
    explicit CMXF_Parvex_FileWriter(CLogFile* log = nullptr);

    // Builds the 2 MB header image: 0; -1 without work buffer; 2 when the metadata does not fit the header area.
    int SetHeaderData(CMXF_Parvex_ClipInfo* info, uint64_t essenceBytes, uint64_t footerPos);
    // Writes the header image at 0 and goes back: 0; 1 on a short write; -1 without work buffer.
    int WriteHeader();
    // Writes the footer at the current position and returns that position; *success is false after any failed
    // or short write, or when the metadata does not fit the work buffer.
    uint64_t WriteFooter(CMXF_Parvex_ClipInfo* info, bool truncate, bool* success);
    // Allocates the disk space of a range before it is written, so that a full disk fails here rather than in
    // the write; true without a reservation where the file system cannot make one (the write then tells).
    bool Reserve(uint64_t position, uint64_t length);

private:
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Writes n bytes at the current position; false (logged with where) when fewer went.
    bool WriteAll(const uint8_t* data, uint32_t n, const char* what);

    CLogFile* _pLog;
    platform::PageBuffer _pWork;
    bool _bNoReserveLogged = false;
};
