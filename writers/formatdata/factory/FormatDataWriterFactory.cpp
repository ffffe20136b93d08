#include "writers/formatdata/factory/FormatDataWriterFactory.h"

#include <strings.h>

#include <atomic>
#include <memory>

#include "common/CLogManager.h"
#include "writers/formatdata/CKorvoFormatAsynchronousFileWriter.h"
#include "writers/formatdata/CKorvoFormatFTPWriter.h"
#include "writers/formatdata/CKorvoFormatFileWriter.h"
#include "writers/formatdata/CKorvoFormatMultipleWriter.h"

namespace
{
std::atomic<bool> g_bAsynchronousDefault{false};

bool HasPrefix(const char* path, const char* prefix)
{
    return strncasecmp(path, prefix, std::char_traits<char>::length(prefix)) == 0;
}
}  // namespace

void SetDefaultAsynchronousWriting(bool on)
{
    g_bAsynchronousDefault = on;
}
bool GetDefaultAsynchronousWriting()
{
    return g_bAsynchronousDefault;
}

void SplitWriterPaths(const std::string& path, std::vector<std::string>* paths)
{
    paths->clear();
    size_t separator = path.rfind('\\');
    if (separator == std::string::npos)
        separator = path.rfind('/');
    if (separator == std::string::npos) {
        paths->push_back(path);
        return;
    }
    const std::string name = path.substr(separator + 1);
    const std::string folders = path.substr(0, separator + 1);
    size_t start = 0;
    for (;;) {
        size_t star = folders.find('*', start);
        paths->push_back(folders.substr(start, star == std::string::npos ? std::string::npos : star - start) + name);
        if (star == std::string::npos)
            break;
        start = star + 1;
    }
}

CKorvoFormatDataWriter* CreateDataWriter(const char* path, uint32_t bufferSize)
{
    return CreateDataWriterEx(path, g_bAsynchronousDefault, bufferSize, bufferSize);
}

CKorvoFormatDataWriter* CreateDataWriterEx(const char* path, bool asynchronous, uint32_t minTransfer,
                                           uint32_t maxTransfer)
{
    if (!path)
        return nullptr;
    std::vector<std::string> paths;
    SplitWriterPaths(path, &paths);
    if (paths.size() == 1)
        return CreateFormatDataWriter(path, asynchronous, minTransfer, maxTransfer);

    theLogManager.Log("Creating MULTIPLE Writers");
    // The targets take the module-wide asynchronous flag when they open, not this call's.
    auto makeTarget = [minTransfer, maxTransfer](const char* one) {
        return std::unique_ptr<CKorvoFormatDataWriter>(
            CreateFormatDataWriter(one, GetDefaultAsynchronousWriting(), minTransfer, maxTransfer));
    };
    auto writer = std::make_unique<CKorvoFormatMultipleWriter>(minTransfer, maxTransfer, std::move(makeTarget));
    int opened = 0;
    for (const std::string& one : paths)
        opened += writer->Open(one.c_str()) == 0 ? 1 : 0;
    if (opened == 0) {
        theLogManager.Log("CKorvoFormatDataWriter: MultipleWriter NOT Opened !");
        return nullptr;
    }
    return writer.release();
}

CKorvoFormatDataWriter* CreateFormatDataWriter(const char* path, bool asynchronous, uint32_t minTransfer,
                                               uint32_t maxTransfer)
{
    if (!path)
        return nullptr;
    std::unique_ptr<CKorvoFormatDataWriter> writer;
    if (HasPrefix(path, "ftp:")) {
        if (asynchronous)
            writer = std::make_unique<CKorvoFormatAsynchronousFTPWriter>(minTransfer, maxTransfer);
        else
            writer = std::make_unique<CKorvoFormatFTPWriter>(minTransfer, maxTransfer);
    } else if (!HasPrefix(path, "korvo:") && (asynchronous || HasPrefix(path, "async:"))) {
        writer = std::make_unique<CKorvoFormatAsynchronousFileWriter>(minTransfer, maxTransfer);
    } else {
        writer = std::make_unique<CKorvoFormatFileWriter>(minTransfer, maxTransfer);
    }
    int result = writer->Open(path);
    if (result != 0) {
        theLogManager.Log("CKorvoFormatDataWriter: Writer::Open FAILED [%i] !", result);
        return nullptr;
    }
    return writer.release();
}
