// curl as an independent FTP client of the simulator, in-process and through the program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "outside/rix/CRixClipTable.h"
#include "outside/rix/CRixSimServer.h"
#include "tests/outside/RixSimProgramRun.h"
#include "tests/outside/RixSimTestClient.h"
#include "tests/support/TestEnv.h"

using namespace rixsim;
using namespace rixsimtest;

namespace
{

bool HaveCurl()
{
    return std::system("curl --version >/dev/null 2>&1") == 0;
}

// Runs curl with the arguments; its exit code and what it wrote to stdout.
std::pair<int, std::string> Curl(const std::string& szArgs)
{
    std::string szCommand = "curl -s -S --max-time 20 " + szArgs;
    FILE* pipe = popen(szCommand.c_str(), "r");
    if (!pipe)
        return {-1, ""};
    std::string szOut;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        szOut.append(buffer, n);
    int rc = pclose(pipe);
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, szOut};
}

void WriteFile(const std::filesystem::path& path, const std::string& sz)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << sz;
}

TEST(RixSimCurl, ListsDownloadsAndUploadsPlainFiles)
{
    if (!HaveCurl())
        GTEST_SKIP() << "curl is not installed";
    CRixSimServer server;
    std::string szBig(3000000, '\0');
    for (size_t i = 0; i < szBig.size(); ++i)
        szBig[i] = char(i * 7);
    server.Store().AddFile("/media/big.bin", RixSimBytes(szBig.begin(), szBig.end()));
    server.Store().AddFile("/media/note.txt", RixSimBytes{'h', 'i'});
    ASSERT_TRUE(server.Start());
    std::string szUrl = "ftp://127.0.0.1:" + std::to_string(server.FtpPort()) + "/media/";

    auto [rcList, szList] = Curl(szUrl);
    EXPECT_EQ(rcList, 0);
    // The listing goes in ASCII mode: curl turns its CR LF into LF.
    EXPECT_EQ(szList,
              "-rw-r--r-- 1 rix rix 3000000 Jan  1 00:00 big.bin\n"
              "-rw-r--r-- 1 rix rix 2 Jan  1 00:00 note.txt\n");

    auto [rcGet, szGot] = Curl(szUrl + "big.bin");
    EXPECT_EQ(rcGet, 0);
    EXPECT_TRUE(szGot == szBig) << szGot.size() << " bytes";

    std::filesystem::path upload = testsupport::TestRoot() / "curl-upload.bin";
    WriteFile(upload, szBig.substr(0, 1234567));
    EXPECT_EQ(Curl("-T " + upload.string() + " " + szUrl + "up.bin").first, 0);
    EXPECT_TRUE(server.Store().FileData("/media/up.bin") == RixSimBytes(szBig.begin(), szBig.begin() + 1234567));
    EXPECT_TRUE(server.WaitForJournal("STOR up.bin", 0));
}

TEST(RixSimProgram, ServesAFolder)
{
    if (!HaveCurl())
        GTEST_SKIP() << "curl is not installed";
    std::filesystem::path root = testsupport::TestRoot() / "rixsim-folder";
    RixSimBytes vBlock0 = BavdBlock(0, 10, 0x200000, 1), vBlock1 = BavdBlock(10, 10, 0x200000, 2);
    std::string szClip = Str(vBlock0) + Str(vBlock1);
    std::string szXml = CRixClipTable::ForClip("demo", 0, 19).ToXml();
    WriteFile(root / "clips" / "000110A_demo.CLP", szClip);
    WriteFile(root / "clips" / "000110A_demo.XML", szXml);
    RixSimProgramRun run(KORVO_RIXSIM_PROGRAM, root);
    const uint16_t nPort = run.Port();
    ASSERT_NE(nPort, 0) << run.Errors();
    auto client = std::make_unique<FtpClient>(nPort);
    client->Login();
    client->Cmd("CWD /clips");
    EXPECT_TRUE(client->Retrieve("000110A_demo.CLP", "SITE SEEK -15").first == Str(vBlock1) + Str(vBlock0));
    client->Cmd("QUIT");
    EXPECT_EQ(Curl("ftp://127.0.0.1:" + std::to_string(nPort) + "/clips/000110A_demo.XML").second, szXml);
    EXPECT_EQ(run.Stop(), 0);
}

}  // namespace

