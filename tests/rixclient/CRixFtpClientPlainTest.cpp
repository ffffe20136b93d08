// The plain-file side of the video server client against a real FTP server (pyftpdlib).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/rixclient/RixTestHelpers.h"
#include "tests/support/PyFtpServer.h"
#include "tests/support/TestEnv.h"

namespace
{

std::vector<uint8_t> ReadLocal(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(RixFtpClientPlain, WriteReadXmlAndDeleteOnAPlainServer)
{
    const auto root = testsupport::TestRoot() / "rixplain";
    std::filesystem::create_directories(root / "clips");
    testsupport::PyFtpServer server(root);
    ASSERT_TRUE(server.IsRunning());

    CRixFtpClient client("");
    client.SetTimeouts(rixtest::ShortFtpTimeouts());
    client.SetRixTimeouts(rixtest::ShortRixTimeouts());
    ASSERT_EQ(client.SetClipUrl("ftp://" + server.Address() + "/clips/000110A_plain.CLP", true), 0);
    // Not a video server: the block size stays the default.
    EXPECT_EQ(client.GetServerBlockSize(), CRixFtpClient::kDefaultBlockSize);

    auto data = rixtest::Blocks(1)[0];
    ASSERT_EQ(client.OpenClipAtStart(CKorvoFtpClient::kStore), 0);
    uint32_t count = 0;
    ASSERT_EQ(client.WriteData(data.data(), static_cast<uint32_t>(data.size()), &count), 0);
    EXPECT_EQ(client.CloseClip(false), 226);
    EXPECT_TRUE(ReadLocal(root / "clips" / "000110A_plain.CLP") == data);

    const std::string xml = "<clip name=\"plain\"/>";
    ASSERT_EQ(client.OpenClipXml(CKorvoFtpClient::kStore), 0);
    ASSERT_EQ(client.WriteData(xml.data(), static_cast<uint32_t>(xml.size()), &count), 0);
    client.CloseClip(false);
    auto stored = ReadLocal(root / "clips" / "000110A_plain.XML");
    EXPECT_EQ(std::string(stored.begin(), stored.end()), xml);

    // Read back from a byte position ("REST"), in paced pieces.
    ASSERT_EQ(client.OpenClip(CKorvoFtpClient::kRetrieve, 1000, 1), 0);
    std::vector<uint8_t> got(data.size());
    ASSERT_EQ(client.ReadData(got.data(), static_cast<uint32_t>(got.size()), &count, 50000000), 0);
    EXPECT_EQ(count, data.size() - 1000);
    EXPECT_TRUE(std::equal(data.begin() + 1000, data.end(), got.begin()));
    client.CloseClip(false);

    EXPECT_EQ(client.DeleteClip(), 0);
    EXPECT_FALSE(std::filesystem::exists(root / "clips" / "000110A_plain.CLP"));
}

}  // namespace
