#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "parvex/MXFId.h"
#include "platform/Registry.h"
#include "writers/parvex/KorvoMXFIdGen.h"

namespace
{

using platform::RegHive;
using platform::Registry;

constexpr char kIdGenKey[] = "SOFTWARE\\Brennhall\\KorvoMXF IdGen";
constexpr char kCommonKey[] = "SOFTWARE\\Brennhall\\Common";

// A generator whose clock the test sets.
class FixedClockIdGen : public KorvoMXFIdGen
{
public:
    int64_t _qwNow = 1262304000 + 1000;

protected:
    int64_t LocalSecondsNow() const override { return _qwNow; }
};

void ResetRegistry(uint32_t serial)
{
    Registry::DeleteValue(RegHive::LocalMachine, kIdGenKey, "PrevIdStr");
    Registry::SetDword(RegHive::LocalMachine, kCommonKey, "Global Serial Number", serial);
}

MXFIdType2 Decode(const char* id)
{
    MXFIdType2 value;
    value.Parse(id);
    return value;
}

TEST(KorvoMXFIdGen, SameSecondCountsThenMovesToTheNextSecond)
{
    ResetRegistry(20);
    FixedClockIdGen gen;
    char id[9];
    for (uint32_t i = 0; i < 5; ++i) {
        ASSERT_EQ(gen.GenerateId(id), KORVOMXF_OK);
        int kind = 0;
        EXPECT_EQ(CheckMaterialId(id, &kind), 1);
        EXPECT_EQ(kind, 2);
        const MXFIdType2 v = Decode(id);
        EXPECT_EQ(v.GetSerial(), 2u);
        EXPECT_EQ(v.GetSeconds(), i < 4 ? 1000u : 1001u) << i;
        EXPECT_EQ(v.GetCounter(), i < 4 ? i : 0u) << i;
    }
    EXPECT_EQ(MaterialIdToTime(id), 1262304000 + 1001);
    EXPECT_EQ(*Registry::GetString(RegHive::LocalMachine, kIdGenKey, "PrevIdStr"), id);
    // A clock set back keeps ids increasing.
    gen._qwNow -= 3600;
    ASSERT_EQ(gen.GenerateId(id), KORVOMXF_OK);
    EXPECT_EQ(Decode(id).GetSeconds(), 1001u);
    EXPECT_EQ(Decode(id).GetCounter(), 1u);
}

TEST(KorvoMXFIdGen, SerialNumberFromTheRegistry)
{
    char id[9] = "x";
    ResetRegistry(25);
    FixedClockIdGen gen;
    EXPECT_EQ(gen.GenerateId(id), KORVOMXF_ERR_SERIAL_NUMBER);
    EXPECT_STREQ(id, "");
    Registry::DeleteValue(RegHive::LocalMachine, kCommonKey, "Global Serial Number");
    EXPECT_EQ(gen.GenerateId(id), KORVOMXF_ERR_REGISTRY);
    Registry::SetString(RegHive::LocalMachine, kCommonKey, "Global Serial Number", "20");
    EXPECT_EQ(gen.GenerateId(id), KORVOMXF_ERR_REGISTRY);
    gen.SetSerialNumber(7);
    EXPECT_EQ(gen.GenerateId(id), KORVOMXF_OK);
    EXPECT_EQ(Decode(id).GetSerial(), 7u);
    EXPECT_EQ(gen.GenerateId(nullptr), KORVOMXF_ERR_INVALID_PARAMETER);
}

TEST(KorvoMXFIdGen, FieldsThatDoNotFitFailInsteadOfRepeating)
{
    ResetRegistry(20);
    FixedClockIdGen gen;
    char first[9], id[9];
    ASSERT_EQ(gen.GenerateId(first), KORVOMXF_OK);
    gen.SetSerialNumber(0x10000);
    EXPECT_EQ(gen.GenerateId(id), KORVOMXF_ERR_SERIAL_NUMBER);
    EXPECT_STREQ(id, "");
    gen.SetSerialNumber(2);
    gen._qwNow = 1262304000 + int64_t{0x40000000};
    EXPECT_EQ(gen.GenerateId(id), KORVOMXF_ERR_INVALID_DATA);
    EXPECT_EQ(*Registry::GetString(RegHive::LocalMachine, kIdGenKey, "PrevIdStr"), first);
    gen.SetIdType(3);
    EXPECT_EQ(gen.GenerateId(id), KORVOMXF_ERR_NOT_SUPPORTED);
}

TEST(KorvoMXFIdGen, Type1Ids)
{
    ResetRegistry(20);
    FixedClockIdGen gen;
    gen.SetIdType(1);
    gen._qwNow = 1009843200 + 77;
    char id[9];
    ASSERT_EQ(gen.GenerateId(id), KORVOMXF_OK);
    int kind = 0;
    EXPECT_EQ(CheckMaterialId(id, &kind), 1);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(MaterialIdToTime(id), 1009843200 + 77);
}

// Several processes generate at once through the real clock: no id is handed out twice.
TEST(KorvoMXFIdGen, ProcessesNeverProduceTheSameId)
{
    ResetRegistry(20);
    constexpr int kProcesses = 3;
    constexpr int kIds = 30;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(out[0]);
            KorvoMXFIdGen gen;
            bool ok = true;
            for (int i = 0; i < kIds && ok; ++i) {
                char id[9];
                ok = gen.GenerateId(id) == KORVOMXF_OK && write(out[1], id, 8) == 8;
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    close(out[1]);
    std::string all;
    char chunk[256];
    ssize_t n;
    while ((n = read(out[0], chunk, sizeof chunk)) > 0)
        all.append(chunk, static_cast<size_t>(n));
    close(out[0]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ASSERT_EQ(all.size(), size_t{8 * kProcesses * kIds});
    std::set<std::string> ids;
    for (size_t i = 0; i < all.size(); i += 8)
        ids.insert(all.substr(i, 8));
    EXPECT_EQ(ids.size(), size_t{kProcesses * kIds});
}

}  // namespace