namespace
{

// The program announces the block size of the clips it serves, or the one asked for, and refuses a folder that
// would need two.
TEST(RixSimProgram, AnnouncesTheBlockSizeOfItsClips)
{
    const std::filesystem::path base = testsupport::TestRoot() / "rixsim-blocks";
    const std::string two = Str(BavdBlock(0, 10, 0x200000, 1)), eight = Str(BavdBlock(0, 10, 0x800000, 2));
    WriteFile(base / "two" / "clips" / "000110A_two.CLP", two);
    WriteFile(base / "eight" / "clips" / "000111A_eight.CLP", eight);
    // Four 2 MB blocks with their tables: 8 MB of bytes, still 2 MB blocks.
    WriteFile(base / "table" / "000112A_table.CLP", Str(TableBlock(0, 10, 1)) + Str(TableBlock(10, 20, 2)) +
                                                        Str(TableBlock(20, 30, 3)) + Str(TableBlock(30, 40, 4)));
    WriteFile(base / "mixed" / "a" / "000110A_two.CLP", two);
    WriteFile(base / "mixed" / "b" / "000111A_eight.CLP", eight);
    std::filesystem::create_directories(base / "empty");
    struct Case {
        const char* folder;
        std::vector<std::string> options;
        const char* welcomeEnd;  // "" when refused
        int exitCode;
        const char* error;
    };
    const Case cases[] = {
        {"two", {}, " B: 2", 0, ""},
        {"eight", {}, " B: 8", 0, ""},
        {"table", {}, " B: 2", 0, ""},
        {"empty", {}, " B: 8", 0, ""},
        {"empty", {"--block-size", "2"}, " B: 2", 0, ""},
        {"two", {"--block-size", "2"}, " B: 2", 0, ""},
        {"mixed", {}, "", 1, "mixes 2 MB clips (/a/000110A_two.CLP) and 8 MB clips (/b/000111A_eight.CLP)"},
        {"two", {"--block-size", "8"}, "", 1, "/clips/000110A_two.CLP holds 2 MB blocks, not the 8 MB of --block-size"},
        {"two", {"--block-size", "4"}, "", 2, "--block-size 2|8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + (c.options.empty() ? "" : " " + c.options.back()));
        RixSimProgramRun run(KORVO_RIXSIM_PROGRAM, base / c.folder, c.options);
        EXPECT_TRUE(run.Welcome().ends_with(c.welcomeEnd)) << run.Welcome();
        EXPECT_EQ(run.Welcome().empty(), *c.welcomeEnd == '\0') << run.Welcome();
        EXPECT_EQ(run.Stop(), c.exitCode);
        EXPECT_NE(run.Errors().find(c.error), std::string::npos) << run.Errors();
    }
}

}  // namespace

namespace
{

// A port taken by another program is named in the error, FTP or GbE, with the cause.
TEST(RixSimProgram, NamesThePortThatIsBusy)
{
    const std::filesystem::path root = testsupport::TestRoot() / "rixsim-busy";
    std::filesystem::create_directories(root);
    const CRixSimSocket busy = CRixSimSocket::Listen("127.0.0.1", 0);
    ASSERT_TRUE(busy.IsOpen());
    const std::string port = std::to_string(busy.LocalPort());
    for (const char* option : {"--port", "--gbe-port"}) {
        SCOPED_TRACE(option);
        RixSimProgramRun run(KORVO_RIXSIM_PROGRAM, root, {option, port});
        EXPECT_EQ(run.Welcome(), "");
        EXPECT_EQ(run.Stop(), 1);
        const std::string which = std::string(option) == "--port" ? "FTP" : "GbE";
        EXPECT_NE(run.Errors().find("rixsim: cannot listen on 127.0.0.1, " + which + " port " + port +
                                    ": Address already in use"),
                  std::string::npos)
            << run.Errors();
    }
}

}  // namespace
