#include <gtest/gtest.h>

#include <string>

#include "automation/QlaStatus.h"
#include "automation/StatusTranslation.h"

using namespace MirelQla;

TEST(QlaStatusTest, DefaultTexts)
{
    EXPECT_EQ(QlaStatus::GetDefaultTechMessage(kSuccess), "(0) Success");
    EXPECT_EQ(QlaStatus::GetDefaultTechMessage(static_cast<StatusCode>(-250)), "Unknown error");
    EXPECT_EQ(QlaStatus::GetDefaultTechMessage(static_cast<StatusCode>(5)), "Unknown warning");
    EXPECT_EQ(QlaStatus::GetDefaultTechMessage(kQlmErrorServerDidNotRespond), "(QlmError) Server Did Not Resond ");
    EXPECT_EQ(QlaStatus::GetDefaultTechMessage(kQlaErrorDefaultIngestInitFilesCreated),
              "(QlaAPI Error) Created default Ingest Init Files - needs to be setup in WINNT folder");
    EXPECT_EQ(QlaStatus::GetDefaultTechMessage(kIngestErrorDiskFull), "(IngestError) Disk is Full");
}

TEST(QlaStatusTest, CodeConstructorAndKinds)
{
    QlaStatus s(kQlaErrorUnimplementedFunction, nullptr, nullptr);
    EXPECT_EQ(s.GetDescMessage(), "(QlaAPI Error) Unimplemented function");
    EXPECT_EQ(&s.GetTechMessage(), &QlaStatus::kNullMsg);
    EXPECT_TRUE(s.IsError());
    EXPECT_FALSE(s.IsSuccess());
    QlaStatus warning(kUnknownWarning, nullptr, nullptr);
    EXPECT_FALSE(warning.IsError());
    EXPECT_FALSE(warning.IsSuccess());
    EXPECT_TRUE(QlaStatus(kSuccess, nullptr, nullptr).IsSuccess());
    EXPECT_TRUE(s == kQlaErrorUnimplementedFunction);
    EXPECT_TRUE(s == QlaStatus(kQlaErrorUnimplementedFunction, "other", "texts"));
    EXPECT_TRUE(s != QlaStatus());
}

TEST(QlaStatusTest, SetStatusCodeKeepsOrReplacesTheDescription)
{
    QlaStatus s(kQlaErrorFileNotFound, "mine", "tech");
    s.SetStatusCode(kQlaErrorMediaNotOnline, true);
    EXPECT_EQ(s.GetDescMessage(), "mine");
    s.SetStatusCode(kQlaErrorMediaNotOnline, false);
    EXPECT_EQ(s.GetDescMessage(), "(QlaAPI Error) Not all media is online");
    EXPECT_EQ(s.GetTechMessage(), "tech");
    s.SetStatus(kSuccess, nullptr, nullptr);
    EXPECT_EQ(s.GetDescMessage(), "(0) Success");
    EXPECT_EQ(&s.GetTechMessage(), &QlaStatus::kNullMsg);
}

TEST(QlaStatusTest, SettingATextFromItselfKeepsIt)
{
    QlaStatus s(kQlaErrorFileNotFound, "description", "technical");
    s.SetTechMessage(s.GetTechMessage().ToCString());
    s.SetDescMessage(s.GetDescMessage().ToCString());
    EXPECT_EQ(s.GetTechMessage(), "technical");
    EXPECT_EQ(s.GetDescMessage(), "description");
    QlaStatus& same = s;
    s = same;
    EXPECT_EQ(s.GetTechMessage(), "technical");
}

