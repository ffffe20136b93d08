// Every test program runs with its registry, drive root and runtime folder in a fresh temp folder,
// so no test reads or writes the machine's own settings or files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/TestEnv.h"

namespace
{
std::filesystem::path g_root;
}

namespace testsupport
{
const std::filesystem::path& TestRoot()
{
    return g_root;
}
}  // namespace testsupport

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::string tmpl = (std::filesystem::temp_directory_path() / "korvo-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        perror("mkdtemp");
        return 2;
    }
    g_root = tmpl;
    for (const char* sub : {"registry", "drives", "run", "lib"})
        std::filesystem::create_directories(g_root / sub);
    setenv("KORVO_REGISTRY_ROOT", (g_root / "registry").c_str(), 1);
    setenv("KORVO_DRIVE_ROOT", (g_root / "drives").c_str(), 1);
    setenv("KORVO_RUNTIME_DIR", (g_root / "run").c_str(), 1);
    setenv("KORVO_LIBRARY_DIR", (g_root / "lib").c_str(), 1);
    int rc = RUN_ALL_TESTS();
    std::error_code ec;
    if (!getenv("KORVO_KEEP_TEST_ROOT"))
        std::filesystem::remove_all(g_root, ec);
    return rc;
}
