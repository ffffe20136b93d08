#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "support/FileTestKit.h"
#include "writers/parvex/KorvoMXFLog.h"
#include "writers/parvex/KorvoMXFResult.h"

namespace
{

TEST(KorvoMXFErrorText, TableTextsAndUnknownCodes)
{
    EXPECT_STREQ(KorvoMXFErrorText(0), "Successful");
    EXPECT_STREQ(KorvoMXFErrorText(0x8400001A), "TcDate error");
    for (KorvoMXFResult code : {0x8400001Bu, 0x8400001Eu, 0x84000000u, 0x85000001u})
        EXPECT_STREQ(KorvoMXFErrorText(code), "Unknown KorvoMXF error") << std::hex << code;
}

TEST(KorvoMXFLog, PrivateFileManagerAndSharedSinks)
{
    const std::filesystem::path dir = testsupport::FreshDir("mxflog");
    const std::string path = (dir / "writer.log").string();
    auto owner = std::make_unique<KorvoMXFLog>();
    ASSERT_EQ(owner->SetLog(path.c_str(), 1 << 20), 1);
    owner->Log("(Test::Owner) first line");
    {
        KorvoMXFLog sharer;
        sharer.ShareLog(owner.get());
        sharer.Log("(Test::Sharer) through the owner's file");
    }
    // The sharer is gone and did not close the owner's file.
    owner->Log("(Test::Owner) after the sharer");
    const std::string text = testsupport::ReadWholeFile(path);
    EXPECT_NE(text.find("first line"), std::string::npos);
    EXPECT_NE(text.find("through the owner's file"), std::string::npos);
    EXPECT_NE(text.find("after the sharer"), std::string::npos);

    // An empty path goes back to the log manager and frees the private log; a null one turns logging off.
    EXPECT_EQ(owner->SetLog("", 0), 1);
    EXPECT_EQ(owner->SetLog(nullptr, 0), 1);
    owner->Log("(Test::Owner) dropped");
    EXPECT_EQ(owner->SetLog((dir / "missing" / "x.log").string().c_str(), 1 << 20), 0);
    owner->Log("(Test::Owner) dropped too");
    EXPECT_EQ(testsupport::ReadWholeFile(path).find("dropped"), std::string::npos);
}

}  // namespace
