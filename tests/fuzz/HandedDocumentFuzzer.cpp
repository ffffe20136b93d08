// Documents a user hands over, on any bytes. Byte 0 picks the reader, the rest is the document: 0 a composition
// opened by libTolvenc.so, every mob of it read, and the receiver opened on it (its attributes read; the frame
// reader it asks for is not made, so no source is reached); 1 an ingest job read by tessan, its values and attributes
// taken and its composition made and opened again; 2 a media manifest read with a picture file and one WAV beside
// it, and every picture it lists read; 3 a WAV file read and its samples taken.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "outside/qo/Generic/HelperIF.h"
#include "outside/tessan/CIngestJob.h"
#include "outside/tessan/MediaFolder.h"
#include "outside/tessan/WavFile.h"
#include "receiver/KorvoReceiver.h"
#include "tests/fuzz/FuzzTempFolder.h"
#include "tests/outside/plugins/CompositionSummary.h"

namespace
{

volatile size_t g_nSink;

void WriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// The receiver up to its frame reader, which it is refused.
class ProbeReceiver : public KorvoReceiver
{
protected:
    std::unique_ptr<CReceiverFReader> MakeFrameReader(const KorvoReceiverMedia& media) override
    {
        g_nSink = media.strSource.size() + media.nBlockSize + static_cast<size_t>(media.nAudioTracks);
        return nullptr;
    }
};

void ReadComposition(const void* data, size_t size)
{
    Qo::Generic::HelperIF* helper = Qo::Generic::CreateHelper(Qo::Generic::kContainerAAF);
    if (!helper)
        std::abort();
    Qo::Generic::ContainerBuffer* buffer = helper->BufferFromMemory(data, static_cast<uint32_t>(size), 4096);
    Qo::Generic::ContainerIF* container = buffer ? helper->OpenContainer(buffer, Qo::Generic::kOpenRead) : nullptr;
    if (container) {
        g_nSink = outsidetest::SummariseContainer(container).size();
        g_nSink = container->GetCompositionMobIDs(true).size();
        helper->ReturnContainer(container);
        ProbeReceiver receiver;
        int32_t opened = 0;
        if (receiver.Open(buffer, &opened))
            std::abort();
        receiver.Close();
    }
    if (buffer)
        helper->ReleaseBuffer(buffer);
    Qo::Generic::DeleteHelper(helper);
}

void ReadIngestJob(const std::string& text)
{
    tessan::CIngestJob job;
    if (!job.Parse(text))
        return;
    g_nSink = job.Attributes().size() + job.Tracks().size() + job.ClipName().size() + job.VideoCompression().size();
    g_nSink = static_cast<size_t>(job.VideoStandard() + job.Duration() + job.TrimIn() + job.TrimOut());
    g_nSink = job.StartTimeCode().frames + job.IsLive();
    const std::string composition = job.MakeComposition();
    if (!composition.empty())
        ReadComposition(composition.data(), composition.size());
}

// The folder of the manifest: a picture file of 64 kB ("video.m2v") and a WAV of track 1 from the project's writer.
const std::string& MediaFolder()
{
    static const std::string folder = [] {
        const std::string dir = FuzzTempFolder() + "/media";
        std::filesystem::create_directories(dir);
        std::vector<uint8_t> pictures(65536);
        for (size_t i = 0; i < pictures.size(); ++i)
            pictures[i] = static_cast<uint8_t>(i * 7);
        WriteFile(dir + "/video.m2v", pictures.data(), pictures.size());
        tessan::CWavWriter wav;
        if (!wav.Open(dir + "/" + tessan::AudioName(1), 24) || !wav.Append(pictures.data(), 1920 * 3 * 4) ||
            !wav.Close())
            std::abort();
        return dir;
    }();
    return folder;
}

void ReadManifest(const uint8_t* data, size_t size)
{
    const std::string& dir = MediaFolder();
    WriteFile(dir + "/" + tessan::kManifestName, data, size);
    tessan::CMediaReader media;
    if (!media.Open(dir))
        return;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < media.PictureCount() && i < 256; ++i)
        if (media.Picture(i, bytes))
            g_nSink = bytes.size();
    for (int32_t track = 0; track <= 9; ++track)
        if (const tessan::CWavReader* wav = media.Audio(track))
            g_nSink = wav->Samples();
}

void ReadWav(const uint8_t* data, size_t size)
{
    const std::string path = FuzzTempFolder() + "/fuzz.wav";
    WriteFile(path, data, size);
    tessan::CWavReader wav;
    if (!wav.Load(path))
        return;
    std::vector<uint8_t> bytes;
    const uint64_t samples = wav.Samples();
    for (uint64_t first : {uint64_t{0}, samples / 2, samples > 0 ? samples - 1 : 0, samples})
        if (wav.Take(first, 1920, bytes) || wav.Take(first, 1, bytes))
            g_nSink = bytes.size() + static_cast<size_t>(wav.Bits());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzIsolate();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t* document = data + 1;
    const size_t length = size - 1;
    switch (data[0] % 4) {
        case 0:
            ReadComposition(document, length);
            break;
        case 1:
            ReadIngestJob(std::string(reinterpret_cast<const char*>(document), length));
            break;
        case 2:
            ReadManifest(document, length);
            break;
        default:
            ReadWav(document, length);
            break;
    }
    return 0;
}
