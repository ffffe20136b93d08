#pragma once

// An agent started in the test process, with its registry and shared objects in the test's folders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/SharedEvent.h"
#include "platform/SharedMemory.h"
#include "platform/SharedMutex.h"
#include "snmpagent/CNodwellAgent.h"
#include "tests/support/TestEnv.h"

namespace snmptest
{

using snmpagent::Oid;

// The answer to one binding, copied out of the agent's value.
struct Answer {
    int32_t status = 0;
    int32_t index = 0;
    Oid name;
    uint8_t type = 0;
    int64_t number = 0;
    std::string text;
};

inline Oid Name(const Oid& suffix)
{
    Oid name = {1, 3, 6, 1, 4, 1, 48021, 2, 2};
    name.insert(name.end(), suffix.begin(), suffix.end());
    return name;
}

inline SnmpVarBind MakeBind(const Oid& name)
{
    SnmpVarBind b{};
    b.name.ids = static_cast<uint32_t*>(std::malloc(name.size() * sizeof(uint32_t) + 1));
    std::copy(name.begin(), name.end(), b.name.ids);
    b.name.idLength = static_cast<uint32_t>(name.size());
    b.value.asnType = kAsnNull;
    return b;
}

inline AsnAny Text(const std::string& s, uint8_t type = kAsnOctetString)
{
    AsnAny v{};
    v.asnType = type;
    v.asnValue.string.stream = static_cast<uint8_t*>(std::malloc(s.size() + 1));
    std::copy(s.begin(), s.end(), v.asnValue.string.stream);
    v.asnValue.string.length = static_cast<uint32_t>(s.size());
    return v;
}

inline AsnAny Integer(int32_t n)
{
    AsnAny v{};
    v.asnType = kAsnInteger;
    v.asnValue.number = n;
    return v;
}

// Sends one request of several bindings; the answers per binding (status and index are the request's).
inline std::vector<Answer> Request(snmpagent::CNodwellAgent& agent, uint8_t type, const std::vector<Oid>& names,
                                   const std::vector<AsnAny>& values = {})
{
    SnmpVarBindList list{};
    list.len = static_cast<uint32_t>(names.size());
    list.list = static_cast<SnmpVarBind*>(std::calloc(names.size(), sizeof(SnmpVarBind)));
    for (size_t i = 0; i < names.size(); ++i) {
        list.list[i] = MakeBind(names[i]);
        if (i < values.size())
            list.list[i].value = values[i];
    }
    int32_t status = -1, index = -1;
    EXPECT_TRUE(agent.Query(type, &list, &status, &index));
    std::vector<Answer> answers;
    for (size_t i = 0; i < names.size(); ++i) {
        Answer a;
        a.status = status;
        a.index = index;
        const SnmpVarBind& b = list.list[i];
        a.name.assign(b.name.ids, b.name.ids + b.name.idLength);
        a.type = b.value.asnType;
        if (a.type == kAsnOctetString || a.type == kAsnIpAddress)
            a.text.assign(reinterpret_cast<char*>(b.value.asnValue.string.stream), b.value.asnValue.string.length);
        else
            a.number = b.value.asnValue.number;
        answers.push_back(a);
    }
    SnmpUtilVarBindListFree(&list);
    return answers;
}

inline Answer Get(snmpagent::CNodwellAgent& agent, const Oid& suffix)
{
    return Request(agent, kSnmpPduGet, {Name(suffix)})[0];
}

inline int32_t Set(snmpagent::CNodwellAgent& agent, const Oid& suffix, AsnAny value)
{
    return Request(agent, kSnmpPduSet, {Name(suffix)}, {value})[0].status;
}

inline std::filesystem::path AgentFolder()
{
    return std::filesystem::path(KORVO_NODWELL_LIBRARY).parent_path();
}

// The shared objects the agent makes live on after it: every test removes them.
inline void RemoveAgentObjects()
{
    platform::SharedMemory::Remove(snmpagent::kSharedBlockName);
    platform::SharedMutex::Remove(snmpagent::kSharedMutexName);
    platform::SharedEvent::Remove(snmpagent::kTrapEventName);
    platform::SharedEvent::Remove(snmpagent::kResetEventName);
}

// A copy of the product program under a name of this test process alone: the monitor looks at every
// process of the machine, and tests running side by side must not see each other's programs.
inline const std::filesystem::path& Product()
{
    static const std::filesystem::path copy = [] {
        const auto dir = testsupport::TestRoot() / "bin";
        std::filesystem::create_directories(dir);
        const auto path = dir / ("nodwell_product_" + std::to_string(getpid()));
        std::filesystem::copy_file(KORVO_TEST_PRODUCT, path, std::filesystem::copy_options::overwrite_existing);
        return path;
    }();
    return copy;
}

inline std::string ProductName()
{
    return Product().filename().string();
}

// Registry and shared objects cleared; the trap configuration key present.
class AgentTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RemoveAgentObjects();
        platform::Registry::DeleteKey(platform::RegHive::LocalMachine, "SOFTWARE");
        platform::Registry::DeleteKey(platform::RegHive::LocalMachine, "System");
        platform::Registry::CreateKey(platform::RegHive::LocalMachine, snmpagent::kTrapConfigKey);
    }
    void TearDown() override
    {
        if (_agent)
            _agent->Stop();
        _agent.reset();
        RemoveAgentObjects();
    }
    static void AddProduct(const std::string& key, const std::string& exeName, std::optional<uint32_t> type,
                           const std::string& description = "Product")
    {
        const std::string k = std::string(snmpagent::kProductConfigKey) + "\\" + key;
        platform::Registry::CreateKey(platform::RegHive::LocalMachine, k);
        if (type)
            platform::Registry::SetDword(platform::RegHive::LocalMachine, k, "Type", *type);
        platform::Registry::SetString(platform::RegHive::LocalMachine, k, "Description", description);
        platform::Registry::SetString(platform::RegHive::LocalMachine, k, "ProductName", exeName);
        platform::Registry::SetString(platform::RegHive::LocalMachine, k, "ProductPath",
                                      Product().parent_path().string());
        platform::Registry::SetString(platform::RegHive::LocalMachine, k, "SerialNumber", "SN-" + key);
    }
    // The monitor thread waits long: tests tick it themselves.
    snmpagent::CNodwellAgent& StartAgent(uint32_t mutexWaitMs = 10000)
    {
        snmpagent::AgentTimings t;
        t.firstTickMs = 600000;
        t.tickMs = 600000;
        t.mutexWaitMs = mutexWaitMs;
        _agent = std::make_unique<snmpagent::CNodwellAgent>(t);
        EXPECT_TRUE(_agent->Start(AgentFolder()));
        return *_agent;
    }

    std::unique_ptr<snmpagent::CNodwellAgent> _agent;
};

}  // namespace snmptest
