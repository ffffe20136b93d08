#include "writers/formatdata/CKorvoFormatFileWriter.h"

#include <cstring>

CKorvoFormatFileWriter::CKorvoFormatFileWriter(uint32_t minTransfer, uint32_t maxTransfer)
    : CKorvoFormatDataWriter(minTransfer, maxTransfer)
{
    _szPrefix = "FileWriter: ";
}

CKorvoFormatFileWriter::~CKorvoFormatFileWriter()
{
    if (_writer.IsHandleValid())
        _writer.Close();
}

int CKorvoFormatFileWriter::Open(const char* path)
{
    if (!path)
        return -1;
    if (std::strncmp(path, "korvo:", 6) == 0)
        path += 6;
    _writer.SetMinMaxWr(_dwMinTransfer, _dwMaxTransfer);
    int result = static_cast<int>(_writer.Open(path));
    if (result != 0) {
        Log(kError, "Open FAILED !", result);
        return result;
    }
    Log(kProgress, "CFileWriter File Open !");
    result = static_cast<int>(_writer.SetSize(0));
    if (result != 0) {
        Log(kError, "FAILED to empty the file !", result);
        _writer.Close();
    }
    return result;
}

int CKorvoFormatFileWriter::Close()
{
    int result = static_cast<int>(_writer.Close());
    Log(result == 0 ? kProgress : kError, "CFileWriter File Closed !", result);
    return result;
}

int CKorvoFormatFileWriter::WriteData(const void* data, uint32_t length, uint32_t* written)
{
    uint32_t taken = 0;
    int result = static_cast<int>(_writer.WriteData(data, length, &taken));
    if (written)
        *written = taken;
    if (result != 0)
        Log(kError, "FAILED to Write Data", result);
    return result;
}

int CKorvoFormatFileWriter::SeekPos(uint32_t low, uint32_t high)
{
    int result = static_cast<int>(_writer.SetFilePos((static_cast<uint64_t>(high) << 32) | low));
    if (result != 0)
        Log(kError, "FAILED to SetFilePos", result);
    return result;
}
