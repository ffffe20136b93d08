#include <gtest/gtest.h>

#include <thread>

#include "common/ByteOrder.h"
#include "common/CIcmpPing.h"
#include "common/CSyncCritSec.h"
#include "common/CSyncEvent.h"
#include "common/CodePages.h"
#include "platform/Wait.h"
#include "tests/support/Unprivileged.h"

TEST(ByteOrder, BigEndianFieldsAndReverseCopy)
{
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(ReadBigEndian32(bytes), 0x12345678u);
    EXPECT_EQ(ReadBigEndian16(bytes), 0x1234u);
    uint32_t v = 0;
    ReverseByteCopy(bytes, 4, &v);
    EXPECT_EQ(v, 0x12345678u);
    uint8_t untouched[2] = {9, 9};
    ReverseByteCopy(bytes, 0, untouched);
    ReverseByteCopy(bytes, -3, untouched);
    EXPECT_EQ(untouched[0], 9);
}

TEST(CodePages, Cp1252RoundTripsThroughUtf8)
{
    // Every defined CP1252 byte, including the euro sign and typographic quotes of the 0x80 row.
    std::string ansi;
    for (int c = 0x20; c < 0x100; ++c)
        ansi += static_cast<char>(c);
    std::string utf8 = ConvertCodePage(ansi, 0, 65001);
    EXPECT_NE(utf8.find("\xE2\x82\xAC"), std::string::npos);  // 0x80 is the euro sign
    EXPECT_EQ(Utf8ToAnsi(utf8), ansi);
    EXPECT_EQ(ConvertCodePage("caf\xE9", 1252, 65001), "caf\xC3\xA9");
}

TEST(CodePages, EdgeCases)
{
    EXPECT_EQ(ConvertCodePage("\xFF\xFE not utf8", 65001, 65001), "\xFF\xFE not utf8");
    EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD"), "?");  // a character CP1252 cannot hold
    EXPECT_TRUE(IsAscii(""));
    EXPECT_TRUE(IsAscii("plain"));
    EXPECT_FALSE(IsAscii("a\x80"));
    EXPECT_EQ(WideToUtf8(u"caf\u00E9 \u20AC"), "caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(CSyncEvent, WithoutCreateNothingWorks)
{
    CSyncEvent e;
    EXPECT_FALSE(e.Set());
    EXPECT_FALSE(e.Reset());
    EXPECT_EQ(e.Wait(0), platform::kWaitFailed);
}

TEST(CSyncEventThreads, WaitForMultipleReturnsTheSignalledIndex)
{
    CSyncEvent stop, work;
    ASSERT_TRUE(stop.Create(nullptr, true, false));
    ASSERT_TRUE(work.Create(nullptr, false, false));
    CSyncEvent* events[] = {&stop, &work};
    EXPECT_EQ(CSyncEvent::WaitForMultiple(2, events, false, 10), platform::kWaitTimeout);
    std::thread t([&] { work.Set(); });
    EXPECT_EQ(CSyncEvent::WaitForMultiple(2, events, false, 2000), platform::kWaitObject0 + 1);
    t.join();
    EXPECT_EQ(CSyncEvent::WaitForMultiple(0, events, false, 0), platform::kWaitFailed);
    EXPECT_EQ(CSyncEvent::WaitForMultiple(51, events, false, 0), platform::kWaitFailed);
}

TEST(CSyncCritSecThreads, IsRecursiveAndExcludes)
{
    CSyncCritSec cs;
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 1000; ++i) {
            cs.Lock();
            cs.Lock();
            ++counter;
            cs.Unlock();
            cs.Unlock();
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 2000);
}

TEST(CIcmpPing, ChecksumAndEchoRequestLayout)
{
    // RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2 before complement.
    const uint8_t words[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    uint16_t sum = CIcmpPing::Checksum(words, sizeof words);
    const uint8_t* s = reinterpret_cast<const uint8_t*>(&sum);
    EXPECT_EQ(s[0], 0x22);
    EXPECT_EQ(s[1], 0x0d);

    uint8_t req[CIcmpPing::kRequestSize];
    CIcmpPing::FillEchoRequest(req, sizeof req);
    EXPECT_EQ(req[0], 8);
    EXPECT_EQ(req[1], 0);
    EXPECT_EQ(req[6], 0);
    EXPECT_EQ(req[7], 0);
    uint16_t id = CIcmpPing::Identifier();
    EXPECT_EQ(0, memcmp(req + 4, &id, 2));
    for (size_t i = 12; i < sizeof req; ++i)
        ASSERT_EQ(req[i], 0x45);
    // A checksum stored into the packet makes the whole packet sum to zero.
    uint16_t c = CIcmpPing::Checksum(req, sizeof req);
    memcpy(req + 2, &c, 2);
    EXPECT_EQ(CIcmpPing::Checksum(req, sizeof req), 0);
}

TEST(CIcmpPing, LoopbackAnswers)
{
    CIcmpPing ping;
    int32_t rt = 12345;
    int32_t result = ping.Ping("127.0.0.1", 2000, &rt);
    if (result == 2)
        GTEST_SKIP() << "no ICMP socket allowed here (error " << ping.GetLastError() << ")";
    EXPECT_EQ(result, 0);
    EXPECT_GE(rt, 0);
    EXPECT_LT(rt, 2000);
}

TEST(CIcmpPing, OrdinaryUserWithoutIcmpSocketSaysNothingWasSent)
{
    int code = testsupport::RunUnprivileged([] {
        CIcmpPing ping;
        int32_t result = ping.Ping("127.0.0.1", 500);
        if (ping.IsSent())
            return result == 0 ? 0 : 3;  // this machine lets the user ping
        return result == 2 ? 1 : 2;
    });
    if (code == testsupport::kNotRun)
        GTEST_SKIP() << "cannot run a child as an ordinary user";
    EXPECT_TRUE(code == 0 || code == 1) << code;
}

TEST(CIcmpPing, UnresolvableNameLeavesTheTimeOut)
{
    CIcmpPing ping;
    int32_t rt = 0;
    EXPECT_EQ(ping.Ping("no-such-host.invalid", 300, &rt), 3);
    EXPECT_EQ(rt, 300);
    EXPECT_EQ(ping.GetRoundTrip(), 300);
}

TEST(CIcmpPing, SilentHostTimesOut)
{
    CIcmpPing ping;
    int32_t rt = 0;
    // 192.0.2.0/24 is reserved for documentation: nothing answers there.
    int32_t result = ping.Ping("192.0.2.1", 200, &rt);
    if (result == 2)
        GTEST_SKIP() << "no ICMP socket allowed here";
    if (result == 6)
        GTEST_SKIP() << "no route out of this machine";
    if (result == 0 && rt >= 0 && !getenv("KORVO_REQUIRE_SILENT_HOST"))
        GTEST_SKIP() << "this network answers echo requests for every address";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(rt, -1);
}
