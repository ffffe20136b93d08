// Downloads and uploads a 1 GiB file through pyftpdlib on loopback with this client and with curl,
// in the same run, and prints the rates and their ratio. Usage: bench_ftp [size in MiB=1024] [runs=2]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchArgs.h"
#include "ftp/AsyncFTP.h"
#include "ftp/CKorvoFtpClient.h"
#include "tests/support/PyFtpServer.h"

namespace fs = std::filesystem;

namespace
{
constexpr uint32_t kChunk = 8 << 20;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Seconds of a curl run, or -1 when it failed.
double RunCurl(const std::string& args)
{
    double start = Now();
    int rc = std::system(("curl -s -S " + args).c_str());
    return rc == 0 ? Now() - start : -1;
}

double Download(const std::string& url, uint64_t size)
{
    CKorvoFtpClient client("");
    double start = Now();
    if (client.OpenFile(url, CKorvoFtpClient::kRetrieve, 0, 0) != 0)
        return -1;
    std::vector<uint8_t> buf(kChunk);
    uint64_t total = 0;
    for (;;) {
        int64_t count = 0;
        if (client.FtpReadFile(buf.data(), kChunk, &count) != 0)
            return -1;
        total += static_cast<uint64_t>(count);
        if (count < kChunk)
            break;
    }
    double seconds = Now() - start;
    return total == size ? seconds : -1;
}

// The client's own file upload: it reads the next block while the current one goes out.
double Upload(CKorvoFtpClient& client, const std::string& url, const fs::path& source)
{
    double start = Now();
    return client.UploadFile(source.string(), url) == 0 ? Now() - start : -1;
}

constexpr const char* kUsage =
    "usage: bench_ftp [size in MiB, 1 to 65536, default 1024] [runs, 1 to 100, default 2]\n"
    "Downloads and uploads a file of that size through pyftpdlib on loopback with this client and curl.\n";

void Report(const char* what, double mine, double curl, uint64_t size)
{
    double mib = static_cast<double>(size) / (1 << 20);
    if (mine <= 0 || curl <= 0) {
        std::printf("%-22s FAILED (client %.3f s, curl %.3f s)\n", what, mine, curl);
        return;
    }
    std::printf("%-22s client %8.1f MiB/s   curl %8.1f MiB/s   ratio client/curl %.2f\n", what, mib / mine, mib / curl,
                curl / mine);
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    uint64_t sizeMiB = 1024;
    uint64_t runCount = 2;
    if (argc > 3 || (argc > 1 && !bench::ReadCount(argv[1], 1, 65536, &sizeMiB)) ||
        (argc > 2 && !bench::ReadCount(argv[2], 1, 100, &runCount))) {
        std::fprintf(stderr, "bench_ftp: cannot read the arguments");
        for (int i = 1; i < argc; ++i)
            std::fprintf(stderr, " [%s]", argv[i]);
        std::fprintf(stderr, "\n%s", kUsage);
        return 2;
    }
    const uint64_t size = sizeMiB << 20;
    const int runs = static_cast<int>(runCount);
    fs::path root = fs::temp_directory_path() / ("korvo-bench-ftp-" + std::to_string(::getpid()));
    fs::create_directories(root / "served");
    fs::path source = root / "served" / "source.bin";
    {
        std::ofstream out(source, std::ios::binary);
        std::vector<uint32_t> block(kChunk / 4);
        std::mt19937 rng(1);
        for (uint64_t done = 0; done < size; done += kChunk) {
            for (auto& v : block)
                v = rng();
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(std::min<uint64_t>(kChunk, size - done)));
        }
    }
    int status = 0;
    {
        testsupport::PyFtpServer server(root / "served");
        if (!server.IsRunning()) {
            std::fprintf(stderr, "pyftpdlib did not start\n");
            return 1;
        }
        std::string base = "ftp://" + server.Address() + "/";
        std::printf("FTP on loopback through pyftpdlib, %.0f MiB, best of %d runs\n",
                    static_cast<double>(size) / (1 << 20), runs);
        double best[5] = {1e9, 1e9, 1e9, 1e9, 1e9};
        for (int run = 0; run < runs; ++run) {
            double t[5];
            t[0] = Download(base + "source.bin", size);
            t[1] = RunCurl("-o /dev/null " + base + "source.bin");
            CKorvoFtpClient client("");
            t[2] = Upload(client, base + "up_client.bin", source);
            client.Close(true, false);
            AsyncFTP async;
            t[3] = Upload(async, base + "up_async.bin", source);
            async.Close(true, false);
            t[4] = RunCurl("-T " + source.string() + " " + base + "up_curl.bin");
            for (int i = 0; i < 5; ++i)
                best[i] = t[i] < 0 || best[i] < 0 ? -1 : std::min(best[i], t[i]);
        }
        for (const char* name : {"up_client.bin", "up_async.bin", "up_curl.bin"})
            if (fs::file_size(root / "served" / name) != size) {
                std::printf("%s has the wrong size\n", name);
                status = 1;
            }
        Report("download", best[0], best[1], size);
        Report("upload", best[2], best[4], size);
        Report("upload (AsyncFTP)", best[3], best[4], size);
    }
    fs::remove_all(root);
    return status;
}
