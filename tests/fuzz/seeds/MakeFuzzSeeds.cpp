// Writes the seeds of the fuzz targets that come from the project's own writers into corpus/<Target>/: server
// blocks of the block writer (DVCPRO pictures packed as the servers keep them, from frames ffmpeg made), the
// registry's hive, tessan's WAV files and manifests, the browser's ingest job and the composition tessan makes of
// it. Usage: fuzz_seeds <corpus folder> <DVCPRO 50 625-line DIF file>; the build target fuzz_seeds is not built
// with the fuzzers.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "browser/IngestJobXml.h"
#include "outside/tessan/CIngestJob.h"
#include "outside/tessan/MediaFolder.h"
#include "outside/tessan/WavFile.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "serverblock/CKorvoDVCProHelper.h"
#include "writers/parvex/KorvoMXFBlockWriter.h"
#include "xml/CXmlDocument.h"
#include "xml/CXmlNode.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace
{

void Write(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct BlockSpec {
    uint32_t type;         // KORVOMXF_BLOCK_*
    uint32_t standard;     // 3 or 4
    uint32_t system;       // 1 525, 2 625, 4 1080
    uint32_t videoFormat;  // 4 IMX, 5 VC-3, 9 DVCPRO
    uint32_t groups;
};

// One block of the pictures, as many as fit; their audio silent.
Bytes WriteBlock(const BlockSpec& layout, const std::vector<Bytes>& pictures, uint32_t firstField)
{
    KorvoMXFBlockWriter writer;
    writer.SetBlockType(layout.type);
    writer.SetStandard(layout.standard);
    writer.SetVideoSystem(layout.system);
    writer.SetAspectRatio(2);
    writer.SetProgressive(false);
    writer.SetFormatFlag(false);
    writer.SetDualLink(false);
    writer.SetSimultaneousMode(false);
    writer.SetVideoFormat(layout.videoFormat);
    writer.SetAudioFormat(1);
    writer.SetTableHeaderByte(0);
    writer.SetVideoChannelCount(1);
    writer.SetAudioGroupCount(layout.groups);
    writer.SetTwoFields(false);
    Bytes block(layout.type == KORVOMXF_BLOCK_BAVD_8MB ? 0x800000 : 0x200000, 0);
    writer.SetFirstField(firstField);
    writer.SetBlockBuffer(block.data(), static_cast<uint32_t>(block.size()));
    const uint32_t audioBytes = (layout.standard == 3 ? 0x2E00 : 0x2600) * layout.groups;
    for (const Bytes& picture : pictures) {
        KorvoMXFVideoInfo video;
        video._nVideoFormat = layout.videoFormat;
        video._nSize = static_cast<uint32_t>(picture.size());
        video._nWidth = layout.system == 4 ? 1920 : 720;
        video._nLines = layout.system == 1 ? 480 : layout.system == 2 ? 576 : 1080;
        const Bytes audio(size_t{audioBytes} * 2, 0);
        const KorvoMXFAudioInfo info[2] = {{1, audioBytes, 4 * layout.groups}, {1, audioBytes, 4 * layout.groups}};
        const uint32_t chunks = layout.groups ? 2 : 0;
        if (writer.AddPicture(1, &video, picture.data(), chunks, info, audio.data(), 0, nullptr, nullptr) !=
            KORVOMXF_OK)
            break;
    }
    return block;
}

// The input of BlockStreamFuzzer: its two head bytes and the blocks' bytes with zero runs left out.
std::string BlockInput(uint8_t flags, uint8_t media, const std::vector<Bytes>& blocks)
{
    std::string out = {static_cast<char>(flags), static_cast<char>(media)};
    for (size_t b = 0; b < blocks.size(); ++b) {
        const Bytes& block = blocks[b];
        size_t at = 0;
        while (at < block.size()) {
            while (at < block.size() && block[at] == 0)
                ++at;
            if (at == block.size())
                break;
            size_t end = at;
            // A piece ends before a zero run of 16 bytes, or at its largest length.
            size_t zeros = 0;
            for (; end < block.size() && end - at < 0xFFF0 && zeros < 16; ++end)
                zeros = block[end] == 0 ? zeros + 1 : 0;
            end -= zeros;
            const size_t length = end - at;
            out += static_cast<char>(b);
            out += static_cast<char>(at >> 16);
            out += static_cast<char>(at >> 8);
            out += static_cast<char>(at);
            out += static_cast<char>(length >> 8);
            out += static_cast<char>(length);
            out.append(reinterpret_cast<const char*>(block.data() + at), length);
            at = end;
        }
    }
    return out;
}

void BlockSeeds(const fs::path& corpus, const fs::path& difFile)
{
    const fs::path dir = corpus / "BlockStreamFuzzer";
    // Small pictures: a start code and a few bytes, the rest zero.
    std::vector<Bytes> imx;
    for (uint32_t i = 0; i < 6; ++i) {
        Bytes picture(4000 + 1000 * i, 0);
        const uint8_t head[] = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, static_cast<uint8_t>(i)};
        std::copy(std::begin(head), std::end(head), picture.begin());
        imx.push_back(picture);
    }
    const Bytes imxBlock = WriteBlock({KORVOMXF_BLOCK_BAVD_2MB, 3, 2, 4, 1}, imx, 360000);
    const Bytes imxBlock2 = WriteBlock({KORVOMXF_BLOCK_BAVD_2MB, 3, 2, 4, 1}, imx, 360012);
    const Bytes tableBlock = WriteBlock({KORVOMXF_BLOCK_TBL2K_2MB, 4, 1, 4, 2}, imx, 360000);
    const Bytes bavd8 = WriteBlock({KORVOMXF_BLOCK_BAVD_8MB, 3, 2, 4, 2}, imx, 360000);
    // byte 1: system 3 (625) or 4 (525), 4 or 8 tracks, 16 or 24 bits
    Write(dir / "imx_tcp", BlockInput(0x00, 0x20, {imxBlock, imxBlock2}));
    Write(dir / "imx_server", BlockInput(0x04, 0x20, {imxBlock, imxBlock2}));
    Write(dir / "imx_table_tcp", BlockInput(0x00, 0xC1, {tableBlock}));
    Write(dir / "imx_8mb_server", BlockInput(0x0C, 0x40, {bavd8}));
    Write(dir / "blocks_tcp_cut", BlockInput(0x13, 0x20, {imxBlock, imxBlock2}));

    // The VC-3 reader on the same blocks: its checks of the pictures it is given.
    Write(dir / "vc3_tcp", BlockInput(0x02, 0xA3, {imxBlock, imxBlock2}));

    // DVCPRO 50 at 625 lines, packed as the servers keep it. The coefficients of the video blocks are cleared
    // (their IDs and first byte kept), so that the seed stays small; the layout is the packer's.
    std::string dif = ReadAll(difFile);
    for (size_t at = 0; at + 80 <= dif.size(); at += 80)
        if ((static_cast<uint8_t>(dif[at]) >> 5) == 4)
            std::fill(dif.begin() + static_cast<std::ptrdiff_t>(at + 4),
                      dif.begin() + static_cast<std::ptrdiff_t>(at + 80), 0);
    std::vector<Bytes> dv;
    CKorvoDVCProHelper helper;
    for (size_t at = 0; at + 288000 <= dif.size() && dv.empty(); at += 288000) {
        Bytes packed(288000, 0);
        uint32_t size = 0;
        if (!helper.InitFromDVCProFrame(reinterpret_cast<const uint8_t*>(dif.data() + at), 288000) ||
            !helper.PackFrame(reinterpret_cast<const uint8_t*>(dif.data() + at), 288000, packed.data(), &size)) {
            std::fprintf(stderr, "fuzz_seeds: cannot pack the DVCPRO frame\n");
            std::exit(1);
        }
        packed.resize(size);
        dv.push_back(packed);
    }
    const Bytes dvBlock = WriteBlock({KORVOMXF_BLOCK_BAVD_8MB, 3, 2, 9, 1}, dv, 360000);
    Write(dir / "dvcpro_tcp", BlockInput(0x09, 0xA0, {dvBlock}));
    Write(dir / "dvcpro_server", BlockInput(0x0D, 0xA0, {dvBlock}));
}

void RegistrySeeds(const fs::path& corpus)
{
    using platform::RegHive;
    using platform::Registry;
    Registry::SetString(RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Common", "MXF Samples Path", "C:\\Korvo\\MXF\\");
    Registry::SetDword(RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Recalo", "Stall Timeout In Sec", 30);
    Registry::SetQword(RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Nodwell\\Config\\Product1", "Serial", 1ull << 40);
    Registry::SetString(RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Nodwell\\Config\\Product1", "Description",
                        "Quote \" and \\ back");
    Registry::SetBinary(RegHive::LocalMachine,
                        "System\\CurrentControlSet\\Services\\SNMP\\Parameters\\TrapConfiguration", "Blob",
                        {0x00, 0x7F, 0x80, 0xFF});
    Registry::CreateKey(RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Empty");
    Write(corpus / "LocalFileFuzzer" / "hive",
          std::string(1, '\0') + ReadAll(platform::RegistryRoot() / "HKEY_LOCAL_MACHINE.reg"));
}

void TessanSeeds(const fs::path& corpus, const fs::path& work)
{
    // WAV files of both widths.
    for (int32_t bits : {16, 24}) {
        const fs::path path = work / ("w" + std::to_string(bits) + ".wav");
        tessan::CWavWriter wav;
        Bytes samples(1920 * bits / 8);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<uint8_t>(i * 13);
        wav.Open(path.string(), bits);
        wav.Append(samples.data(), samples.size());
        wav.Close();
        Write(corpus / "HandedDocumentFuzzer" / ("wav" + std::to_string(bits)), std::string(1, '\3') + ReadAll(path));
    }
    // A manifest of a short ingest: the pictures and track 1 fit the target's own folder.
    tessan::CMediaWriter media;
    const fs::path folder = work / "media";
    fs::create_directories(folder);
    media.Open(folder.string(), "IMX");
    const Bytes picture(4000, 7);
    const Bytes sound(1920 * 3, 1);
    for (int frame = 0; frame < 3; ++frame) {
        media.Add(0, picture.data(), static_cast<uint32_t>(picture.size()), 0);
        media.Record({0, static_cast<uint32_t>(picture.size()), 0, 0});
        media.Add(1, sound.data(), static_cast<uint32_t>(sound.size()), 1920);
        media.Record({1, static_cast<uint32_t>(sound.size()), 1920, 0});
    }
    media.Record({0, 0, 0, 3});
    media.Close(0, true, 3, "Transfer complete");
    Write(corpus / "HandedDocumentFuzzer" / "manifest", std::string(1, '\2') + ReadAll(folder / tessan::kManifestName));

    // The browser's ingest job of a server clip, and the composition tessan makes of it.
    CXmlDocument doc;
    auto root = ingestjob::CreateJobDocument(doc);
    ingestjob::AddText(*root, "printname", "News & Weather");
    ingestjob::AddText(*root, "lookupname", "004512A_news.CLP");
    ingestjob::AddText(*root, "hostname", "Mirel");
    ingestjob::AddText(*root, "directory", "/clips");
    ingestjob::AddText(*root, "dllname", "KorvoSetup");
    ingestjob::AddText(*root, "dllversion", ingestjob::kDllVersion);
    ingestjob::AddText(*root, "markin", "10:00:00:00");
    ingestjob::AddText(*root, "markout", "10:00:03:24");
    auto priv = root->AddChildNode("private");
    ingestjob::AddInt(*priv, "KorvoFps", 25);
    ingestjob::AddULong(*priv, "KorvoTCIn", 1800000);
    ingestjob::AddULong(*priv, "KorvoTCOut", 1800199);
    ingestjob::AddInt(*priv, "KorvonAudios", 2);
    ingestjob::AddInt(*priv, "KorvoRate", 50);
    ingestjob::AddLong(*priv, "KorvoClipIn", -1);
    ingestjob::AddLong(*priv, "KorvoClipOut", -1);
    ingestjob::AddULong(*priv, "KorvoRixFstFld", 360000);
    ingestjob::AddInt(*priv, "KorvoBlockSizeMB", 8);
    ingestjob::AddInt(*priv, "KorvonAudioBits", 24);
    ingestjob::AddInt(*priv, "KorvonVideoChannels", 1);
    ingestjob::AddFlag(*priv, "TrimClip", false);
    ingestjob::AddFlag(*priv, "Tardix", true);
    ingestjob::AddText(*priv, "KorvoRixServer", "Korvo:wqt@127.0.0.1:2121");
    ingestjob::AddText(*priv, "KorvoFileType", "RixFTP");
    ingestjob::AddText(*priv, "KorvoDataType", "IMX");
    const std::string job = ingestjob::FinishJobText(doc.GetXml());
    Write(corpus / "HandedDocumentFuzzer" / "ingest_job", std::string(1, '\1') + job);
    tessan::CIngestJob parsed;
    if (!parsed.Parse(job)) {
        std::fprintf(stderr, "fuzz_seeds: tessan refused the job: %s\n", parsed.Error().c_str());
        std::exit(1);
    }
    const std::string composition = parsed.MakeComposition();
    if (composition.empty()) {
        std::fprintf(stderr, "fuzz_seeds: no composition: %s\n", parsed.Error().c_str());
        std::exit(1);
    }
    Write(corpus / "HandedDocumentFuzzer" / "composition", std::string(1, '\0') + composition);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_seeds <corpus folder> <DVCPRO 50 625-line DIF file>\n");
        return 2;
    }
    const fs::path corpus = argv[1];
    const fs::path work = fs::temp_directory_path() / ("korvo-fuzz-seeds-" + std::to_string(getpid()));
    fs::create_directories(work / "registry");
    setenv("KORVO_REGISTRY_ROOT", (work / "registry").c_str(), 1);
    setenv("KORVO_DRIVE_ROOT", (work / "drives").c_str(), 1);
    setenv("KORVO_RUNTIME_DIR", (work / "run").c_str(), 1);
    BlockSeeds(corpus, argv[2]);
    RegistrySeeds(corpus);
    TessanSeeds(corpus, work);
    fs::remove_all(work);
    return 0;
}
