#include "writers/formatdata/CKorvoFormatDataWriter.h"

#include <cstdarg>
#include <cstdio>

#include "common/CLogManager.h"

CKorvoFormatDataWriter::CKorvoFormatDataWriter(uint32_t minTransfer, uint32_t maxTransfer)
    : _dwMinTransfer(minTransfer), _dwMaxTransfer(maxTransfer)
{
}

CKorvoFormatDataWriter::~CKorvoFormatDataWriter() = default;

int CKorvoFormatDataWriter::WriteData(const void*, uint32_t, uint32_t* written)
{
    if (written)
        *written = 0;
    return -1;
}

int CKorvoFormatDataWriter::SeekPos(uint32_t, uint32_t)
{
    return -1;
}

void CKorvoFormatDataWriter::Log(int level, const char* text, int64_t value) const
{
    // Progress goes only to a status sink, which this system does not set.
    if (level < kWarning)
        return;
    theLogManager.LogTo(_szLogName, "%s%s [%lli]", _szPrefix.c_str(), text, static_cast<long long>(value));
}

void CKorvoFormatDataWriter::Logf(int level, int64_t value, const char* format, ...) const
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Log(level, text, value);
}
