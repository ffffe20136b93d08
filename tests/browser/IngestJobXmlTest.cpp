#include <gtest/gtest.h>

#include "browser/IngestJobXml.h"

namespace
{

TEST(IngestJobXmlTest, PostProcessingAndCopy)
{
    const std::string serialised = "<?xml version=\"1.0\"?>\n<ingestdrag><a>x &amp; y &lt; z</a></ingestdrag>\n";
    const std::string job = ingestjob::FinishJobText(serialised);
    EXPECT_EQ(job, "<?xml>\n<ingestdrag><a>x & y &lt; z</a></ingestdrag>\n");
    EXPECT_EQ(ingestjob::FixedCopyText(job), "<?xml version=\"1.0\"?>\n<ingestdrag><a>x & y &lt; z</a></ingestdrag>\n");
}

TEST(IngestJobXmlTest, TextsInTheEightBitPageBecomeUtf8)
{
    CXmlDocument doc;
    auto root = ingestjob::CreateJobDocument(doc);
    ASSERT_TRUE(root);
    ingestjob::AddText(*root, "ansi", "Caf\xE9");
    ingestjob::AddText(*root, "utf8", "Caf\xC3\xA9");
    ingestjob::AddULong(*root, "guard", static_cast<uint32_t>(-3));
    ingestjob::AddLong(*root, "in", -1);
    EXPECT_EQ(ingestjob::FinishJobText(doc.GetXml()),
              "<?xml>\n<ingestdrag><ansi>Caf\xC3\xA9</ansi><utf8>Caf\xC3\xA9</utf8><guard>4294967293</guard>"
              "<in>-1</in></ingestdrag>\n");
}

TEST(IngestJobXmlTest, CodeTexts)
{
    EXPECT_EQ(ingestjob::AspectText(7), "unknown aspect 7 ");
    EXPECT_EQ(ingestjob::AspectText(1), "1.0 (square)");
    EXPECT_EQ(ingestjob::TcSystemText(5), "sys_30 (NTSC)");
    EXPECT_EQ(ingestjob::TcSystemText(6), "undefined");
    EXPECT_EQ(ingestjob::TimecodeText(91301, 3), "00:30:26:00");
    EXPECT_EQ(ingestjob::CalendarText(1762304000), "2025/11/05 00:53:20");
}

}  // namespace
