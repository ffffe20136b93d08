#pragma once

#include <cstdint>
#include <string>

// The output stream the file-format writers write through, chosen by the target path: a plain file, a
// file written by a background thread, an FTP upload or several targets at once.
class CKorvoFormatDataWriter
{
public:
    // Message levels: progress, warning, error.
    static constexpr int kProgress = 0;
    static constexpr int kWarning = 1;
    static constexpr int kError = 2;

    CKorvoFormatDataWriter(uint32_t minTransfer, uint32_t maxTransfer);
    virtual ~CKorvoFormatDataWriter();
    CKorvoFormatDataWriter(const CKorvoFormatDataWriter&) = delete;
    CKorvoFormatDataWriter& operator=(const CKorvoFormatDataWriter&) = delete;

    virtual int Open(const char* path) = 0;
    virtual int Close() { return -1; }
    virtual int WriteData(const void* data, uint32_t length, uint32_t* written);
    virtual int SeekPos(uint32_t low, uint32_t high);
    virtual bool IsOpen() { return false; }
    virtual void OnHook(int) {}

    int SeekPos64(uint64_t position)
    {
        return SeekPos(static_cast<uint32_t>(position), static_cast<uint32_t>(position >> 32));
    }
    // The log in theLogManager that warnings and errors go to (empty: its default log).
    void SetLogName(std::string name) { _szLogName = std::move(name); }
    uint32_t GetMinTransfer() const { return _dwMinTransfer; }
    uint32_t GetMaxTransfer() const { return _dwMaxTransfer; }

protected:
    // Prefix + text; warnings and errors also go to the log with the value appended.
    void Log(int level, const char* text, int64_t value = 0) const;
    void Logf(int level, int64_t value, const char* format, ...) const __attribute__((format(printf, 4, 5)));

    uint32_t _dwMinTransfer;
    uint32_t _dwMaxTransfer;
    std::string _szPrefix = "Undefined Writer: ";
    std::string _szLogName;
};
