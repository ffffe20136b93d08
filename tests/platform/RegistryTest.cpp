#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "platform/Registry.h"

using platform::RegHive;
using platform::Registry;

namespace
{
const char* kKey = "SOFTWARE\\Brennhall\\Test";
}

TEST(Registry, TypedValuesRoundTripAndKeepTheirType)
{
    ASSERT_TRUE(Registry::SetString(RegHive::LocalMachine, kKey, "Logs Path", "C:\\"));
    ASSERT_TRUE(Registry::SetDword(RegHive::LocalMachine, kKey, "Max Log Size In Mb", 4));
    ASSERT_TRUE(Registry::SetQword(RegHive::LocalMachine, kKey, "Big", 0x123456789ABCDEF0ull));
    ASSERT_TRUE(Registry::SetBinary(RegHive::LocalMachine, kKey, "Blob", {0, 1, 0xFF}));
    ASSERT_TRUE(
        Registry::SetString(RegHive::LocalMachine, kKey, "Odd \"name\"", "line\nwith\\ and \x01 and caf\xc3\xa9"));

    EXPECT_EQ(Registry::GetString(RegHive::LocalMachine, kKey, "logs path"), "C:\\");
    EXPECT_EQ(Registry::GetDword(RegHive::LocalMachine, "software\\brennhall\\test", "Max Log Size In Mb"), 4u);
    EXPECT_EQ(Registry::GetQword(RegHive::LocalMachine, kKey, "Big"), 0x123456789ABCDEF0ull);
    EXPECT_EQ(Registry::GetBinary(RegHive::LocalMachine, kKey, "Blob"), (std::vector<uint8_t>{0, 1, 0xFF}));
    EXPECT_EQ(Registry::GetString(RegHive::LocalMachine, kKey, "Odd \"name\""),
              "line\nwith\\ and \x01 and caf\xc3\xa9");
    // A value of another type is not read as a string or number.
    EXPECT_FALSE(Registry::GetString(RegHive::LocalMachine, kKey, "Max Log Size In Mb"));
    EXPECT_FALSE(Registry::GetDword(RegHive::LocalMachine, kKey, "Logs Path"));
    // The hives are apart.
    EXPECT_FALSE(Registry::GetString(RegHive::CurrentUser, kKey, "Logs Path"));
    EXPECT_TRUE(Registry::DeleteKey(RegHive::LocalMachine, "SOFTWARE\\Brennhall"));
    EXPECT_FALSE(Registry::KeyExists(RegHive::LocalMachine, kKey));
}

TEST(Registry, EnumeratesInInsertionOrderAndOverwritesInPlace)
{
    for (const char* name : {"zeta", "alpha", "mid"})
        Registry::SetDword(RegHive::CurrentUser, "Software\\Brennhall\\Valdrin", name, 1);
    Registry::SetDword(RegHive::CurrentUser, "Software\\Brennhall\\Valdrin", "ALPHA", 7);
    Registry::CreateKey(RegHive::CurrentUser, "Software\\Brennhall\\Zed");
    Registry::CreateKey(RegHive::CurrentUser, "Software\\Brennhall\\Abc\\Deep");

    auto values = Registry::EnumValues(RegHive::CurrentUser, "Software\\Brennhall\\Valdrin");
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, "zeta");
    EXPECT_EQ(values[1].name, "ALPHA");
    EXPECT_EQ(Registry::GetDword(RegHive::CurrentUser, "Software\\Brennhall\\Valdrin", "alpha"), 7u);
    EXPECT_EQ(Registry::EnumSubKeys(RegHive::CurrentUser, "Software\\Brennhall"),
              (std::vector<std::string>{"Valdrin", "Zed", "Abc"}));
    EXPECT_TRUE(Registry::DeleteValue(RegHive::CurrentUser, "Software\\Brennhall\\Valdrin", "mid"));
    EXPECT_FALSE(Registry::DeleteValue(RegHive::CurrentUser, "Software\\Brennhall\\Valdrin", "mid"));
    Registry::DeleteKey(RegHive::CurrentUser, "Software");
}

