// The clip-file reader's header, footer and index parsing on any bytes. The input is small: a 2-byte big-endian
// length h, h bytes of header metadata and the footer's bytes. The target lays them out as a full-size file (the
// header at 0, the footer at 0x200000, a hole between) and reads it as the browser and the data readers do.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"

namespace
{

constexpr off_t kFooterAt = 0x200000;

bool WriteAt(int fd, const uint8_t* data, size_t n, off_t at)
{
    return n == 0 || pwrite(fd, data, n, at) == static_cast<ssize_t>(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static const std::string path = "/tmp/parvex-fuzz-" + std::to_string(getpid()) + ".mxf";
    size_t header = size_t{data[0]} << 8 | data[1];
    if (header > size - 2)
        header = size - 2;
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0)
        return 0;
    const bool written = WriteAt(fd, data + 2, header, 0) &&
                         WriteAt(fd, data + 2 + header, size - 2 - header, kFooterAt) &&
                         ftruncate(fd, kFooterAt + static_cast<off_t>(size - 2 - header)) == 0;
    close(fd);
    if (!written)
        return 0;

    // One reader for every run, as a data reader keeps its own from file to file.
    static CMXF_Parvex_FileReader reader("");
    if (reader.Open(path) != 0)
        return 0;
    CMXF_Parvex_ClipInfo info;
    int indexed = 0;
    reader.GetHeaderData(&info, 1, &indexed);
    CMXF_Parvex_ClipInfo footer;
    reader.GetFooterData(&footer);
    uint64_t essence = 0, footerPos = 0;
    reader.GetFileInfo(&essence, &footerPos);
    reader.Close();
    // Walk the index as a reader seeking through the clip does.
    const uint32_t in = info._nFileFieldIn, out = info._nFileFieldOutExcluded;
    const uint32_t step = out > in ? (out - in) / 64 + 1 : 1;
    for (uint64_t f = in; f < out && f < uint64_t{in} + 64 * step; f += step)
        info.GetBlockFromField(static_cast<uint32_t>(f));
    info.GetBlockFromField(out);
    if (info.GetBlockCount() > 0)
        info.Load_Thumbnails(path);
    return 0;
}
