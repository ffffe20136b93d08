#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "outside/qo/Ingest/Receiver.h"
#include "tests/receiver/ReceiverComposition.h"

namespace
{

std::string Shell(const std::string& command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        return out;
    std::array<char, 4096> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe.get()))
        out += buffer.data();
    return out;
}

class RecaloLibrary : public ::testing::Test
{
protected:
    void SetUp() override
    {
        _handle = dlopen(KORVO_RECALO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(_handle, nullptr) << dlerror();
    }
    void TearDown() override
    {
        if (_handle)
            dlclose(_handle);
    }
    template <class Fn>
    Fn Symbol(const char* name)
    {
        return reinterpret_cast<Fn>(dlsym(_handle, name));
    }

    void* _handle = nullptr;
};

TEST_F(RecaloLibrary, ExportsExactlyTheEntryPoints)
{
    EXPECT_EQ(Shell(std::string("nm -D --defined-only ") + KORVO_RECALO_LIBRARY + " | awk '{print $3}' | sort"),
              "CheckVersion\nCreate\nDelete\nGetReceiverVersion\nQoCheckAPIVersion\nQoCreateAPI\nQoDeleteAPI\n"
              "_ZN2Qo7Generic10HbzManageraSERKS1_\n");
    // The short names are the same functions.
    EXPECT_EQ(dlsym(_handle, "Create"), dlsym(_handle, "QoCreateAPI"));
    EXPECT_EQ(dlsym(_handle, "Delete"), dlsym(_handle, "QoDeleteAPI"));
    EXPECT_EQ(dlsym(_handle, "CheckVersion"), dlsym(_handle, "QoCheckAPIVersion"));
}

TEST_F(RecaloLibrary, AReceiverMadeThroughTheExportsRunsAndReportsItsErrors)
{
    auto check = Symbol<Qo::Ingest::CheckAPIVersionFn>("QoCheckAPIVersion");
    auto create = Symbol<Qo::Ingest::CreateAPIFn>("QoCreateAPI");
    auto destroy = Symbol<Qo::Ingest::DeleteAPIFn>("QoDeleteAPI");
    auto version = Symbol<Qo::Ingest::GetReceiverVersionFn>("GetReceiverVersion");
    ASSERT_TRUE(check && create && destroy && version);
    EXPECT_EQ(check("1.0"), 0);
    EXPECT_EQ(check(""), 0);
    int32_t v = 0;
    EXPECT_EQ(version(&v), &v);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(version(nullptr), nullptr);
    destroy(nullptr);

    Qo::Ingest::Receiver* receiver = create();
    ASSERT_NE(receiver, nullptr);
    EXPECT_EQ(receiver->Runstate(), 1);
    EXPECT_EQ(receiver->GetErrorCode(), 0);
    // A clip whose file is not there: Open fails with the receiver's code and text, nothing thrown.
    receivertest::Composition composition = receivertest::FileClip(testing::TempDir(), "NO_SUCH_CLIP.KRV");
    receivertest::CompositionBuffer buffer(composition);
    int32_t opened = 0;
    EXPECT_FALSE(receiver->Open(buffer.Get(), &opened));
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(receiver->GetErrorCode(), 7);
    EXPECT_EQ(receiver->GetErrorText(), "KorvoReceiver::Open: no media");
    Qo::Ingest::Frame* frame = nullptr;
    EXPECT_NE(receiver->Recv(frame), 0);
    EXPECT_EQ(frame, nullptr);
    EXPECT_TRUE(receiver->Cancel());
    EXPECT_EQ(receiver->Runstate(), 3);
    EXPECT_TRUE(receiver->Close());
    destroy(receiver);
}

}  // namespace
