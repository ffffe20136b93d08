#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "receiver/KorvoFrame.h"
#include "tests/receiver/ReceiverComposition.h"
#include "tests/receiver/ScriptedFrameReader.h"

using receivertest::Composition;
using receivertest::CompositionBuffer;
using receivertest::FileClip;
using receivertest::ReaderScript;
using receivertest::ScriptedReceiver;

namespace
{

bool OpenOn(KorvoReceiver& receiver, const Composition& c)
{
    CompositionBuffer buffer(c);
    int32_t opened = 0;
    const bool ok = receiver.Open(buffer.Get(), &opened);
    EXPECT_EQ(opened, ok ? 1 : 0);
    return ok;
}

struct Delivery {
    int32_t code;
    int32_t type;  // -1: no frame
};

// Recv calls until a non-zero code or a limit; every frame is released as the host does.
std::vector<Delivery> Drain(KorvoReceiver& receiver, int limit = 100)
{
    std::vector<Delivery> out;
    for (int i = 0; i < limit; ++i) {
        Qo::Ingest::Frame* frame = reinterpret_cast<Qo::Ingest::Frame*>(1);
        const int32_t code = receiver.Recv(frame);
        out.push_back({code, frame ? frame->GetTypeCode() : -1});
        if (frame)
            frame->Release();
        if (code != 0)
            break;
    }
    return out;
}

class KorvoReceiverTest : public ::testing::Test
{
protected:
    void SetUp() override { _liveFrames = KorvoFrame::GetLiveCount(); }
    void TearDown() override { EXPECT_EQ(KorvoFrame::GetLiveCount(), _liveFrames) << "a frame was not released"; }

private:
    int32_t _liveFrames = 0;
};

TEST_F(KorvoReceiverTest, OpenReadsTheAttributesAndBuildsTheSourceOfEachKind)
{
    struct Case {
        const char* fileType;  // empty: attribute missing
        const char* source;
    };
    const Case cases[] = {
        {"Korvo", "/media/clips/CLIP.KRV"},
        {"", "/media/clips/CLIP.KRV"},
        {"tcp", "browser.local:1666"},
        {"RixFTP", "ftp://rix1/clips/CLIP.KRV"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileType);
        Composition composition = FileClip();
        composition.User("QO_KORVO_FILETYPE", c.fileType).User("QO_KORVO_TCPPORT", "browser.local:1666");
        composition.User("QO_KORVO_RIXSERVER", "rix1");
        if (std::string(c.fileType) == "RixFTP")
            composition.User("QO_KORVO_DIRNAME", "/clips/");
        composition.videoStandard = Qo::Generic::kVideoStandard2997Hz;
        ScriptedReceiver receiver;
        ASSERT_TRUE(OpenOn(receiver, composition)) << receiver.GetErrorText();
        EXPECT_EQ(receiver.record->source, c.source);
        EXPECT_EQ(receiver.asked.strSourceKind, *c.fileType ? c.fileType : "Korvo");
        EXPECT_EQ(receiver.record->videoSystem, 4);
        EXPECT_EQ(receiver.record->rate, 50);
        EXPECT_EQ(receiver.record->audioTracks, 2);
        EXPECT_EQ(receiver.record->audioBits, 24);
        EXPECT_EQ(receiver.asked.nBlockSize, 8u << 20);
        EXPECT_FALSE(receiver.asked.bHighFrameRate);
        EXPECT_EQ(receiver.GetTrackList(), (std::vector<int32_t>{0, 1, 2}));
        EXPECT_EQ(receiver.GetFramesLeft(), 10);
        EXPECT_EQ(receiver.GetErrorCode(), 0);
        EXPECT_TRUE(receiver.Close());
    }
}

TEST_F(KorvoReceiverTest, BlockSizesOtherThanTwoAndEightMegabytesAreRefused)
{
    struct Case {
        const char* value;  // empty: attribute missing
        uint32_t bytes;     // 0: refused
    };
    const Case cases[] = {
        {"2", 2u << 20},
        {"8", 8u << 20},
        {"2000000", 2u << 20},
        {"8000000", 8u << 20},
        {"2097152", 2u << 20},
        {"8388608", 8u << 20},
        {"", 2u << 20},
        {"0", 0},
        {"-2", 0},
        {"1", 0},
        {"3", 0},
        {"2048", 0},
        {"4000000", 0},
        {"1048576", 0},
        {"8000001", 0},
        {"99999999999999", 0},
        {"8MB", 0},
        {" 8", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        ScriptedReceiver receiver;
        const bool opened = OpenOn(receiver, FileClip().User("QO_KORVO_BLOCKSIZE", c.value));
        EXPECT_EQ(opened, c.bytes != 0);
        if (c.bytes) {
            EXPECT_EQ(receiver.asked.nBlockSize, c.bytes);
        } else {
            EXPECT_EQ(receiver.GetErrorCode(), 8);
            EXPECT_EQ(receiver.GetErrorText(),
                      std::string("KorvoReceiver::Open: bad block size \"") + c.value + "\" (2 or 8 MB only)");
            EXPECT_TRUE(receiver.record->source.empty()) << "the reader was opened";
            EXPECT_NE(Drain(receiver).back().code, 0);
        }
    }
}

TEST_F(KorvoReceiverTest, OpenFailuresGiveTheirCodeAndText)
{
    struct Case {
        const char* what;
        int32_t masters;
        const char* dataKind;
        ReaderScript script;
        bool noReader;
        int32_t code;
        const char* text;
    };
    ReaderScript failing;
    failing.openResult = 3;
    ReaderScript throwing;
    throwing.throwOnOpen = true;
    const Case cases[] = {
        {"no master mob", 0, "IMX", {}, false, 8, "KorvoReceiver::Open: Container Mobs error"},
        {"two master mobs", 2, "IMX", {}, false, 8, "KorvoReceiver::Open: Container Mobs error"},
        {"no reader for the kind",
         1,
         "MPEG",
         {},
         true,
         7,
         "KorvoReceiver::Open: cannot instantiate Frame Reader for media type"},
        {"reader cannot open", 1, "IMX", failing, false, 7, "KorvoReceiver::Open: no media"},
        {"reader throws", 1, "IMX", throwing, false, 7, "KorvoReceiver::Open: scripted open failure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Composition composition = FileClip().User("QO_KORVO_DATATYPE", c.dataKind);
        composition.masters = c.masters;
        ScriptedReceiver receiver(c.script);
        receiver.noReader = c.noReader;
        EXPECT_FALSE(OpenOn(receiver, composition));
        EXPECT_EQ(receiver.GetErrorCode(), c.code);
        EXPECT_EQ(receiver.GetErrorText(), c.text);
        // Recv after a failed Open reports an error and touches no reader.
        EXPECT_EQ(Drain(receiver).back().code, 6);
        EXPECT_EQ(receiver.GetErrorText(), c.text);
        EXPECT_TRUE(receiver.Close());
    }
}

TEST_F(KorvoReceiverTest, FramesComeTrackAfterTrackUntilTheClipEnds)
{
    Composition composition = FileClip();
    composition.duration = composition.trimOut = 2;
    ScriptedReceiver receiver;
    ASSERT_TRUE(OpenOn(receiver, composition));
    std::vector<Delivery> got = Drain(receiver);
    ASSERT_EQ(got.size(), 7u);
    const int32_t types[] = {0, 1, 2, 0, 1, 2};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(got[i].code, 0);
        EXPECT_EQ(got[i].type, types[i]);
    }
    EXPECT_EQ(got[6].code, 14);
    EXPECT_EQ(got[6].type, -1);
    EXPECT_EQ(receiver.GetErrorText(), "KorvoReceiver: End Of Data");
    EXPECT_EQ(receiver.record->setsRead, 2);
    EXPECT_EQ(receiver.Runstate(), 1);
    receiver.Close();
    EXPECT_TRUE(receiver.record->closed);
}

TEST_F(KorvoReceiverTest, AnEarlyEndIsAFailureAlsoForALiveClip)
{
    struct Case {
        bool live;
        int sets;  // the source's frame sets; the clip expects 4
        size_t frames;
        int32_t code;
    };
    const Case cases[] = {
        {false, 4, 12, 14},  // complete
        {false, 2, 6, 6},    // the file ends early
        {true, 2, 6, 6},     // the recording breaks off before its expected end
        {true, 6, 18, 14},   // a recording goes on past its expected end, then stops
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "live " << c.live << " sets " << c.sets);
        Composition composition = FileClip().User("QO_KORVO_RECORDING", c.live ? "1" : "0");
        composition.duration = composition.trimOut = 4;
        ReaderScript script;
        script.sets = c.sets;
        ScriptedReceiver receiver(script);
        ASSERT_TRUE(OpenOn(receiver, composition));
        std::vector<Delivery> got = Drain(receiver);
        EXPECT_EQ(got.size(), c.frames + 1);
        EXPECT_EQ(got.back().code, c.code);
        EXPECT_EQ(receiver.GetErrorText(), "KorvoReceiver: End Of Data");
    }
}

TEST_F(KorvoReceiverTest, TrimAndFirstFieldChooseWhereTheReaderStarts)
{
    Composition composition = FileClip();
    composition.duration = 200;
    composition.trimIn = 10;
    composition.trimOut = 110;
    composition.attributes.push_back({"_EXPORT", "TRIM_SUBCLIP", "1"});
    {
        ScriptedReceiver receiver;
        ASSERT_TRUE(OpenOn(receiver, composition));
        EXPECT_EQ(receiver.GetFramesLeft(), 100);
        EXPECT_EQ(receiver.record->startFrame, 10);
        EXPECT_EQ(receiver.record->firstField, -1);
    }
    {
        ScriptedReceiver receiver;
        ASSERT_TRUE(OpenOn(receiver, Composition(composition).User("QO_KORVO_RIXFSTFLD", "4000")));
        EXPECT_EQ(receiver.record->firstField, 4000);
        EXPECT_EQ(receiver.record->startFrame, -1);
    }
    {
        // Trimming not asked for: the whole clip.
        Composition whole = composition;
        whole.attributes.pop_back();
        ScriptedReceiver receiver;
        ASSERT_TRUE(OpenOn(receiver, whole));
        EXPECT_EQ(receiver.GetFramesLeft(), 200);
        EXPECT_EQ(receiver.record->startFrame, -1);
    }
}

TEST_F(KorvoReceiverTest, BadTracksMissingFramesAndReaderExceptionsBecomeErrorCodes)
{
    struct Case {
        const char* what;
        std::vector<int32_t> tracks;
        ReaderScript script;
        size_t calls;
        int32_t code;
        const char* text;
    };
    ReaderScript nullTrack;
    nullTrack.nullTrackFrame = true;
    ReaderScript emptyVideo;
    emptyVideo.emptyVideoFrame = true;
    ReaderScript throwing;
    throwing.throwAtSet = 1;
    const Case cases[] = {
        {"track 9", {0, 9}, {}, 2, 8, "KorvoReceiver: Bad Track"},
        {"no tracks", {}, {}, 1, 6, "KorvoReceiver::Recv: no media open"},
        {"null audio frame", {0, 1}, nullTrack, 2, 6, "KorvoReceiver: Internal Error !?"},
        {"empty video frame", {0, 1}, emptyVideo, 1, 6, "KorvoReceiver: Internal Error !?"},
        {"reader throws", {0, 1}, throwing, 3, 6, "KorvoReceiver: Internal Error: scripted read failure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Composition composition = FileClip();
        composition.tracks = c.tracks;
        ScriptedReceiver receiver(c.script);
        ASSERT_TRUE(OpenOn(receiver, composition));
        std::vector<Delivery> got = Drain(receiver);
        EXPECT_EQ(got.size(), c.calls);
        EXPECT_EQ(got.back().code, c.code);
        EXPECT_EQ(got.back().type, -1);
        EXPECT_EQ(receiver.GetErrorText(), c.text);
    }
}

// Threaded: also run under ThreadSanitizer.
class KorvoReceiverThreads : public KorvoReceiverTest
{
protected:
    // Runs Recv on another thread; the future holds its code.
    static std::future<int32_t> RecvAsync(KorvoReceiver& receiver)
    {
        return std::async(std::launch::async, [&receiver] {
            Qo::Ingest::Frame* frame = nullptr;
            const int32_t code = receiver.Recv(frame);
            if (frame)
                frame->Release();
            return code;
        });
    }
    static bool Waits(std::future<int32_t>& f)
    {
        return f.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout;
    }
    static bool Ends(std::future<int32_t>& f)
    {
        return f.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    }
};

TEST_F(KorvoReceiverThreads, PauseBlocksRecvUntilResumeOrCancel)
{
    ScriptedReceiver receiver;
    ASSERT_TRUE(OpenOn(receiver, FileClip()));
    receiver.Pause();
    EXPECT_EQ(receiver.Runstate(), 2);
    std::future<int32_t> recv = RecvAsync(receiver);
    EXPECT_TRUE(Waits(recv));
    receiver.Resume();
    ASSERT_TRUE(Ends(recv));
    EXPECT_EQ(recv.get(), 0);
    EXPECT_EQ(receiver.Runstate(), 1);

    receiver.Pause();
    recv = RecvAsync(receiver);
    EXPECT_TRUE(Waits(recv));
    receiver.Cancel();
    ASSERT_TRUE(Ends(recv));
    EXPECT_EQ(recv.get(), 2);
    EXPECT_EQ(receiver.GetErrorText(), "Cancelled");
    // Final: neither Resume nor Pause leave it, and every later Recv is cancelled.
    receiver.Resume();
    receiver.Pause();
    EXPECT_EQ(receiver.Runstate(), 3);
    EXPECT_EQ(Drain(receiver).back().code, 2);
    receiver.Close();
}

TEST_F(KorvoReceiverThreads, CancelEndsAReadWaitingOnItsSource)
{
    ReaderScript script;
    script.waitAtSet = 1;
    ScriptedReceiver receiver(script);
    ASSERT_TRUE(OpenOn(receiver, FileClip()));
    std::vector<Delivery> first = Drain(receiver, 3);
    ASSERT_EQ(first.size(), 3u);
    std::future<int32_t> recv = RecvAsync(receiver);
    {
        std::unique_lock lock(receiver.record->lock);
        ASSERT_TRUE(receiver.record->changed.wait_for(lock, std::chrono::seconds(10),
                                                      [&] { return receiver.record->waiting; }));
    }
    receiver.Cancel();
    ASSERT_TRUE(Ends(recv));
    EXPECT_EQ(recv.get(), 2);
    EXPECT_EQ(receiver.GetErrorCode(), 2);
    receiver.Close();
}

TEST_F(KorvoReceiverThreads, ASilentSourceEndsTheTransferAfterTheStallTime)
{
    ReaderScript script;
    script.waitAtSet = 2;
    ScriptedReceiver receiver(script);
    receiver.SetStallTime(100);
    ASSERT_TRUE(OpenOn(receiver, FileClip()));
    std::vector<Delivery> got = Drain(receiver);
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got.back().code, 6);
    EXPECT_EQ(receiver.GetErrorText(), "KorvoReceiver: the source sent nothing for 0.1 s");
    EXPECT_EQ(receiver.Runstate(), 1);
    receiver.Close();
}

TEST_F(KorvoReceiverThreads, ACancelRacingAPauseIsNeverLost)
{
    for (int round = 0; round < 200; ++round) {
        ScriptedReceiver receiver;
        std::thread pauser([&] { receiver.Pause(); });
        std::thread canceller([&] { receiver.Cancel(); });
        pauser.join();
        canceller.join();
        ASSERT_EQ(receiver.Runstate(), 3) << "round " << round;
        std::future<int32_t> recv = RecvAsync(receiver);
        ASSERT_TRUE(Ends(recv)) << "round " << round;
        ASSERT_EQ(recv.get(), 2);
    }
}

}  // namespace
