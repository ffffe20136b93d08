#include "reading/framework/SourceReaderFactory.h"

#include <new>

#include "common/CLogManager.h"
#include "reading/source/CFtpFileReader.h"
#include "reading/source/CLocalFileReader.h"

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
