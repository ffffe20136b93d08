#pragma once

#include <cstdint>
#include <string>

#include "platform/File.h"
#include "reading/source/CSourceReader.h"

// A source on a local or network file. Names may be drive or UNC paths; it always logs to "default".
class CLocalFileReader : public CSourceReader
{
public:
    CLocalFileReader() : CSourceReader(std::string()) {}
    ~CLocalFileReader() override;

    // 0, or 1 when the file cannot be opened (logged with the system's reason). low and high are not used.
    int32_t Open(const char* name, uint32_t low, uint32_t high) override;
    void Close() override;
    bool IsAtEnd() override;
    // -1 without a file; 1 when the read failed (the open flag is cleared).
    int32_t Read(uint8_t* buffer, uint32_t size, uint32_t* read) override;
    // -1 without a file; 1 when the position cannot be set (the open flag is cleared).
    int32_t Seek(uint64_t* position) override;
    int32_t Move(int64_t delta) override;
    int64_t GetSize() override;
    void GetName(std::string& name) override;
    // -1 without a name, -2 when the name and its terminator do not fit.
    int32_t GetPath(char* buffer, uint32_t capacity) override;

    uint64_t GetPosition() const { return _nPosition; }

private:
    int32_t SetPosition(int64_t position, const char* watchName);

    platform::File _file;
    uint64_t _nPosition = 0;
    std::string _szName;
    bool _bHasName = false;
};