TEST(Registry, MissingHiveIsEmptyAndBadLinesAreSkipped)
{
    EXPECT_FALSE(Registry::Query(RegHive::LocalMachine, "SOFTWARE\\Nothing", "x"));
    {
        std::ofstream out(platform::RegistryRoot() / "HKEY_CURRENT_USER.reg");
        out << "[Software\\Hand]\n\"good\"=dword:0000002a\ngarbage line\n\"bad\"=dword:zz\n\"s\"=sz:\"unterminated\n"
            << "\"\\xZZ\"=dword:1\n\"t\"=sz:\"\\x4\"\n";
    }
    EXPECT_EQ(Registry::GetDword(RegHive::CurrentUser, "Software\\Hand", "good"), 42u);
    EXPECT_FALSE(Registry::Query(RegHive::CurrentUser, "Software\\Hand", "bad"));
    EXPECT_FALSE(Registry::Query(RegHive::CurrentUser, "Software\\Hand", "s"));
    Registry::DeleteKey(RegHive::CurrentUser, "Software");
}

// A hand-written hive of leaf sections alone: their parents exist as keys, found level by level.
TEST(Registry, SectionsWithoutTheirParentsStillHaveThem)
{
    {
        std::ofstream out(platform::RegistryRoot() / "HKEY_LOCAL_MACHINE.reg");
        out << "[SOFTWARE\\Brennhall\\Nodwell\\Config\\Player]\n\"Type\"=dword:00000003\n"
            << "[SOFTWARE\\Brennhall]\n\"x\"=dword:00000001\n";
    }
    for (const char* key : {"SOFTWARE", "SOFTWARE\\Brennhall", "SOFTWARE\\Brennhall\\Nodwell",
                            "SOFTWARE\\Brennhall\\Nodwell\\Config", "SOFTWARE\\Brennhall\\Nodwell\\Config\\Player"})
        EXPECT_TRUE(Registry::KeyExists(RegHive::LocalMachine, key)) << key;
    EXPECT_EQ(Registry::EnumSubKeys(RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Nodwell\\Config"),
              std::vector<std::string>{"Player"});
    EXPECT_EQ(Registry::EnumSubKeys(RegHive::LocalMachine, ""), std::vector<std::string>{"SOFTWARE"});
    EXPECT_EQ(Registry::GetDword(RegHive::LocalMachine, "SOFTWARE\\Brennhall", "x"), 1u);
    // Saved again, the parents are written as sections of their own.
    ASSERT_TRUE(Registry::SetDword(RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Nodwell\\Config\\Player", "Type", 4));
    std::ifstream in(platform::RegistryRoot() / "HKEY_LOCAL_MACHINE.reg");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, text.find("[SOFTWARE\\Brennhall\\Nodwell]\n"));
    Registry::DeleteKey(RegHive::LocalMachine, "SOFTWARE");
}

// Two processes writing the same hive at once lose none of each other's values.
TEST(Registry, ConcurrentWritersInTwoProcessesLoseNothing)
{
    constexpr int kPerProcess = 150;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            bool ok = true;
            for (int i = 0; i < kPerProcess; ++i)
                ok = Registry::SetDword(RegHive::LocalMachine, "SOFTWARE\\Race",
                                        "p" + std::to_string(c) + "_" + std::to_string(i), i) &&
                     ok;
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto values = Registry::EnumValues(RegHive::LocalMachine, "SOFTWARE\\Race");
    EXPECT_EQ(values.size(), 2u * kPerProcess);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kPerProcess; ++i)
            EXPECT_EQ(Registry::GetDword(RegHive::LocalMachine, "SOFTWARE\\Race",
                                         "p" + std::to_string(c) + "_" + std::to_string(i)),
                      static_cast<uint32_t>(i));
    Registry::DeleteKey(RegHive::LocalMachine, "SOFTWARE\\Race");
}
