// rixsim: serves a folder as a Rix video server until interrupted.
//
//   rixsim --root <folder> [--port 2121] [--gbe-port 7010] [--address 127.0.0.1] [--block-size 2|8]
//
// Every file of the folder is served under its relative path. Files ending in ".CLP" or ".TRN" are clips:
// their bytes are the blocks one after the other. A server keeps one block size, which its welcome line
// announces and its clients read blocks by: --block-size, else the size of the folder's clips (a leading
// "BAVD" header gives it, a 2 MB block table at the end of the first 2 MB says 2 MB), else 8 MB. A folder
// whose clips mix 2 MB and 8 MB blocks, or disagree with --block-size, is refused. The clip-table XML lies
// beside each clip as a plain file. The files are read into memory at start; uploads stay in memory.
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "outside/rix/CRixSimServer.h"

namespace
{
constexpr uint32_t k2MB = 0x200000, k8MB = 0x800000;

// The block size a clip's bytes show, 0 when they show none.
uint32_t ClipBlockSize(const rixsim::RixSimBytes& v)
{
    if (v.size() >= 12 && v[0] == 'B' && v[1] == 'A' && v[2] == 'V' && v[3] == 'D') {
        uint32_t n = uint32_t(v[8]) << 24 | uint32_t(v[9]) << 16 | uint32_t(v[10]) << 8 | v[11];
        return n == k2MB || n == k8MB ? n : 0;
    }
    return v.size() >= k2MB && rixsim::RixSimBlockFields(v.data(), k2MB) ? k2MB : 0;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: rixsim --root <folder> [--port 2121] [--gbe-port 7010] [--address 127.0.0.1]"
                 " [--block-size 2|8]\n"
                 "  Serves the folder as a video server; files ending in .CLP or .TRN are clips of blocks.\n"
                 "  --block-size  the block size in MB announced in the welcome and used for every clip;\n"
                 "                by default the size of the folder's clips (8 when none shows one). A folder\n"
                 "                mixing 2 MB and 8 MB clips is refused: serve them from separate folders.\n");
    return 2;
}

struct FolderFile {
    std::string szPath;
    bool bDirectory = false;
    bool bClip = false;
    uint32_t nBlockSize = 0;  // as the clip's bytes show it
    rixsim::RixSimBytes vData;
};
}  // namespace

int main(int argc, char** argv)
{
    rixsim::RixSimConfig config;
    config._nFtpPort = 2121;
    config._nGbePort = 7010;
    std::filesystem::path root;
    uint32_t nBlockOption = 0;
    for (int i = 1; i < argc; i += 2) {
        std::string szOption = argv[i];
        if (szOption == "--help" || szOption == "-h") {
            Usage();
            return 0;
        }
        if (i + 1 >= argc)
            return Usage();
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
        else if (szOption == "--block-size" && *pEnd == '\0' && (n == 2 || n == 8))
            nBlockOption = n == 2 ? k2MB : k8MB;
        else
            return Usage();
    }
    if (root.empty() || !std::filesystem::is_directory(root))
        return Usage();

    std::vector<FolderFile> files;
    const FolderFile* p2MB = nullptr;
    const FolderFile* p8MB = nullptr;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        FolderFile file;
        file.szPath = "/" + std::filesystem::relative(entry.path(), root).generic_string();
        file.bDirectory = entry.is_directory();
        if (!file.bDirectory) {
            std::ifstream in(entry.path(), std::ios::binary);
            file.vData.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            std::string szExt = entry.path().extension().string();
            for (char& c : szExt)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            file.bClip = szExt == ".CLP" || szExt == ".TRN";
            file.nBlockSize = file.bClip ? ClipBlockSize(file.vData) : 0;
        }
        files.push_back(std::move(file));
    }
    for (const FolderFile& file : files) {
        if (file.nBlockSize == k2MB && !p2MB)
            p2MB = &file;
        if (file.nBlockSize == k8MB && !p8MB)
            p8MB = &file;
    }
    uint32_t nBlockSize = nBlockOption;
    if (nBlockOption) {
        const FolderFile* pOther = nBlockOption == k2MB ? p8MB : p2MB;
        if (pOther) {
            std::fprintf(stderr, "rixsim: %s holds %u MB blocks, not the %u MB of --block-size\n",
                         pOther->szPath.c_str(), pOther->nBlockSize >> 20, nBlockOption >> 20);
            return 1;
        }
    } else if (p2MB && p8MB) {
        std::fprintf(stderr,
                     "rixsim: %s mixes 2 MB clips (%s) and 8 MB clips (%s); a server keeps one block size: serve "
                     "them from separate folders\n",
                     root.c_str(), p2MB->szPath.c_str(), p8MB->szPath.c_str());
        return 1;
    } else {
        nBlockSize = p2MB ? k2MB : k8MB;
    }
    config._vWelcome = rixsim::RixSimWelcome(nBlockSize == k2MB ? rixsim::RixSimWelcomeStyle::Block2
                                                                : rixsim::RixSimWelcomeStyle::Standard);
    config._nStoreBlockSize = nBlockSize;

    rixsim::CRixSimServer server(config);
    for (FolderFile& file : files) {
        if (file.bDirectory)
            server.Store().AddDirectory(file.szPath);
        else
            server.Store().AddFile(file.szPath, std::move(file.vData), file.bClip ? nBlockSize : 0);
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    if (!server.Start()) {
        std::fprintf(stderr, "rixsim: cannot listen on %s, %s\n", config._szBindAddress.c_str(),
                     server.StartError().c_str());
        return 1;
    }
    std::printf("rixsim: serving %s with %u MB blocks, FTP on %s:%u, GbE on port %u\n", root.c_str(), nBlockSize >> 20,
                config._szBindAddress.c_str(), server.FtpPort(), server.GbePort());
    std::fflush(stdout);
    int nSignal = 0;
    sigwait(&signals, &nSignal);
    server.Stop();
    return 0;
}
