// Writes and reads one file through CFileWriter and CFileReader at unaligned positions and lengths,
// so that a system-call trace of this program shows what reaches the O_DIRECT handles.
// Usage: file_io_trace_helper <file> <sector size>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/CFileReader.h"
#include "common/CFileWriter.h"
#include "platform/File.h"
#include "platform/PageBuffer.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <file> <sector size>\n", argv[0]);
        return 2;
    }
    std::string path = argv[1];
    platform::File::ForceSectorSize(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)));

    std::vector<char> data(300000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + 3);
    CFileWriter writer;
    writer.SetMinMaxWr(3000, 70000);
    if (writer.Open(path) != 0)
        return 1;
    uint32_t taken = 0;
    for (uint32_t length : {1u, 777u, 4096u, 100001u, 13u, 65536u})
        if (writer.WriteData(data.data() + 5, length, &taken) != 0)
            return 1;
    if (writer.SetFilePos(1234) != 0 || writer.WriteData(data.data(), 99, &taken) != 0 ||
        writer.SetFilePos(writer.GetCurrentPos() + 50000) != 0 || writer.Close() != 0)
        return 1;

    CFileReader reader("");
    reader.SetMinMaxRd(5000, 60000);
    if (reader.Open(path) != 0)
        return 1;
    for (uint64_t position : {0ull, 1ull, 4095ull, 100003ull, 170000ull}) {
        uint32_t got = 0;
        if (reader.Seek(position) != 0 || reader.ReadData(data.data() + 1, 65537, &got) != 0)
            return 1;
    }
    // Memory skewed like the position: the middle and the tail sector come in one vectored read.
    const uint32_t sector = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    platform::PageBuffer skewed = platform::MakePageBuffer(70000);
    for (uint64_t position : {100ull, 100ull + 60000ull}) {
        uint32_t got = 0;
        if (reader.Seek(position) != 0 || reader.ReadData(skewed.get() + position % sector, 60000, &got) != 0)
            return 1;
    }
    return reader.Close();
}
