// rixsim: serves a folder as a Rix video server until interrupted.
//
//   rixsim --root <folder> [--port 2121] [--gbe-port 7010] [--address 127.0.0.1]
//
// Every file of the folder is served under its relative path. Files ending in ".CLP" or ".TRN" are clips:
// their bytes are the blocks one after the other; the block size is the one a leading "BAVD" header gives,
// else 2 MB when the file is exactly one 2 MB block or its size is a multiple of 2 MB but not of 8 MB, else
// 8 MB. The clip-table XML lies beside each clip as a plain file. The files are read into memory at start;
// uploads stay in memory.
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "outside/rix/CRixSimServer.h"

namespace
{
uint32_t ClipBlockSize(const rixsim::RixSimBytes& v)
{
    constexpr uint32_t k2MB = 0x200000, k8MB = 0x800000;
    if (v.size() >= 12 && v[0] == 'B' && v[1] == 'A' && v[2] == 'V' && v[3] == 'D') {
        uint32_t n = uint32_t(v[8]) << 24 | uint32_t(v[9]) << 16 | uint32_t(v[10]) << 8 | v[11];
        if (n == k2MB || n == k8MB)
            return n;
    }
    return (!v.empty() && v.size() % k2MB == 0 && v.size() % k8MB != 0) ? k2MB : k8MB;
}

int Usage()
{
    std::fprintf(stderr, "usage: rixsim --root <folder> [--port 2121] [--gbe-port 7010] [--address 127.0.0.1]\n");
    return 2;
}
}  // namespace

int main(int argc, char** argv)
{
    rixsim::RixSimConfig config;
    config._nFtpPort = 2121;
    config._nGbePort = 7010;
    std::filesystem::path root;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string szOption = argv[i];
        char* pEnd = nullptr;
        unsigned long n = std::strtoul(argv[i + 1], &pEnd, 10);
        bool bPort = *pEnd == '\0' && n <= 65535;
        if (szOption == "--root")
            root = argv[i + 1];
        else if (szOption == "--address")
            config._szBindAddress = argv[i + 1];
        else if (szOption == "--port" && bPort)
            config._nFtpPort = uint16_t(n);
        else if (szOption == "--gbe-port" && bPort)
            config._nGbePort = uint16_t(n);
        else
            return Usage();
    }
    if (argc % 2 == 0 || root.empty() || !std::filesystem::is_directory(root))
        return Usage();

    rixsim::CRixSimServer server(config);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string szPath = "/" + std::filesystem::relative(entry.path(), root).generic_string();
        if (entry.is_directory()) {
            server.Store().AddDirectory(szPath);
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        rixsim::RixSimBytes vData((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string szExt = entry.path().extension().string();
        for (char& c : szExt)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        uint32_t nBlockSize = (szExt == ".CLP" || szExt == ".TRN") ? ClipBlockSize(vData) : 0;
        server.Store().AddFile(szPath, std::move(vData), nBlockSize);
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    if (!server.Start()) {
        std::fprintf(stderr, "rixsim: cannot listen on %s ports %u and %u\n", config._szBindAddress.c_str(),
                     config._nFtpPort, config._nGbePort);
        return 1;
    }
    std::printf("rixsim: serving %s, FTP on %s:%u, GbE on port %u\n", root.c_str(), config._szBindAddress.c_str(),
                server.FtpPort(), server.GbePort());
    std::fflush(stdout);
    int nSignal = 0;
    sigwait(&signals, &nSignal);
    server.Stop();
    return 0;
}
