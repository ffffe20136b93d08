// The README's recipe for the SNMP agent, run as written: the shell blocks of its section, in order, against
// this build, with snmpd, snmptrapd, the host and a product of its own on free loopback ports.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/snmpagent/SnmpTestKit.h"
#include "tests/support/TestEnv.h"

namespace snmptest
{
namespace
{

std::string RecipeOf(const std::string& readme, const std::string& heading)
{
    const size_t start = readme.find("\n" + heading + "\n");
    if (start == std::string::npos)
        return {};
    const size_t end = readme.find("\n## ", start + 1);
    const std::string section = readme.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string script;
    for (size_t at = section.find("```sh\n"); at != std::string::npos; at = section.find("```sh\n", at)) {
        at += 6;
        const size_t close = section.find("```", at);
        if (close == std::string::npos)
            break;
        script += section.substr(at, close - at);
        at = close + 3;
    }
    return script;
}

TEST(SnmpReadme, TheAgentsRecipeRunsAsWritten)
{
    const std::string section =
        RecipeOf(ReadFile(std::filesystem::path(KORVO_SOURCE_DIR) / "README.md"), "## The SNMP agent under snmpd");
    ASSERT_NE(std::string::npos, section.find("nodwell-subagent"));
    ASSERT_NE(std::string::npos, section.find("korvo-player"));
    // The agent knows a product by the name of a running program, machine-wide: the recipe's product takes a name
    // of this run's own, so the recipe run by another test run beside this one is not seen as this one's product.
    std::string script = section;
    const std::string name = "korvo-player", own = name + "-" + std::to_string(getpid());
    for (size_t at = script.find(name); at != std::string::npos; at = script.find(name, at + own.size()))
        script.replace(at, name.size(), own);
    const auto root = testsupport::TestRoot();
    std::filesystem::create_directories(root / "tmp");
    std::ofstream(root / "recipe.sh") << script;

    // The build the test runs in, the recipe's folder in the test's own, and the agent's checks shortened.
    setenv("B", std::filesystem::path(KORVO_SNMP_SUBAGENT).parent_path().parent_path().parent_path().c_str(), 1);
    setenv("TMPDIR", (root / "tmp").c_str(), 1);
    setenv("KORVO_NODWELL_FIRST_TICK_MS", "200", 1);
    setenv("KORVO_NODWELL_TICK_MS", "300", 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // net-snmp keeps its tables to the end
    ChildProcess recipe;
    // A session of its own, so that whatever the recipe leaves running can be stopped with it.
    ASSERT_TRUE(recipe.Start({"/usr/bin/setsid", "/bin/bash", (root / "recipe.sh").string()}, root / "recipe.out"));
    const pid_t group = recipe.Pid();
    const int code = recipe.Wait(std::chrono::seconds(120));
    kill(-group, SIGKILL);
    const std::string out = ReadFile(root / "recipe.out");
    EXPECT_EQ(0, code) << out;  // its last step stops the four processes it started: all still ran
    for (const char* expected :
         {".1.1.1.2.1 = INTEGER: 3\n", ".1.1.1.3.1 = STRING: \"Player\"\n", ".1.1.1.4.1 = STRING: \"SN-0001\"\n",
          ".1.1.1.5.1 = STRING: \"1.2.3.4\"\n", ".1.1.1.6.1 = INTEGER: 1\n", ".1.1.1.6.1 = INTEGER: 2\n",
          "TRAP, SNMP v1, community public", "Enterprise Specific Trap (0)", ".2.4.1.4.2 = INTEGER: 4\n",
          "\"2\"=sz:\"127.0.0.2\""})
        EXPECT_NE(std::string::npos, out.find(expected)) << expected << "\n" << out;
}

}  // namespace
}  // namespace snmptest
