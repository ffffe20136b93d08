#include "reading/framework/CSourceReader.h"

#include <cctype>
#include <new>

#include "common/CLogManager.h"
#include "reading/framework/CFtpFileReader.h"
#include "reading/framework/CLocalFileReader.h"

bool StartsWithNoCase(const char* text, const char* prefix)
{
    for (; *prefix; ++text, ++prefix)
        if (!*text ||
            std::tolower(static_cast<unsigned char>(*text)) != std::tolower(static_cast<unsigned char>(*prefix)))
            return false;
    return true;
}

int32_t CSourceReader::Open(const char*, uint32_t, uint32_t)
{
    return -1;
}

int32_t CSourceReader::Read(uint8_t*, uint32_t, uint32_t* read)
{
    if (read)
        *read = 0;
    return -1;
}

int32_t CSourceReader::Seek(uint64_t*)
{
    return -1;
}

int32_t CSourceReader::Move(int64_t)
{
    return -1;
}

int32_t CSourceReader::GetPath(char*, uint32_t)
{
    return -1;
}

int32_t CSourceReader::SetOption(const char*, const char*)
{
    return -1;
}

int32_t CSourceReader::GetInfo(const char*, char*, uint32_t)
{
    return -1;
}

std::unique_ptr<CSourceReader> CreateSourceReader(const char* name, uint32_t low, uint32_t high,
                                                  const std::string& logName)
{
    if (!name)
        return nullptr;
    std::unique_ptr<CSourceReader> reader;
    if (StartsWithNoCase(name, "ftp:")) {
        theLogManager.LogTo(logName, "KorvoAccessHandler: Requested FTP File Reader ...");
        reader.reset(new (std::nothrow) CFtpFileReader(logName, CFtpFileReader::kDefaultBufferSize));
    } else {
        reader.reset(new (std::nothrow) CLocalFileReader());
    }
    if (!reader) {
        theLogManager.LogTo(logName, "KorvoFileReader - FAILED to Allocate FileReader !!");
        return nullptr;
    }
    if (reader->Open(name, low, high) != 0)
        return nullptr;
    return reader;
}
