#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "receiver/CFrameBufferHandler.h"
#include "receiver/KorvoFrame.h"
#include "support/FileTestKit.h"

namespace
{

class FramePool : public ::testing::Test
{
protected:
    void SetUp() override { theFrameBufferHandler.FreeAll(); }
    void TearDown() override { theFrameBufferHandler.FreeAll(); }
};

TEST_F(FramePool, FrameCopiesItsBytesAndZeroFillsTheRest)
{
    std::vector<uint8_t> source(100, 0xAB);
    KorvoFrame* frame = new KorvoFrame(source.data(), 100, 1, 4096);
    ASSERT_NE(frame->GetData(), nullptr);
    EXPECT_EQ(frame->GetSize(), 4096u);
    EXPECT_EQ(frame->GetNumSamples(), 1u);
    EXPECT_EQ(frame->GetTypeCode(), 1004);
    EXPECT_TRUE(std::all_of(frame->GetData(), frame->GetData() + 100, [](uint8_t b) { return b == 0xAB; }));
    EXPECT_TRUE(std::all_of(frame->GetData() + 100, frame->GetData() + 4096, [](uint8_t b) { return b == 0; }));
    frame->Release();

    KorvoFrame* exact = new KorvoFrame(source.data(), 100, 960, -1);
    EXPECT_EQ(exact->GetSize(), 100u);
    exact->Release();
}

TEST_F(FramePool, ReleasedBufferIsReusedForTheSameSizeOnly)
{
    Qo::Ingest::Frame* first = new KorvoFrame(nullptr, 4096, 1, -1);
    uint8_t* buffer = first->GetData();
    first->Release();
    EXPECT_EQ(theFrameBufferHandler.GetFreeBytes(), 4096u);
    EXPECT_EQ(theFrameBufferHandler.GetPeak(), 4096u);
    KorvoFrame* larger = new KorvoFrame(nullptr, 4097, 1, -1);
    EXPECT_NE(larger->GetData(), buffer);
    KorvoFrame* same = new KorvoFrame(nullptr, 100, 1, 4096);
    EXPECT_EQ(same->GetData(), buffer);
    EXPECT_EQ(theFrameBufferHandler.GetFreeBytes(), 0u);
    same->Release();
    larger->Release();
    EXPECT_EQ(theFrameBufferHandler.GetPeak(), 4096u + 4097u);
    theFrameBufferHandler.FreeAll();
    EXPECT_EQ(theFrameBufferHandler.GetPeak(), 0u);
}

TEST_F(FramePool, DeletingWithoutReleaseFreesAndLogs)
{
    testsupport::LogCapture log("default");
    const int32_t live = KorvoFrame::GetLiveCount();
    KorvoFrame* frame = new KorvoFrame(nullptr, 64, 1, -1);
    EXPECT_EQ(KorvoFrame::GetLiveCount(), live + 1);
    delete frame;
    EXPECT_EQ(KorvoFrame::GetLiveCount(), live);
    EXPECT_EQ(theFrameBufferHandler.GetFreeBytes(), 0u);
    EXPECT_NE(log.Text().find("UN-DELETED FRAME !!!"), std::string::npos);
}

// Frames are made on one thread and released on others; no buffer is ever held by two live frames.
using FramePoolThreads = FramePool;

TEST_F(FramePoolThreads, FramesReleasedFromOtherThreads)
{
    constexpr int kMakers = 2, kReleasers = 3, kFrames = 3000;
    std::mutex mutex;
    std::vector<KorvoFrame*> pending;
    std::set<uint8_t*> live;
    std::atomic<int> made{0};
    std::atomic<bool> twice{false};
    const int32_t liveAtStart = KorvoFrame::GetLiveCount();
    std::vector<std::thread> threads;
    for (int m = 0; m < kMakers; ++m) {
        threads.emplace_back([&, m] {
            for (int i = 0; i < kFrames; ++i) {
                const uint32_t size = 4096u * (1 + (i + m) % 3);
                auto* frame = new KorvoFrame(nullptr, size, 1, -1);
                frame->GetData()[0] = static_cast<uint8_t>(m);
                std::lock_guard lock(mutex);
                if (!live.insert(frame->GetData()).second)
                    twice = true;
                pending.push_back(frame);
                ++made;
            }
        });
    }
    for (int r = 0; r < kReleasers; ++r) {
        threads.emplace_back([&] {
            for (;;) {
                KorvoFrame* frame = nullptr;
                {
                    std::lock_guard lock(mutex);
                    if (!pending.empty()) {
                        frame = pending.back();
                        pending.pop_back();
                        live.erase(frame->GetData());
                    } else if (made == kMakers * kFrames) {
                        return;
                    }
                }
                if (frame)
                    frame->Release();
                else
                    std::this_thread::yield();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_FALSE(twice);
    EXPECT_EQ(KorvoFrame::GetLiveCount(), liveAtStart);
    EXPECT_GT(theFrameBufferHandler.GetPeak(), 0u);
}

}  // namespace
