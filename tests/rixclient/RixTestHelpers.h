#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "outside/rix/CRixSimServer.h"
#include "rixclient/CRixFtpClient.h"
#include "serverblock/Bavd.h"

namespace rixtest
{

using rixsim::RixSimBytes;

// A BAVD block of fields [first, first + count), built with our own block layout and filled after its header
// area with the byte.
inline RixSimBytes Block(uint32_t first, uint16_t count, uint32_t size = 0x200000, uint8_t fill = 0)
{
    RixSimBytes bytes(size, fill);
    Bavd bavd;
    EXPECT_EQ(bavd.SetBlockType(size == 0x200000 ? 2 : 3), 0);
    bavd.SetFirstField(first);
    bavd.SetElemFieldCnt(count);
    std::fill(bytes.begin(), bytes.begin() + 0x8000, 0);
    EXPECT_EQ(bavd.SaveToBuffer(bytes.data(), 0x8000), 0);
    return bytes;
}

// Blocks of ten fields from field 100 on, block n filled with n + 1.
inline std::vector<RixSimBytes> Blocks(int count, uint32_t size = 0x200000)
{
    std::vector<RixSimBytes> blocks;
    for (int n = 0; n < count; ++n)
        blocks.push_back(Block(100 + 10 * n, 10, size, static_cast<uint8_t>(n + 1)));
    return blocks;
}

inline FtpTimeouts ShortFtpTimeouts()
{
    FtpTimeouts t;
    t.nControlMs = 2000;
    t.nAcceptMs = 2000;
    t.nDataMs = 3000;
    t.nDataSendMs = 3000;
    return t;
}

inline RixTimeouts ShortRixTimeouts()
{
    RixTimeouts t;
    t.nKeepAliveMs = 50;
    t.nKeepAliveStopMs = 200;
    t.nPacingWaitMs = 2000;
    t.nAbortReceiveMs = 2000;
    t.nRpcMs = 2000;
    return t;
}

// A simulator on a free loopback port with its store set by the test.
class SimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        rixsim::RixSimConfig config;
        config._nDataTimeoutMs = 2000;
        Configure(config);
        _server = std::make_unique<rixsim::CRixSimServer>(config);
        Fill(_server->Store());
        ASSERT_TRUE(_server->Start());
    }
    virtual void Configure(rixsim::RixSimConfig&) {}
    virtual void Fill(rixsim::CRixSimStore&) {}

    std::string Url(const std::string& path) const
    {
        return "ftp://127.0.0.1:" + std::to_string(_server->FtpPort()) + path;
    }
    template <typename Client>
    void Prepare(Client& client) const
    {
        client.SetTimeouts(ShortFtpTimeouts());
        client.SetRixTimeouts(ShortRixTimeouts());
    }
    // The FTP commands received, in order.
    std::vector<std::string> Commands(const char* channel = "FTP") const
    {
        std::vector<std::string> lines;
        for (const auto& entry : _server->Journal())
            if (entry._szChannel == channel)
                lines.push_back(entry._szText);
        return lines;
    }
    bool Received(const std::string& text, const char* channel = "FTP") const
    {
        for (const auto& line : Commands(channel))
            if (line == text)
                return true;
        return false;
    }

    std::unique_ptr<rixsim::CRixSimServer> _server;
};

}  // namespace rixtest
