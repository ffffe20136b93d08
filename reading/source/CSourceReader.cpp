#include "reading/source/CSourceReader.h"

#include <cctype>

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
