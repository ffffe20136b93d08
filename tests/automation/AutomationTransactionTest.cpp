#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "automation/_AutomationTransaction.h"
#include "outside/tessanapi/interface/QlmClient.h"
#include "tests/automation/StandIns.h"

using namespace MirelQla;

namespace
{
// A transaction of the client library stand-in, made by an accepted request.
class TransactionFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        client = automationtest::ClientLibrary();
        auto create = reinterpret_cast<QoCreateAPIFn>(client->Symbol("QoCreateAPI"));
        deleteApi = reinterpret_cast<QoDeleteAPIFn>(client->Symbol("QoDeleteAPI"));
        api = create();
        ASSERT_NE(api, nullptr);
        ASSERT_EQ(api->XmlRequest("a", "b", nullptr, 0, 0, "<x/>", &raw), 0);
        transaction = std::make_unique<_AutomationTransaction>(raw);
    }
    void TearDown() override
    {
        transaction.reset();
        deleteApi(api);
    }

    std::unique_ptr<automationtest::StandIn> client;
    QoDeleteAPIFn deleteApi = nullptr;
    QlmClientAPI* api = nullptr;
    QlmClientTransaction* raw = nullptr;
    std::unique_ptr<_AutomationTransaction> transaction;
};

template <typename T>
T At(const TransferStatusRecord& r, size_t offset)
{
    T value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(&r) + offset, sizeof value);
    return value;
}
}  // namespace

TEST(TransferStatusRecordTest, FieldsSitAtTheirOffsets)
{
    TransferStatusRecord r;
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.text1, "t1");
    r.kind = 0x01020304;
    std::strcpy(r.text2, "t2");
    std::strcpy(r.text3, "t3");
    std::strcpy(r.text4, "t4");
    r.priority = 0x11;
    r.state = 0x22;
    r.value1 = 0x0102030405060708LL;
    r.value2 = -2;
    r.value3 = 3;
    r.value4 = 4;
    r.value5 = 5;
    std::strcpy(r.text5, "t5");
    std::strcpy(r.text6, "t6");
    std::strcpy(r.text7, "t7");
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&r);
    EXPECT_EQ(sizeof r, 1648u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes)), "t1");
    // Little-endian, as the client library writes it.
    EXPECT_EQ(bytes[256], 0x04);
    EXPECT_EQ(bytes[259], 0x01);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 260)), "t2");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 516)), "t3");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 772)), "t4");
    EXPECT_EQ(At<int32_t>(r, 1028), 0x11);
    EXPECT_EQ(At<int32_t>(r, 1032), 0x22);
    EXPECT_EQ(bytes[1040], 0x08);
    EXPECT_EQ(bytes[1047], 0x01);
    EXPECT_EQ(At<int64_t>(r, 1048), -2);
    EXPECT_EQ(At<int64_t>(r, 1056), 3);
    EXPECT_EQ(At<int32_t>(r, 1064), 4);
    EXPECT_EQ(At<int32_t>(r, 1068), 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 1072)), "t5");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 1136)), "t6");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 1392)), "t7");
}

TEST(TransferStatusRecordTest, CopyBringsValuesIntoRangeAndCutsFullTextsToEndWithAZero)
{
    struct Case {
        int32_t kind, priority, state;
        int32_t kindOut, priorityOut, stateOut;
    } cases[] = {
        {0, 0, 0, 0, 0, 0}, {7, 1, 7, 7, 1, 7}, {9, 5, 8, 8, 2, 6}, {-1, -1, -1, 8, 2, 6}, {8, 2, 6, 8, 2, 6},
    };
    for (const Case& c : cases) {
        TransferStatusRecord from;
        std::memset(&from, 'x', sizeof from);  // every text fills its field: none is terminated
        from.kind = c.kind;
        from.priority = c.priority;
        from.state = c.state;
        from.value1 = 1;
        TransferStatusRecord to;
        std::memset(&to, 0, sizeof to);
        _AutomationTransaction::CopyRecord(from, to);
        EXPECT_EQ(to.kind, c.kindOut);
        EXPECT_EQ(to.priority, c.priorityOut);
        EXPECT_EQ(to.state, c.stateOut);
        EXPECT_EQ(to.reserved, 0) << "the gap is not copied";
        // A C client printing a text with %s stops at its field's end.
        EXPECT_EQ(std::string(to.text7, strnlen(to.text7, sizeof to.text7)), std::string(sizeof to.text7 - 1, 'x'));
        EXPECT_EQ(std::string(to.text5, strnlen(to.text5, sizeof to.text5)), std::string(sizeof to.text5 - 1, 'x'));
        EXPECT_EQ(std::string(to.text1, strnlen(to.text1, sizeof to.text1)), std::string(sizeof to.text1 - 1, 'x'));
    }
}

