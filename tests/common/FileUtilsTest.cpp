#include <gtest/gtest.h>

#include <fstream>

#include "common/FileUtils.h"
#include "platform/Paths.h"
#include "tests/support/TestEnv.h"

TEST(SplitPath, Cases)
{
    struct Case {
        const char* path;
        const char* root;
        const char* directory;
        const char* name;
        const char* extension;
    } cases[] = {
        {"\\\\srv\\media\\clips\\a.mxf", "\\\\srv\\media", "\\clips\\", "a", ".mxf"},
        {"\\\\srv\\media\\a", "\\\\srv\\media", "\\", "a", ""},
        {"\\\\srv\\media", "", "", "media", ""},
        {"C:\\KorvoLogs\\KorvoMirel\\Recalo.log", "C:", "\\KorvoLogs\\KorvoMirel\\", "Recalo", ".log"},
        {"C:clip.v1.mxf", "C:", "", "clip.v1", ".mxf"},
        {"D:\\", "D:", "\\", "", ""},
        {"/media/clips/a.mxf", "/", "media/clips/", "a", ".mxf"},
        {"\\clips\\a.mxf", "", "", "", ""},
        {"clips\\a.mxf", "", "", "", ""},
        {"a", "", "", "", ""},
        {"", "", "", "", ""},
    };
    for (const Case& c : cases) {
        std::string root = "x", dir = "x", name = "x", ext = "x";
        SplitPath(c.path, &root, &dir, &name, &ext);
        EXPECT_EQ(root, c.root) << c.path;
        EXPECT_EQ(dir, c.directory) << c.path;
        EXPECT_EQ(name, c.name) << c.path;
        EXPECT_EQ(ext, c.extension) << c.path;
    }
    std::string only;
    SplitPath("C:\\a\\b.c", nullptr, nullptr, &only, nullptr);
    EXPECT_EQ(only, "b");
}

TEST(FileUtils, SizesAndTruncation)
{
    std::string path = "C:\\sizes.bin";
    std::string local = platform::ToLocalPath(path);
    std::filesystem::create_directories(std::filesystem::path(local).parent_path());
    std::ofstream(local) << std::string(10000, 'x');

    uint64_t size = 0;
    EXPECT_EQ(GetFileSizeByName(path, &size), 0u);
    EXPECT_EQ(size, 10000u);
    EXPECT_EQ(GetFileSizeByName("C:\\missing.bin", &size), 1u);
    EXPECT_EQ(SetFileSizeByName("C:\\missing.bin", 5), 3u);

    platform::File f;
    ASSERT_TRUE(f.Open(local, platform::File::Access::ReadWrite, platform::File::Disposition::OpenExisting));
    EXPECT_EQ(SeekFile(f, 500), 0u);
    EXPECT_EQ(SetFileSize(f, 1234), 0u);
    EXPECT_EQ(f.Tell(), 0u);
    EXPECT_EQ(GetFileSize64(f, &size), 0u);
    EXPECT_EQ(size, 1234u);
    // Growing past 4 GiB gives a sparse file of the exact size.
    EXPECT_EQ(SetFileSize(f, (5ull << 30) + 3), 0u);
    EXPECT_EQ(GetFileSize64(f, &size), 0u);
    EXPECT_EQ(size, (5ull << 30) + 3);
    f.Close();
    EXPECT_EQ(SetFileSizeByName(path, 7), 0u);
    EXPECT_EQ(GetFileSizeByName(path, &size), 0u);
    EXPECT_EQ(size, 7u);
}

TEST(FileUtils, SectorSize)
{
    uint32_t bytes = 0;
    EXPECT_EQ(GetSectorSize("\\\\.\\NUL", &bytes), 0u);
    EXPECT_EQ(bytes, 512u);
    bytes = 0;
    EXPECT_EQ(GetSectorSize("C:\\not\\yet\\there.mxf", &bytes), 0u);
    EXPECT_TRUE(bytes == 512 || bytes == 4096) << bytes;
    bytes = 0;
    EXPECT_EQ(GetSectorSize("relative.mxf", &bytes), 0u);  // taken from the current folder
    EXPECT_GE(bytes, 512u);
    EXPECT_EQ(GetSectorSize("\\nodrive.mxf", &bytes), 0u);  // rooted on the current drive
    EXPECT_EQ(GetSectorSize("", &bytes), 1u);
}
