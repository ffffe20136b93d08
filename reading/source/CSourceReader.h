#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The byte source under a data reader: a local or network file, or a file on an FTP server.
// Used by one thread at a time.
class CSourceReader
{
public:
    explicit CSourceReader(std::string logName) : _szLogName(std::move(logName)) {}
    virtual ~CSourceReader() = default;
    CSourceReader(const CSourceReader&) = delete;
    CSourceReader& operator=(const CSourceReader&) = delete;

    // low and high are the halves of a 64-bit start position (used by the FTP source). 0 on success.
    virtual int32_t Open(const char* name, uint32_t low, uint32_t high);
    virtual void Close() {}
    virtual bool IsOpen() { return _bOpen; }
    virtual bool IsAtEnd() { return true; }
    // Up to size bytes; *read gets the count. 0 on success, and a short count is no failure.
    virtual int32_t Read(uint8_t* buffer, uint32_t size, uint32_t* read);
    // To an absolute position; the position reached may be written back. 0 on success.
    virtual int32_t Seek(uint64_t* position);
    virtual int32_t Move(int64_t delta);
    // Bytes, -1 when unknown.
    virtual int64_t GetSize() { return -1; }
    virtual void GetName(std::string& name) { (void)name; }
    // The name with its terminator into the buffer; its length, negative when it cannot.
    virtual int32_t GetPath(char* buffer, uint32_t capacity);
    virtual int32_t SetOption(const char* name, const char* value);
    // A named piece of information into the buffer; its length, -1 for an unknown name.
    virtual int32_t GetInfo(const char* name, char* buffer, uint32_t capacity);

    const std::string& GetLogName() const { return _szLogName; }

protected:
    std::string _szLogName;  // empty: "default"
    bool _bOpen = false;
};

// Whether the text begins with the prefix, compared without regard to case.
bool StartsWithNoCase(const char* text, const char* prefix);
