#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <utility>

#include "platform/Paths.h"
#include "snmpagent/CommonSnmpStruct.h"
#include "tests/snmpagent/AgentFixture.h"
#include "tests/snmpagent/SnmpTestKit.h"
#include "tests/support/TestEnv.h"

namespace snmptest
{
namespace
{
using namespace snmpagent;
using platform::RegHive;
using platform::Registry;

// The block as another process of the maker sees it.
struct OtherProcess {
    platform::SharedMemory block;
    platform::SharedMutex mutex;
    platform::SharedEvent trapEvent;
    OtherProcess()
    {
        EXPECT_TRUE(block.Open(kSharedBlockName, kCommonSnmpStructSize));
        EXPECT_TRUE(mutex.Open(kSharedMutexName));
        EXPECT_TRUE(trapEvent.Open(kTrapEventName, false, false));
    }
    CommonSnmpStruct& Bytes() { return *static_cast<CommonSnmpStruct*>(block.Data()); }
};

std::vector<std::string> TrapValues()
{
    std::vector<std::string> values;
    for (const auto& v : Registry::EnumValues(RegHive::LocalMachine, std::string(kTrapConfigKey) + "\\public"))
        values.push_back(v.name + "=" + std::string(v.data.begin(), v.data.end()));
    return values;
}

struct TrapSeen {
    bool sent = false;
    Oid enterprise;
    int32_t generic = 0;
    int32_t specific = 0;
    std::vector<Oid> names;
    std::vector<int64_t> numbers;
    std::vector<std::string> texts;
};

TrapSeen NextTrap(CNodwellAgent& agent)
{
    TrapSeen t;
    AsnObjectIdentifier enterprise{};
    uint32_t stamp = 0;
    SnmpVarBindList list{};
    t.sent = agent.Trap(&enterprise, &t.generic, &t.specific, &stamp, &list);
    if (!t.sent)
        return t;
    t.enterprise.assign(enterprise.ids, enterprise.ids + enterprise.idLength);
    for (uint32_t i = 0; i < list.len; ++i) {
        const SnmpVarBind& b = list.list[i];
        t.names.emplace_back(b.name.ids, b.name.ids + b.name.idLength);
        t.numbers.push_back(b.value.asnType == kAsnInteger ? b.value.asnValue.number : -1);
        t.texts.push_back(
            b.value.asnType == kAsnOctetString
                ? std::string(reinterpret_cast<char*>(b.value.asnValue.string.stream), b.value.asnValue.string.length)
                : "");
    }
    SnmpUtilVarBindListFree(&list);
    return t;
}

AsnAny Ip(const std::string& dotted)
{
    uint8_t b[4];
    sscanf(dotted.c_str(), "%hhu.%hhu.%hhu.%hhu", &b[0], &b[1], &b[2], &b[3]);
    return Text(std::string(reinterpret_cast<char*>(b), 4), kAsnIpAddress);
}

// What a SET could change: the published block past the reserved bytes, and the registry's destinations.
struct Published {
    std::vector<uint8_t> block;
    std::vector<std::string> destinations;
    bool operator==(const Published&) const = default;
};

Published PublishedNow()
{
    OtherProcess other;
    const uint8_t* bytes = other.Bytes().bytes;
    return {std::vector<uint8_t>(bytes + kReservedSize, bytes + kCommonSnmpStructSize), TrapValues()};
}

// One binding of a SET as data, made into a fresh agent value for every request.
struct SetBinding {
    Oid suffix;
    char kind;  // 'i' integer, 's' text, 'a' address
    int32_t number = 0;
    std::string text;
};

// The status and error index of a request.
using Outcome = std::pair<int32_t, int32_t>;

// One SET request (or one of its phases) of several bindings.
Outcome SetMany(CNodwellAgent& agent, const std::vector<SetBinding>& bindings, uint8_t type = kSnmpPduSet)
{
    std::vector<Oid> names;
    std::vector<AsnAny> values;
    for (const SetBinding& b : bindings) {
        names.push_back(Name(b.suffix));
        values.push_back(b.kind == 'i' ? Integer(b.number) : b.kind == 'a' ? Ip(b.text) : Text(b.text));
    }
    const Answer a = Request(agent, type, names, values)[0];
    return {a.status, a.index};
}

using NodwellAgent = AgentTest;

TEST_F(NodwellAgent, GetNextWalksTheViewInOrder)
{
    CNodwellAgent& agent = StartAgent();
    struct Case {
        Oid from;
        int32_t status;
        Oid to;
    };
    const Case cases[] = {
        {{}, 0, {1, 1, 1, 1, 1}},         {{1, 1, 1, 1}, 0, {1, 1, 1, 1, 1}},
        {{1, 1, 1, 6, 10}, 0, {2, 1, 0}}, {{2, 3, 0}, 0, {2, 4, 1, 1, 1}},
        {{3, 2, 0}, 0, {3, 3, 0}},        {{3, 3, 0}, kSnmpErrorNoSuchName, {3, 3, 0}},
    };
    for (const Case& c : cases) {
        Answer a = Request(agent, kSnmpPduGetNext, {Name(c.from)})[0];
        EXPECT_EQ(c.status, a.status);
        EXPECT_EQ(Name(c.to), a.name);
    }
    // A full walk meets every variable once: 6 x 10 products, 3 scalars, 4 x 10 destinations, 3 x 10, 2.
    int count = 0;
    Oid at = Name({});
    for (Answer a; (a = Request(agent, kSnmpPduGetNext, {at})[0]).status == 0; at = a.name)
        ++count;
    EXPECT_EQ(135, count);
}

TEST_F(NodwellAgent, GetAnswersTheStartUpValues)
{
    CNodwellAgent& agent = StartAgent();
    Answer version = Get(agent, {2, 1, 0});
    EXPECT_EQ(kAsnOctetString, version.type);
    EXPECT_EQ("101.00.02", version.text);
    EXPECT_EQ(10, Get(agent, {2, 2, 0}).number);
    EXPECT_EQ(1, Get(agent, {2, 3, 0}).number);
    EXPECT_EQ(kAsnIpAddress, Get(agent, {2, 4, 1, 2, 3}).type);
    EXPECT_EQ(1, Get(agent, {3, 1, 1, 2, 7}).number);
    auto both = Request(agent, kSnmpPduGet, {Name({9, 9}), Name({2, 1, 0})});
    EXPECT_EQ(kSnmpErrorNoSuchName, both[0].status);
    EXPECT_EQ(1, both[0].index);
    EXPECT_EQ(kSnmpErrorNoSuchName, Request(agent, 0xA2, {Name({2, 1, 0})})[0].status);
    // Names the host could never have sent.
    SnmpVarBindList list{static_cast<SnmpVarBind*>(std::calloc(2, sizeof(SnmpVarBind))), 2};
    list.list[0] = MakeBind(Name({2, 1, 0}));
    list.list[1].name.idLength = 5;  // no components behind it
    int32_t status = 0, index = 0;
    EXPECT_TRUE(agent.Query(kSnmpPduGet, &list, &status, &index));
    EXPECT_EQ(kSnmpErrorNoSuchName, status);
    EXPECT_EQ(2, index);
    list.list[1].name.idLength = 0;
    SnmpUtilVarBindListFree(&list);
}

TEST_F(NodwellAgent, SetChecksAccessTypeAndLength)
{
    CNodwellAgent& agent = StartAgent();
    struct Case {
        Oid suffix;
        std::string text;
        uint8_t type;
        int32_t status;
    };
    const std::string s63(63, 'a'), s64(64, 'b'), s127(127, 'c'), s128(128, 'd');
    const Case cases[] = {
        {{2, 1, 0}, "x", kAsnOctetString, kSnmpErrorReadOnly},
        {{3, 2, 0}, "x", kAsnOctetString, kSnmpErrorBadValue},
        {{3, 1, 1, 3, 1}, s63, kAsnOctetString, 0},
        {{3, 1, 1, 3, 1}, s64, kAsnOctetString, kSnmpErrorBadValue},
        {{2, 4, 1, 3, 1}, s127, kAsnOctetString, 0},
        {{2, 4, 1, 3, 1}, s128, kAsnOctetString, kSnmpErrorBadValue},
        {{2, 4, 1, 2, 1}, "abc", kAsnIpAddress, kSnmpErrorBadValue},
        {{9, 9, 9}, "x", kAsnOctetString, kSnmpErrorNoSuchName},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.status, Set(agent, c.suffix, Text(c.text, c.type))) << c.text.size();
    // A refused value leaves the one before it.
    EXPECT_EQ(s63, Get(agent, {3, 1, 1, 3, 1}).text);
    EXPECT_EQ(s127, Get(agent, {2, 4, 1, 3, 1}).text);
    EXPECT_EQ(0, Set(agent, {3, 2, 0}, Integer(-7)));
    EXPECT_EQ(-7, Get(agent, {3, 2, 0}).number);
    // Published to the shared block at once.
    OtherProcess other;
    EXPECT_EQ(static_cast<uint32_t>(-7), other.Bytes().U32(kScalar32Offset));
}

TEST_F(NodwellAgent, TextWithoutTerminatorIsReadWithinItsField)
{
    CNodwellAgent& agent = StartAgent();
    OtherProcess other;
    // A full field and the next field's bytes right after it: the read stops at the field's end.
    std::memset(other.Bytes().bytes + Table311Row(1) + kTable311Text, 'z', kTextFieldSize + 8);
    EXPECT_EQ(std::string(kTextFieldSize, 'z'), Get(agent, {3, 1, 1, 3, 1}).text);
}

TEST_F(NodwellAgent, ReservedBytesOfOtherProcessesAreNeverWritten)
{
    OtherProcess other;
    std::memset(other.Bytes().bytes, 0x5A, kReservedSize);
    CNodwellAgent& agent = StartAgent();
    EXPECT_EQ(0, Set(agent, {3, 3, 0}, Integer(3)));
    agent.MonitorTick();
    for (uint32_t i = 0; i < kReservedSize; ++i)
        ASSERT_EQ(0x5A, other.Bytes().bytes[i]) << i;
}

TEST_F(NodwellAgent, ProductsGetOneRowEachWithTheirVersion)
{
    AddProduct("A", ProductName(), 5, "First");
    AddProduct("B", "missing_program", std::nullopt, "No type");
    AddProduct("C", "other_program", 7, "Third");
    CNodwellAgent& agent = StartAgent();
    auto products = agent.Products();
    ASSERT_EQ(3u, products.size());
    EXPECT_EQ(0, products[0].rowIndex);
    EXPECT_EQ(1, products[1].rowIndex);
    EXPECT_EQ(2, products[2].rowIndex);
    EXPECT_EQ(5, Get(agent, {1, 1, 1, 2, 1}).number);
    EXPECT_EQ("First", Get(agent, {1, 1, 1, 3, 1}).text);
    EXPECT_EQ("SN-A", Get(agent, {1, 1, 1, 4, 1}).text);
    EXPECT_EQ("3.1.4.1592", Get(agent, {1, 1, 1, 5, 1}).text);
    EXPECT_EQ(kStatePlaced, Get(agent, {1, 1, 1, 6, 1}).number);
    EXPECT_EQ("No type", Get(agent, {1, 1, 1, 3, 2}).text);
    EXPECT_EQ("", Get(agent, {1, 1, 1, 5, 2}).text);
    EXPECT_EQ(7, Get(agent, {1, 1, 1, 2, 3}).number);
    EXPECT_EQ("Third", Get(agent, {1, 1, 1, 3, 3}).text);
}

TEST_F(NodwellAgent, MoreProductsThanRowsLeavesTheRestUnplaced)
{
    for (int i = 0; i < 12; ++i)
        AddProduct("P" + std::to_string(i), "prog" + std::to_string(i), 100 + i);
    CNodwellAgent& agent = StartAgent();
    auto products = agent.Products();
    ASSERT_EQ(12u, products.size());
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(i, products[i].rowIndex);
    EXPECT_EQ(-1, products[10].rowIndex);
    EXPECT_EQ(-1, products[11].rowIndex);
    EXPECT_EQ(109, Get(agent, {1, 1, 1, 2, 10}).number);
    EXPECT_TRUE(agent.MonitorTick());
}

TEST_F(NodwellAgent, ProgramStartAndStopAreTrappedOnce)
{
    AddProduct("A", ProductName(), 5, "First");
    std::string otherCase = ProductName();
    otherCase[0] = 'N';  // differs in case only
    AddProduct("B", otherCase, 6, "Other case");
    CNodwellAgent& agent = StartAgent();
    EXPECT_FALSE(NextTrap(agent).sent);  // nothing changed yet

    ChildProcess program;
    ASSERT_TRUE(program.Start({Product().string()}, testsupport::TestRoot() / "product.out"));
    ASSERT_TRUE(WaitFor(
        [&] {
            return agent.MonitorTick() && Get(agent, {1, 1, 1, 6, 1}).number == kStateUp;
        },
        std::chrono::seconds(10)));
    EXPECT_EQ(kStatePlaced, Get(agent, {1, 1, 1, 6, 2}).number);  // names are compared case-sensitively

    TrapSeen t = NextTrap(agent);
    ASSERT_TRUE(t.sent);
    EXPECT_EQ(Name({0, 1}), t.enterprise);
    EXPECT_EQ(6, t.generic);
    EXPECT_EQ(0, t.specific);
    const std::vector<Oid> names = {Name({1, 1, 1, 6, 1}), Name({1, 1, 1, 1, 1}), Name({1, 1, 1, 2, 1}),
                                    Name({1, 1, 1, 3, 1}), Name({1, 1, 1, 4, 1}), Name({1, 1, 1, 5, 1})};
    EXPECT_EQ(names, t.names);
    EXPECT_EQ(kStateUp, t.numbers[0]);
    EXPECT_EQ(5, t.numbers[2]);
    EXPECT_EQ("First", t.texts[3]);
    EXPECT_EQ("3.1.4.1592", t.texts[5]);
    EXPECT_FALSE(NextTrap(agent).sent);

    // Still running: no change, no trap.
    EXPECT_TRUE(agent.MonitorTick());
    EXPECT_FALSE(NextTrap(agent).sent);

    program.Stop(SIGKILL);
    EXPECT_TRUE(agent.MonitorTick());
    EXPECT_EQ(kStateHalted, Get(agent, {1, 1, 1, 6, 1}).number);  // a query between tick and trap loses nothing
    t = NextTrap(agent);
    ASSERT_TRUE(t.sent);
    EXPECT_EQ(kStateHalted, t.numbers[0]);
    EXPECT_FALSE(NextTrap(agent).sent);
}

TEST_F(NodwellAgent, TwoRowsChangingGiveTwoTrapsHigherRowFirst)
{
    AddProduct("A", ProductName(), 5);
    AddProduct("B", ProductName(), 6);
    CNodwellAgent& agent = StartAgent();
    ChildProcess program;
    ASSERT_TRUE(program.Start({Product().string()}, testsupport::TestRoot() / "product.out"));
    ASSERT_TRUE(WaitFor(
        [&] {
            return agent.MonitorTick() && Get(agent, {1, 1, 1, 6, 2}).number == kStateUp;
        },
        std::chrono::seconds(10)));
    TrapSeen first = NextTrap(agent), second = NextTrap(agent);
    ASSERT_TRUE(first.sent && second.sent);
    EXPECT_EQ(Name({1, 1, 1, 6, 2}), first.names[0]);
    EXPECT_EQ(Name({1, 1, 1, 6, 1}), second.names[0]);
    EXPECT_FALSE(NextTrap(agent).sent);
}

TEST_F(NodwellAgent, RowsOfOtherProcessesFallBackWhenStaleAndAreTrapped)
{
    CNodwellAgent& agent = StartAgent();
    OtherProcess other;
    {
        ASSERT_EQ(platform::kWaitObject0, other.mutex.Lock(1000));
        const uint32_t row = ProductRow(4);
        other.Bytes().SetU32(row + kProductType, 9);
        other.Bytes().SetU32(row + kProductState, kStateUp);
        other.Bytes().SetI64(row + kProductTimeStamp, static_cast<int64_t>(std::time(nullptr)));
        other.mutex.Unlock();
        other.trapEvent.Set();
    }
    TrapSeen t = NextTrap(agent);  // another process's own change, asked for through the event
    ASSERT_TRUE(t.sent);
    EXPECT_EQ(kStateUp, t.numbers[0]);
    EXPECT_TRUE(agent.MonitorTick());  // fresh: kept
    EXPECT_EQ(kStateUp, Get(agent, {1, 1, 1, 6, 4}).number);

    ASSERT_EQ(platform::kWaitObject0, other.mutex.Lock(1000));
    other.Bytes().SetI64(ProductRow(4) + kProductTimeStamp, static_cast<int64_t>(std::time(nullptr)) - 20);
    other.mutex.Unlock();
    EXPECT_TRUE(agent.MonitorTick());
    EXPECT_EQ(kStatePlaced, Get(agent, {1, 1, 1, 6, 4}).number);
    EXPECT_EQ(platform::kWaitObject0, other.trapEvent.Wait(0));
    t = NextTrap(agent);
    ASSERT_TRUE(t.sent);
    EXPECT_EQ(kStatePlaced, t.numbers[0]);
    EXPECT_EQ(9, t.numbers[2]);
}

TEST_F(NodwellAgent, TrapDestinationsAreAddedAndRemovedThroughSet)
{
    CNodwellAgent& agent = StartAgent();
    EXPECT_EQ(0, Set(agent, {2, 4, 1, 2, 1}, Ip("10.0.0.5")));
    EXPECT_EQ(0, Set(agent, {2, 4, 1, 4, 1}, Integer(kTrapAdd)));
    EXPECT_EQ(std::vector<std::string>{"1=10.0.0.5"}, TrapValues());
    EXPECT_EQ(kTrapActive, Get(agent, {2, 4, 1, 4, 1}).number);
    EXPECT_EQ("public", Get(agent, {2, 4, 1, 3, 1}).text);
    EXPECT_EQ(2, Get(agent, {2, 3, 0}).number);

    // The same address again is not written twice; another one is appended.
    EXPECT_EQ(0, Set(agent, {2, 4, 1, 2, 2}, Ip("10.0.0.5")));
    EXPECT_EQ(0, Set(agent, {2, 4, 1, 4, 2}, Integer(kTrapAdd)));
    EXPECT_EQ(std::vector<std::string>{"1=10.0.0.5"}, TrapValues());
    EXPECT_EQ(0, Set(agent, {2, 4, 1, 2, 2}, Ip("192.168.1.20")));
    EXPECT_EQ(0, Set(agent, {2, 4, 1, 4, 2}, Integer(kTrapAdd)));
    EXPECT_EQ((std::vector<std::string>{"1=10.0.0.5", "2=192.168.1.20"}), TrapValues());

    // Removing the first renumbers the rest from 1.
    EXPECT_EQ(0, Set(agent, {2, 4, 1, 4, 1}, Integer(kTrapRemove)));
    EXPECT_EQ(std::vector<std::string>{"1=192.168.1.20"}, TrapValues());
    EXPECT_EQ(std::string("\xC0\xA8\x01\x14", 4), Get(agent, {2, 4, 1, 2, 1}).text);
    EXPECT_EQ(0, Get(agent, {2, 4, 1, 4, 2}).number);  // rows without a destination are zero
    EXPECT_EQ(2, Get(agent, {2, 3, 0}).number);

    // A refused SET changes neither the table nor the registry.
    EXPECT_EQ(kSnmpErrorBadValue, Set(agent, {2, 4, 1, 4, 1}, Text("4")));
    EXPECT_EQ(std::vector<std::string>{"1=192.168.1.20"}, TrapValues());
}

// A SET is checked whole before anything changes: whatever the order of its bindings and wherever the
// fault, a refused one leaves the published block and the registry as they were.
TEST_F(NodwellAgent, RefusedSetsOfSeveralBindingsChangeNothing)
{
    Registry::SetString(RegHive::LocalMachine, std::string(kTrapConfigKey) + "\\public", "1", "10.0.0.1");
    CNodwellAgent& agent = StartAgent();
    struct Case {
        const char* what;
        std::vector<SetBinding> bindings;
        int32_t status;
        int32_t index;
    };
    std::vector<Case> cases = {
        {"an address of 0.0.0.0 after an add",
         {{{3, 2, 0}, 'i', 9},
          {{2, 4, 1, 2, 2}, 'a', 0, "10.0.0.9"},
          {{2, 4, 1, 4, 2}, 'i', kTrapAdd},
          {{2, 4, 1, 2, 3}, 'a', 0, "0.0.0.0"}},
         kSnmpErrorWrongValue,
         4},
        {"a read-only variable after an add",
         {{{2, 4, 1, 2, 2}, 'a', 0, "10.0.0.9"}, {{2, 4, 1, 4, 2}, 'i', kTrapAdd}, {{2, 1, 0}, 's', 0, "x"}},
         kSnmpErrorReadOnly,
         3},
        {"a community too long after a remove",
         {{{2, 4, 1, 4, 1}, 'i', kTrapRemove}, {{2, 4, 1, 3, 1}, 's', 0, std::string(128, 'c')}},
         kSnmpErrorBadValue,
         2},
        {"an unknown name after a remove",
         {{{2, 4, 1, 4, 1}, 'i', kTrapRemove}, {{9, 9, 9}, 'i', 1}},
         kSnmpErrorNoSuchName,
         2},
        {"an add on a row without an address", {{{2, 4, 1, 4, 2}, 'i', kTrapAdd}}, kSnmpErrorInconsistentValue, 1},
        {"a remove on a row without an address",
         {{{3, 3, 0}, 'i', 4}, {{2, 4, 1, 4, 3}, 'i', kTrapRemove}},
         kSnmpErrorInconsistentValue,
         2},
        {"a command of the wrong type", {{{2, 4, 1, 4, 1}, 's', 0, "5"}}, kSnmpErrorBadValue, 1},
    };
    // Column 4 takes the two commands only: the states the agent writes itself and anything else are refused.
    for (int32_t value : {0, 1, 2, 3, 6, 99, -1})
        cases.push_back({"a column-4 value the agent does not keep",
                         {{{2, 4, 1, 2, 2}, 'a', 0, "10.0.0.9"}, {{2, 4, 1, 4, 2}, 'i', value}},
                         kSnmpErrorWrongValue,
                         2});
    const Published before = PublishedNow();
    for (const Case& c : cases) {
        for (uint8_t type : {kSnmpExtensionSetTest, kSnmpPduSet}) {
            EXPECT_EQ(Outcome(c.status, c.index), SetMany(agent, c.bindings, type)) << c.what;
            EXPECT_TRUE(before == PublishedNow()) << c.what;
        }
    }

    // The same add with the command before the address is one request, and goes through.
    EXPECT_EQ(Outcome(0, 0), SetMany(agent, {{{2, 4, 1, 4, 2}, 'i', kTrapAdd}, {{2, 4, 1, 2, 2}, 'a', 0, "10.0.0.9"}}));
    EXPECT_EQ((std::vector<std::string>{"1=10.0.0.1", "2=10.0.0.9"}), TrapValues());
    EXPECT_EQ(kTrapActive, Get(agent, {2, 4, 1, 4, 2}).number);
    EXPECT_EQ(3, Get(agent, {2, 3, 0}).number);
}

TEST_F(NodwellAgent, AnEleventhDestinationIsRefused)
{
    const std::string key = std::string(kTrapConfigKey) + "\\public";
    for (int i = 1; i <= 10; ++i)
        Registry::SetString(RegHive::LocalMachine, key, std::to_string(i), "10.1.0." + std::to_string(i));
    CNodwellAgent& agent = StartAgent();
    const Published before = PublishedNow();
    // Row 1 given an address not listed yet: adding it would make 11.
    EXPECT_EQ(Outcome(kSnmpErrorResourceUnavailable, 2),
              SetMany(agent, {{{2, 4, 1, 2, 1}, 'a', 0, "10.9.9.9"}, {{2, 4, 1, 4, 1}, 'i', kTrapAdd}}));
    EXPECT_TRUE(before == PublishedNow());
    EXPECT_EQ(11, Get(agent, {2, 3, 0}).number);
    // An address already listed adds nothing; a remove in the same request makes room.
    EXPECT_EQ(Outcome(0, 0), SetMany(agent, {{{2, 4, 1, 2, 1}, 'a', 0, "10.1.0.5"}, {{2, 4, 1, 4, 1}, 'i', kTrapAdd}}));
    EXPECT_EQ(10u, TrapValues().size());
    EXPECT_EQ(Outcome(0, 0), SetMany(agent, {{{2, 4, 1, 4, 3}, 'i', kTrapRemove},
                                             {{2, 4, 1, 2, 4}, 'a', 0, "10.9.9.9"},
                                             {{2, 4, 1, 4, 4}, 'i', kTrapAdd}}));
    const auto values = TrapValues();
    ASSERT_EQ(10u, values.size());
    EXPECT_EQ("10=10.9.9.9", values[9]);
    EXPECT_EQ(std::string("\x0A\x09\x09\x09", 4), Get(agent, {2, 4, 1, 2, 10}).text);
    EXPECT_EQ(11, Get(agent, {2, 3, 0}).number);
}

// A host that runs a SET in phases: the test changes nothing, the undo puts back exactly what the SET
// changed, the registry's value names and order included.
TEST_F(NodwellAgent, UndoPutsBackExactlyWhatTheSetChanged)
{
    const std::string key = std::string(kTrapConfigKey) + "\\public";
    Registry::SetString(RegHive::LocalMachine, key, "7", "10.1.1.1");
    Registry::SetString(RegHive::LocalMachine, key, "x", "10.2.2.2");
    CNodwellAgent& agent = StartAgent();
    const std::vector<SetBinding> bindings = {{{2, 4, 1, 2, 3}, 'a', 0, "10.3.3.3"},
                                              {{2, 4, 1, 4, 3}, 'i', kTrapAdd},
                                              {{2, 4, 1, 4, 1}, 'i', kTrapRemove},
                                              {{3, 2, 0}, 'i', 5},
                                              {{3, 1, 1, 3, 2}, 's', 0, "changed"}};
    EXPECT_EQ(Outcome(0, 0), SetMany(agent, bindings, kSnmpExtensionSetUndo));  // nothing applied yet
    EXPECT_EQ(0, Set(agent, {3, 1, 1, 3, 2}, Text("kept")));
    const Published before = PublishedNow();
    EXPECT_EQ(Outcome(0, 0), SetMany(agent, bindings, kSnmpExtensionSetTest));
    EXPECT_TRUE(before == PublishedNow());

    EXPECT_EQ(Outcome(0, 0), SetMany(agent, bindings));
    EXPECT_EQ((std::vector<std::string>{"1=10.2.2.2", "2=10.3.3.3"}), TrapValues());
    EXPECT_EQ(5, Get(agent, {3, 2, 0}).number);
    EXPECT_EQ("changed", Get(agent, {3, 1, 1, 3, 2}).text);

    EXPECT_EQ(Outcome(0, 0), SetMany(agent, bindings, kSnmpExtensionSetUndo));
    EXPECT_TRUE(before == PublishedNow());
    EXPECT_EQ((std::vector<std::string>{"7=10.1.1.1", "x=10.2.2.2"}), TrapValues());
    // Undone once only, and only the SET of the same bindings.
    EXPECT_EQ(Outcome(0, 0), SetMany(agent, bindings, kSnmpExtensionSetUndo));
    EXPECT_TRUE(before == PublishedNow());
    EXPECT_EQ(0, Set(agent, {3, 2, 0}, Integer(6)));
    EXPECT_EQ(Outcome(kSnmpErrorUndoFailed, 1), SetMany(agent, bindings, kSnmpExtensionSetUndo));
    EXPECT_EQ(6, Get(agent, {3, 2, 0}).number);
}

TEST_F(NodwellAgent, ASetThatCannotBeSavedAnswersCommitFailed)
{
    Registry::DeleteKey(RegHive::LocalMachine, "System");  // the destination key does not open
    CNodwellAgent& agent = StartAgent();
    EXPECT_EQ(0, Set(agent, {2, 4, 1, 2, 1}, Ip("10.0.0.5")));  // nothing to save yet
    const Published before = PublishedNow();
    EXPECT_EQ(Outcome(kSnmpErrorCommitFailed, 1), SetMany(agent, {{{2, 4, 1, 4, 1}, 'i', kTrapAdd}}));
    EXPECT_TRUE(before == PublishedNow());
    EXPECT_FALSE(Registry::KeyExists(RegHive::LocalMachine, "System"));
}

// A hive written by hand with the key sections alone, none of their parents.
TEST_F(NodwellAgent, AHiveOfLeafSectionsServesProductsAndSavesDestinations)
{
    {
        std::ofstream out(platform::RegistryRoot() / "HKEY_LOCAL_MACHINE.reg");
        out << "[SOFTWARE\\Brennhall\\Nodwell\\Config\\Player]\n\"Type\"=dword:00000003\n"
            << "\"Description\"=sz:\"Leaf player\"\n\"ProductName\"=sz:\"" << ProductName() << "\"\n"
            << "\"ProductPath\"=sz:\"" << Product().parent_path().string() << "\"\n\n"
            << "[System\\CurrentControlSet\\Services\\SNMP\\Parameters\\TrapConfiguration\\public]\n"
            << "\"1\"=sz:\"10.0.0.1\"\n";
    }
    CNodwellAgent& agent = StartAgent();
    EXPECT_EQ(3, Get(agent, {1, 1, 1, 2, 1}).number);
    EXPECT_EQ("Leaf player", Get(agent, {1, 1, 1, 3, 1}).text);
    EXPECT_EQ("3.1.4.1592", Get(agent, {1, 1, 1, 5, 1}).text);
    EXPECT_EQ(kTrapActive, Get(agent, {2, 4, 1, 4, 1}).number);
    EXPECT_EQ(Outcome(0, 0), SetMany(agent, {{{2, 4, 1, 2, 2}, 'a', 0, "10.0.0.2"}, {{2, 4, 1, 4, 2}, 'i', kTrapAdd}}));
    EXPECT_EQ((std::vector<std::string>{"1=10.0.0.1", "2=10.0.0.2"}), TrapValues());
}

TEST_F(NodwellAgent, MoreTrapDestinationsThanRowsAreBounded)
{
    const std::string key = std::string(kTrapConfigKey) + "\\public";
    for (int i = 1; i <= 12; ++i)
        Registry::SetString(RegHive::LocalMachine, key, std::to_string(i), "10.1.0." + std::to_string(i));
    Registry::SetString(RegHive::LocalMachine, key, "13", "1.2.bad");
    CNodwellAgent& agent = StartAgent();
    EXPECT_EQ(11, Get(agent, {2, 3, 0}).number);
    EXPECT_EQ(std::string("\x0A\x01\x00\x0A", 4), Get(agent, {2, 4, 1, 2, 10}).text);
    EXPECT_EQ(kSnmpErrorNoSuchName, Get(agent, {2, 4, 1, 2, 11}).status);
}

TEST_F(NodwellAgent, AMutexHeldElsewhereIsWaitedForBoundedAndNeverReleased)
{
    AddProduct("A", ProductName(), 5);
    // Another process takes the mutex when told and keeps it. It is forked before the agent's thread starts:
    // a child forked while that thread holds a lock (the sanitizer's allocator) could wait on it for ever.
    int go[2];
    ASSERT_EQ(0, pipe(go));
    pid_t pid = fork();
    if (pid == 0) {
        close(go[1]);
        char c = 0;
        platform::SharedMutex m;
        if (read(go[0], &c, 1) == 1 && m.Open(kSharedMutexName) && m.Lock(1000) == platform::kWaitObject0)
            sleep(30);
        _exit(0);
    }
    close(go[0]);
    CNodwellAgent& agent = StartAgent(50);
    EXPECT_EQ(0, Set(agent, {3, 2, 0}, Integer(11)));
    EXPECT_EQ(1, write(go[1], "g", 1));
    close(go[1]);
    OtherProcess other;
    ASSERT_TRUE(WaitFor(
        [&] {
            uint32_t r = other.mutex.Lock(0);
            if (r == platform::kWaitObject0)
                other.mutex.Unlock();
            return r == platform::kWaitTimeout;
        },
        std::chrono::seconds(5)));

    EXPECT_EQ(11, Get(agent, {3, 2, 0}).number);  // answered from the shadow
    EXPECT_EQ(kSnmpErrorGenErr, Set(agent, {3, 2, 0}, Integer(12)));
    EXPECT_EQ(11, Get(agent, {3, 2, 0}).number);
    EXPECT_TRUE(agent.MonitorTick());  // skipped, not ended
    EXPECT_FALSE(NextTrap(agent).sent);
    EXPECT_EQ(platform::kWaitTimeout, other.mutex.Lock(20));  // still the holder's

    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(0, Set(agent, {3, 2, 0}, Integer(13)));  // the abandoned mutex is taken over
    EXPECT_EQ(0, Set(agent, {3, 2, 0}, Integer(14)));
    EXPECT_EQ(14u, other.Bytes().U32(kScalar32Offset));
}

TEST_F(NodwellAgent, StartFailsClearlyWithoutTheSharedBlock)
{
    // A folder where the block's object should be makes the mapping fail.
    const auto path =
        std::filesystem::path("/dev/shm") / platform::SharedMemory::ObjectName(kSharedBlockName).substr(1);
    std::filesystem::create_directory(path);
    snmpagent::CNodwellAgent agent;
    EXPECT_FALSE(agent.Start(AgentFolder()));
    std::filesystem::remove(path);
    SnmpVarBindList list{};
    int32_t status = 0, index = 0;
    list.len = 1;
    list.list = static_cast<SnmpVarBind*>(std::calloc(1, sizeof(SnmpVarBind)));
    list.list[0] = MakeBind(Name({2, 1, 0}));
    EXPECT_TRUE(agent.Query(kSnmpPduGet, &list, &status, &index));
    EXPECT_EQ(kSnmpErrorGenErr, status);
    SnmpUtilVarBindListFree(&list);
}

}  // namespace
}  // namespace snmptest
