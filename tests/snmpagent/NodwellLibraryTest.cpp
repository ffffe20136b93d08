// libNodwell.so as the service meets it: its exports, its start-up and its unload.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "snmpagent/SnmpExtension.h"
#include "tests/snmpagent/AgentFixture.h"
#include "tests/snmpagent/SnmpTestKit.h"

namespace snmptest
{
namespace
{

TEST(NodwellLibrary, ExportsExactlyTheThreeEntryPoints)
{
    std::string out = RunCommand(std::string("nm -D --defined-only ") + KORVO_NODWELL_LIBRARY + " | awk '{print $3}'");
    EXPECT_EQ("SnmpExtensionInit\nSnmpExtensionQuery\nSnmpExtensionTrap\n", out);
}

TEST(NodwellLibrary, SubAgentHostExplainsItself)
{
    int code = -1;
    EXPECT_NE(std::string::npos, RunCommand(std::string(KORVO_SNMP_SUBAGENT) + " --help", &code).find("--library"));
    EXPECT_EQ(0, code);
    EXPECT_NE(std::string::npos,
              RunCommand(std::string(KORVO_SNMP_SUBAGENT) + " --bogus 1", &code).find("unknown option"));
    EXPECT_EQ(2, code);
}

// Loads, starts, answers and unloads in a child, so a hang at unload fails the test instead of stalling it:
// with the monitor ticking all the time, and with the monitor in the middle of a 10-minute wait, which the
// unload must cut short (the library's locks are destroyed only after the monitor has stopped).
class NodwellLibraryUnload : public ::testing::TestWithParam<const char*>
{
};

TEST_P(NodwellLibraryUnload, LoadsAnswersAndUnloadsWithItsMonitorRunning)
{
    setenv("KORVO_NODWELL_FIRST_TICK_MS", "1", 1);
    setenv("KORVO_NODWELL_TICK_MS", GetParam(), 1);
    pid_t pid = fork();
    if (pid == 0) {
        void* lib = dlopen(KORVO_NODWELL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            _exit(10);
        auto init = reinterpret_cast<PFNSNMPEXTENSIONINIT>(dlsym(lib, "SnmpExtensionInit"));
        auto query = reinterpret_cast<PFNSNMPEXTENSIONQUERY>(dlsym(lib, "SnmpExtensionQuery"));
        const char* eventName = nullptr;
        AsnObjectIdentifier view{};
        if (!init || !query || !init(0, &eventName, &view))
            _exit(11);
        if (std::string(eventName) != "KorvoCommon_Trap_Event" || Oid(view.ids, view.ids + view.idLength) != Name({}))
            _exit(12);
        SnmpVarBindList list{static_cast<SnmpVarBind*>(std::calloc(1, sizeof(SnmpVarBind))), 1};
        list.list[0] = MakeBind(Name({2, 1, 0}));
        int32_t status = -1, index = -1;
        if (!query(kSnmpPduGet, &list, &status, &index) || status != 0 ||
            list.list[0].value.asnValue.string.length != 9)
            _exit(13);
        SnmpUtilVarBindListFree(&list);
        usleep(20000);  // the monitor ticks meanwhile
        dlclose(lib);
        RemoveAgentObjects();
        _exit(0);
    }
    int status = 0;
    bool exited = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(20));
    if (!exited) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    RemoveAgentObjects();
    ASSERT_TRUE(exited) << "the unload hung";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

INSTANTIATE_TEST_SUITE_P(Ticks, NodwellLibraryUnload, ::testing::Values("2", "600000"));

}  // namespace
}  // namespace snmptest