TEST_F(TransactionFixture, CachedStatusCopiesThePublishedRecord)
{
    TransferStatusRecord out;
    std::memset(&out, 0, sizeof out);
    EXPECT_EQ(raw->_data.transferId, 1);
    EXPECT_STREQ(raw->_data.name, "transfer-1");
    EXPECT_EQ(transaction->GetCachedStatus(&out).GetStatusCode(), kSuccess);
    EXPECT_STREQ(out.text1, "source");
    EXPECT_EQ(out.state, 2);
    EXPECT_EQ(transaction->GetCachedStatus(nullptr).GetStatusCode(), kQlaErrorUninitializedParameter);

    _AutomationTransaction none(nullptr);
    EXPECT_EQ(none.GetCachedStatus(&out).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(none.GetCachedStatus(nullptr).GetStatusCode(), kQlaErrorUninitializedParameter);
    EXPECT_EQ(none.GetStatus(&out).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(none.RequestAction1("x").GetStatusCode(), kQlaErrorNotInitialized);
    Qo::QoString text;
    EXPECT_EQ(none.GetStatusText(text).GetStatusCode(), kQlaErrorNotInitialized);
}

TEST_F(TransactionFixture, StatusRefreshesAndCopiesWhateverTheResult)
{
    client->Set("record.kind", "9");
    client->Set("record.state", "8");
    client->Set("record.priority", "5");
    client->Set("result.Refresh", "3");
    TransferStatusRecord out;
    std::memset(&out, 0, sizeof out);
    EXPECT_EQ(transaction->GetStatus(&out).GetStatusCode(), kQlmErrorCancelled);
    EXPECT_EQ(out.kind, 8);
    EXPECT_EQ(out.state, 6);
    EXPECT_EQ(out.priority, 2);
    EXPECT_NE(client->Journal().find("Transaction1.Refresh\n"), std::string::npos);
}

TEST_F(TransactionFixture, ActionsGoToOperationsTwoToFive)
{
    client->Set("result.Action4", "26");
    EXPECT_EQ(transaction->RequestAction1("pause").GetStatusCode(), kSuccess);
    EXPECT_EQ(transaction->RequestAction2("resume").GetStatusCode(), kSuccess);
    EXPECT_EQ(transaction->RequestAction3("cancel").GetStatusCode(), kQlmErrorNoToken);
    EXPECT_EQ(transaction->RequestAction4("").GetStatusCode(), kSuccess);
    std::string journal = client->Journal();
    EXPECT_NE(journal.find("Transaction1.Action2(pause)\nTransaction1.Action3(resume)\nTransaction1.Action4(cancel)\n"
                           "Transaction1.Action5()\n"),
              std::string::npos)
        << journal;
}

TEST_F(TransactionFixture, StatusTextOfAnySize)
{
    Qo::QoString text;
    client->Set("statustext", "running");
    EXPECT_EQ(transaction->GetStatusText(text).GetStatusCode(), kSuccess);
    EXPECT_EQ(text, "running");

    std::string long600(599, 'L');
    client->Set("statustext", long600);
    text.Clear();
    EXPECT_EQ(transaction->GetStatusText(text).GetStatusCode(), kSuccess);
    EXPECT_EQ(text, long600.c_str());
    EXPECT_NE(client->Journal().find("StatusText(512)\nTransaction1.StatusText(600)\n"), std::string::npos);

    // A library that fills the room without a terminator and claims it was enough: the text ends with the buffer.
    client->Set("statustext", std::string(700, 'U'));
    client->Set("statustext.size", "100");
    client->Set("statustext.unterminated", "1");
    EXPECT_EQ(transaction->GetStatusText(text).GetStatusCode(), kSuccess);
    EXPECT_EQ(text.GetLength(), 512);

    // A size no status text has.
    client->Set("statustext.size", "2147483647");
    EXPECT_EQ(transaction->GetStatusText(text).GetStatusCode(), kQlaErrorBufferTooSmall);
}

TEST_F(TransactionFixture, EqualityAndRelease)
{
    _AutomationTransaction same(raw);
    EXPECT_TRUE(transaction->IsEqual(same));
    const AutomationTransaction& asInterface = *transaction;
    EXPECT_FALSE(asInterface == asInterface);

    QlmClientTransaction* second = nullptr;
    ASSERT_EQ(api->XmlRequest("a", "b", nullptr, 0, 0, "<y/>", &second), 0);
    EXPECT_FALSE(transaction->IsEqual(_AutomationTransaction(second)));

    AutomationTransaction* handed = new _AutomationTransaction(raw);
    AutomationTransaction::release(&handed);
    EXPECT_EQ(handed, nullptr);
    AutomationTransaction::release(&handed);
    EXPECT_EQ(handed, nullptr);
    AutomationTransaction::release(nullptr);
}