TEST(QlaStatusTest, CopiesCarryBothTexts)
{
    QlaStatus original;
    QlaStatus copy(original);
    EXPECT_EQ(copy.GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_NE(&copy.GetTechMessage(), &QlaStatus::kNullMsg);
    EXPECT_EQ(copy.GetTechMessage(), "");
    EXPECT_EQ(copy.GetDescMessage(), "");
    QlaStatus other(kQlaErrorBufferTooSmall, "d", "t");
    copy = other;
    EXPECT_EQ(copy.GetStatusCode(), kQlaErrorBufferTooSmall);
    EXPECT_EQ(copy.GetDescMessage(), "d");
    EXPECT_EQ(copy.GetTechMessage(), "t");
}

TEST(QlaStatusTest, ToQoString)
{
    EXPECT_EQ(QlaStatus(kQlaErrorNotInitialized, nullptr, nullptr).ToQoString(),
              "QlaStatus( code=-200: (QlaAPI Error) The QlaStatus object is not yet initialized ((QlaAPI Error) The "
              "QlaStatus object is not yet initialized))");
    EXPECT_EQ(QlaStatus().ToQoString(),
              "QlaStatus( code=-200: (QlaAPI Error) The QlaStatus object is not yet initialized ())");
    EXPECT_EQ(QlaStatus(kQlaErrorFileNotFound, "d", "t").ToQoString(), "QlaStatus( code=-198: t (d))");
}

TEST(QlaStatusTest, DestroyedStatusReleasesItsTextsAndLeavesItsStorageReusable)
{
    // The deleted mark the destructor leaves cannot be read by a conforming program (the object's lifetime
    // has ended). What can be checked: the texts are freed (the leak checker), the storage takes a new status,
    // and the code a dangling status carries has its own text.
    alignas(QlaStatus) unsigned char room[sizeof(QlaStatus)];
    auto* first = new (room) QlaStatus(kSuccess, "a", "b");
    first->~QlaStatus();
    auto* second = new (room) QlaStatus(kQlaErrorObjectDeleted, nullptr, nullptr);
    EXPECT_EQ(second->GetStatusCode(), kQlaErrorObjectDeleted);
    EXPECT_STREQ(second->GetDescMessage().ToCString(), "(QlaAPI Error) The QlaStatus object has been deleted");
    EXPECT_TRUE(second->GetTechMessage().IsEmpty());
    second->~QlaStatus();
}

TEST(StatusTranslationTest, ClientLibraryCodes)
{
    const struct {
        int code;
        StatusCode status;
    } table[] = {
        {0, kSuccess},
        {1, kQlmErrorNotSupported},
        {2, kQlmErrorBadPri},
        {3, kQlmErrorCancelled},
        {4, kQlmErrorNoServer},
        {5, kQlmErrorUnknownDevice},
        {6, kQlmErrorPwtInUse},
        {7, kQlmErrorNoComposition},
        {8, kQlmErrorBadComposition},
        {9, kQlmErrorNotFound},
        {10, kQlmErrorNoPermissions},
        {11, kQlmErrorBadOmf},
        {12, kQlmErrorBadUserName},
        {13, kQlmErrorBadSource},
        {14, kQlmErrorBadHost},
        {15, kQlmErrorBadDestination},
        {16, kQlmErrorNoFile},
        {17, kQlmErrorVrelLoginFailure},
        {18, kQlmErrorBadWorkspace},
        {19, kQlmErrorWsSteeringNotSupported},
        {20, kQlmErrorNoAmName},
        {21, kQlmErrorNoUnauthorizedTransfers},
        {22, kQlmErrorGetWsListFailure},
        {23, kQlmErrorDeniedOnIncoming},
        {24, kQlmErrorInitFileError},
        {25, kQlmErrorServerDidNotRespond},
        {26, kQlmErrorNoToken},
        {27, kQlaUnrecognizedServerError},
        {-1, kQlaUnrecognizedServerError},
        {1000, kQlaUnrecognizedServerError},
    };
    for (const auto& row : table) {
        EXPECT_EQ(QlmCodeToStatus(row.code), row.status) << row.code;
        QlaStatus s = StatusFromQlmCode(row.code);
        EXPECT_EQ(s.GetStatusCode(), row.status);
        EXPECT_EQ(s.GetDescMessage(), QlaStatus::GetDefaultTechMessage(row.status));
        EXPECT_EQ(&s.GetTechMessage(), &QlaStatus::kNullMsg);
    }
}

TEST(StatusTranslationTest, IngestDeviceCodes)
{
    const struct {
        int code;
        StatusCode status;
    } table[] = {
        {0, kQlaUnrecognizedIngestError}, {1, kIngestErrorUnimplemented},    {2, kIngestErrorCancel},
        {3, kIngestErrorDuplicate},       {4, kIngestErrorNoAddress},        {5, kIngestErrorNetwork},
        {6, kIngestErrorInternalError},   {7, kIngestErrorNoMedia},          {8, kIngestErrorOmfError},
        {9, kIngestErrorInvalidXml},      {10, kIngestErrorDiskFull},        {11, kIngestErrorNotSuspended},
        {12, kIngestErrorNotRunning},     {13, kIngestErrorNoTransaction},   {14, kIngestErrorEndOfFile},
        {15, kIngestErrorFileNotFound},   {16, kQlaUnrecognizedIngestError}, {-3, kQlaUnrecognizedIngestError},
    };
    for (const auto& row : table)
        EXPECT_EQ(IngestCodeToStatus(row.code), row.status) << row.code;
}
