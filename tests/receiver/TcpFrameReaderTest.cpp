#include <gtest/gtest.h>

#include <cstring>
#include <future>

#include "browser/CTcpBlockSender.h"
#include "receiver/CReceiverKorvoIMXReader.h"
#include "receiver/FrameReaderMedia.h"

namespace
{

using namespace framereadertest;

// A clip file streamed by the browser's block sender is read frame by frame from the TCP stream.
TEST(TcpFrameReaderThreads, HandsOutTheStreamedClip)
{
    ASSERT_FALSE(ReceiverMediaDir().empty());
    const ClipSpec clipSpec{"IMX40", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3, 4, 40, 2, "imx40.m2v", 200000, 24, false};
    const std::string path = (testsupport::FreshDir("tcp-frames") / "clip.mxf").string();
    parvexclip::ClipWriter writer(clipSpec);
    writer._fieldAudio = [clipSpec](uint32_t field) { return RampFieldAudio(clipSpec, field); };
    ASSERT_TRUE(writer.WriteAll(path));

    TCPBlockSender sender;
    ASSERT_EQ(sender.Listen(), 0);
    std::string address;
    ASSERT_EQ(sender.GetPublishedAddress("127.0.0.1", &address), 0);
    auto waiting = std::async(std::launch::async, [&] { return sender.WaitForConnection(5000); });
    CReceiverKorvoIMXReader reader("TCP", 0x200000, false, 1, 0);
    ASSERT_EQ(reader.Open(address, 3, 40, 8, 24), 0);
    ASSERT_EQ(waiting.get(), 0);
    ASSERT_EQ(sender.StartSending(path), 0);
    for (uint32_t k = 0; k < clipSpec.nPictures; ++k) {
        ASSERT_TRUE(reader.ReadNextFrame()) << "frame " << k;
        KorvoFrame* video = reader.GetVideoFrame();
        ASSERT_NE(video, nullptr);
        const parvexclip::Bytes& picture = writer.MediaPicture(k);
        ASSERT_EQ(video->GetSize(), picture.size());
        EXPECT_EQ(0, std::memcmp(video->GetData(), picture.data(), picture.size())) << "frame " << k;
        video->Release();
        for (int32_t t = 1; t <= 8; ++t) {
            KorvoFrame* frame = reader.GetTrackFrame(t);
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(Bytes(frame->GetData(), frame->GetData() + frame->GetSize()),
                      ExpectedTrackPcm(3, k, static_cast<uint32_t>(t), 24))
                << "frame " << k << " track " << t;
            frame->Release();
        }
    }
    EXPECT_FALSE(reader.ReadNextFrame());
    reader.Close();
    sender.Stop();
}

}  // namespace
