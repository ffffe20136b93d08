// The main job: makes a short IMX 50 clip with ffmpeg, writes it as a Parvex clip file with the project's
// writer, reads it back (clip information, block index, every picture; then detected and read through the
// data reader factory), serves the clip's blocks from the video server simulator and reads them back through
// the factory's server clip reader over FTP, checking every picture, and prints what it did.
// Usage: korvo_main_job <work folder>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/CLogManager.h"
#include "outside/rix/CRixClipTable.h"
#include "outside/rix/CRixSimServer.h"
#include "outside/tessan/CIngestTransfer.h"
#include "platform/File.h"
#include "reading/framework/CSourceReader.h"
#include "reading/framework/DataReaderFactory.h"
#include "reading/framework/FileTypeDetection.h"
#include "reading/parvex/CBlockData.h"
#include "reading/parvex/CMXF_Parvex_ClipInfo.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "reading/parvex/MXFId.h"
#include "reading/rix/CRixFTPDataReader.h"
#include "writers/KorvoMXFWriter.h"

namespace
{

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFrames = 50;                  // 2 s at 25 frames per second
constexpr uint32_t kFirstField = 10 * 3600 * 50;  // 10:00:00:00 in fields
constexpr uint32_t kBlockSize = 0x200000;
constexpr uint32_t kImx50FrameSize = 250000;

int g_failures = 0;

void Check(bool ok, const std::string& what)
{
    std::printf("  %-6s %s\n", ok ? "ok" : "FAILED", what.c_str());
    if (!ok)
        ++g_failures;
}

Bytes ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Intra-only MPEG-2 repeats the sequence header before every picture: split the stream there.
std::vector<Bytes> SplitPictures(const Bytes& stream)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i + 4 <= stream.size(); ++i)
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && stream[i + 3] == 0xB3)
            starts.push_back(i);
    std::vector<Bytes> pictures;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] : stream.size();
        pictures.emplace_back(stream.begin() + static_cast<long>(starts[k]), stream.begin() + static_cast<long>(end));
    }
    return pictures;
}

bool MakeClipWithFfmpeg(const fs::path& es)
{
    std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=720x608:r=25 -t " + std::to_string(kFrames / 25) +
        " -c:v mpeg2video -pix_fmt yuv422p -g 1 -bf 0 -flags +ildct+ilme -top 1 -b:v 50M -minrate 50M -maxrate 50M"
        " -bufsize 2000000 -rc_init_occupancy 2000000 -f mpeg2video '" +
        es.string() + "'";
    return std::system(cmd.c_str()) == 0;
}

bool WriteParvexClip(const std::string& path, const std::vector<Bytes>& pictures, const std::string& material,
                     uint32_t format = KORVOMXF_FORMAT_BAVD_2MB)
{
    KorvoMXFInfo info;
    info._nStandard = 3;     // 25 frames interlaced
    info._nVideoSystem = 2;  // 625 lines
    info._nAspectRatio = 2;  // 4:3
    info._nVideoFormat = 4;  // IMX
    info._nBitrate = 50;
    info._nAudioGroups = 0;
    info._nFirstField = kFirstField;
    info._nOutField = kFirstField + 2 * static_cast<uint32_t>(pictures.size());
    info.SetMaterialId(material.c_str());
    KorvoMXFClip clip;
    clip.SetUmId(material.c_str());
    clip.SetName("main job");
    clip._nShortIn = info._nFirstField;
    clip._nShortOut = info._nOutField;
    clip._nTCSystem = 3;
    if (info.AddClip(clip) != KORVOMXF_OK)
        return false;

    KorvoMXFWriter writer;
    if (writer.Open(path.c_str(), KORVOMXF_OPEN_CREATE, format) != KORVOMXF_OK || writer.SetInfo(info) != KORVOMXF_OK ||
        writer.SetFirstField(kFirstField) != KORVOMXF_OK)
        return false;
    for (const Bytes& picture : pictures) {
        KorvoMXFVideoInfo video;
        video._nVideoFormat = 4;
        video._nSize = static_cast<uint32_t>(picture.size());
        video._nWidth = 720;
        video._nLines = 608;
        KorvoMXFResult rc = writer.AddPicture(1, &video, picture.data(), 0, nullptr, nullptr, 0, nullptr, nullptr);
        if (rc != KORVOMXF_OK) {
            std::printf("  AddPicture: %s\n", KorvoMXFErrorText(rc));
            return false;
        }
    }
    return writer.SetInfo(info) == KORVOMXF_OK && writer.Close() == KORVOMXF_OK;
}

// The picture of every field of a block equals the picture written for it.
bool BlockHoldsPictures(const uint8_t* block, const std::vector<Bytes>& pictures, uint32_t* fieldsSeen)
{
    auto data = CreateBlockData(2, kBlockSize);
    if (!data || data->SetBlock(block) != 0)
        return false;
    for (uint32_t field = data->GetFirstField(); field < data->GetEndField(); ++field) {
        uint32_t size = 0;
        const uint8_t* p = data->GetFieldData(field - data->GetFirstField(), &size);
        uint32_t picture = (field - kFirstField) / 2;
        // Elements are stored padded to the block's alignment.
        if (!p || picture >= pictures.size() || size < pictures[picture].size() ||
            std::memcmp(p, pictures[picture].data(), pictures[picture].size()) != 0)
            return false;
        ++*fieldsSeen;
    }
    return true;
}

// A source that only names the server clip, as the factory hands it to the server reader.
class UrlSource : public CSourceReader
{
public:
    explicit UrlSource(std::string url) : CSourceReader(""), _szUrl(std::move(url)) {}
    void GetName(std::string& name) override { name = _szUrl; }

private:
    std::string _szUrl;
};

// Reads every unit of an opened reader forwards; true when they are the pictures written, in order.
// Elements come back padded to the block's alignment, so each unit starts with its picture.
bool ReadsThePictures(CDataReader& reader, const std::vector<Bytes>& pictures, uint32_t* count)
{
    Bytes buffer(kImx50FrameSize * 2);
    *count = 0;
    for (;;) {
        uint8_t* data = buffer.data();
        uint32_t size = 0;
        int32_t rc = reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr);
        if (rc != 0) {
            std::printf("  the reader ends after %u pictures (result %d)\n", *count, rc);
            return *count == pictures.size();
        }
        if (*count >= pictures.size() || size < pictures[*count].size() ||
            std::memcmp(data, pictures[*count].data(), pictures[*count].size()) != 0)
            return false;
        ++*count;
    }
}

std::string TypeText(FileType type, int32_t videoType)
{
    return std::string(FileTypeName(type)) + " (" + std::to_string(type) + "), video type " + VideoTypeName(videoType) +
           " (" + std::to_string(videoType) + ")";
}

}  // namespace

// ffmpeg's framemd5 hashes of a file's pictures.
std::vector<std::string> FrameMd5(const fs::path& file)
{
    const std::string command = "ffmpeg -nostdin -v error -f mpegvideo -i '" + file.string() + "' -f framemd5 - 2>&1";
    std::vector<std::string> hashes;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return hashes;
    char line[512];
    while (std::fgets(line, sizeof line, pipe))
        if (line[0] != '#' && std::strrchr(line, ','))
            hashes.emplace_back(std::strrchr(line, ',') + 1);
    pclose(pipe);
    return hashes;
}

// An ingest job of the clip as the browser hands it over; the source values differ for a file and a server.
std::string IngestJob(const std::string& fileType, const std::string& directory, const std::string& clip,
                      const std::string& server, uint32_t blockMB)
{
    const std::string markout = "00:00:" + std::to_string((kFrames - 1) / 25 / 10) +
                                std::to_string((kFrames - 1) / 25 % 10) + ":" +
                                std::to_string((kFrames - 1) % 25 / 10) + std::to_string((kFrames - 1) % 25 % 10);
    return "<?xml><ingestdrag><printname>main job</printname><lookupname>" + clip + "</lookupname><directory>" +
           directory + "</directory><markin>00:00:00:00</markin><markout>" + markout +
           "</markout><private><KorvoFps>25</KorvoFps><KorvonAudios>0</KorvonAudios><KorvoRate>50</KorvoRate>"
           "<KorvoRixFstFld>" +
           std::to_string(kFirstField) + "</KorvoRixFstFld><KorvoBlockSizeMB>" + std::to_string(blockMB) +
           "</KorvoBlockSizeMB><KorvonAudioBits>24</KorvonAudioBits><TrimClip>0</TrimClip><Tardix>0</Tardix>"
           "<KorvoRixServer>" +
           server + "</KorvoRixServer><KorvoFileType>" + fileType +
           "</KorvoFileType><KorvoDataType>IMX</KorvoDataType></private></ingestdrag>";
}

// Ingests a job through the transfer service with the receiver plug-in and checks the pictures against the source.
void IngestAndCheck(const std::string& jobText, const fs::path& out, const std::vector<std::string>& source,
                    const std::string& what)
{
    tessan::CIngestJob job;
    if (!job.Parse(jobText)) {
        Check(false, what + ": " + job.Error());
        return;
    }
    tessan::CIngestTransfer transfer(std::move(job), out.string());
    transfer.SetPlugin(KORVO_RECALO_LIBRARY);
    const tessan::TransferResult result = transfer.Run();
    Check(result.complete && result.code == 14 && result.frames == kFrames,
          what + ": " + std::to_string(result.frames) + " frames, code " + std::to_string(result.code) + " (" +
              result.pluginText + result.hostText + ")");
    Check(!source.empty() && FrameMd5(out / "video.m2v") == source,
          what + ": every picture equals the source (ffmpeg framemd5)");
}

int main(int argc, char** argv)
{
    fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "korvo-main-job";
    fs::remove_all(work);
    fs::create_directories(work);
    // The job's registry, logs and locks stay in its folder.
    for (const char* sub : {"registry", "drives", "run"})
        fs::create_directories(work / sub);
    setenv("KORVO_REGISTRY_ROOT", (work / "registry").c_str(), 1);
    setenv("KORVO_DRIVE_ROOT", (work / "drives").c_str(), 1);
    setenv("KORVO_RUNTIME_DIR", (work / "run").c_str(), 1);

    std::printf("main job: work folder %s\n", work.c_str());
    theLogManager.OpenLog((work / "mainjob.log").string(), 16u << 20, "");

    std::printf("1. ffmpeg makes %u frames of IMX 50 (intra 4:2:2 MPEG-2, 720x608, 25 fps)\n", kFrames);
    fs::path es = work / "source.m2v";
    if (!MakeClipWithFfmpeg(es)) {
        std::printf("  FAILED ffmpeg could not make the clip\n");
        return 1;
    }
    std::vector<Bytes> pictures = SplitPictures(ReadAll(es));
    Check(pictures.size() == kFrames, std::to_string(pictures.size()) + " pictures in the elementary stream");
    bool cbr = true;
    for (const Bytes& p : pictures)
        cbr = cbr && p.size() <= kImx50FrameSize;
    Check(cbr, "every picture fits the IMX 50 frame size");

    std::printf("2. the clip-file writer writes it as a Parvex clip file (2 MB BAVD blocks)\n");
    MXFIdType2 id;
    id.SetSerial(4242);
    id.SetSeconds(600000000);
    id.SetCounter(1);
    char material[9];
    id.Format(material);
    std::string clipPath = (work / "MAINJOB.MXF").string();
    Check(WriteParvexClip(clipPath, pictures, material), "written " + clipPath);

    std::printf("3. the clip-file reader reads it back; detection and the reader factory read it again\n");
    CMXF_Parvex_FileReader reader("");
    CMXF_Parvex_ClipInfo info;
    int indexed = 0;
    bool opened = reader.Open(clipPath) == 0 && reader.GetHeaderData(&info, 1, &indexed) == 0 && indexed == 1;
    reader.Close();
    Check(opened, "header, clip information and block index read");
    Check(info._szMaterialId == material, std::string("material id ") + material);
    Check(info._nIn == kFirstField && info._nOut == kFirstField + 2 * kFrames,
          "in and out points " + std::to_string(info._nIn) + " to " + std::to_string(info._nOut));
    Check(info._nBitrate == 50 && info._nBlockSize == kBlockSize, "50 Mb/s in 2 MB blocks");

    platform::File file;
    file.Open(clipPath, platform::File::Access::Read, platform::File::Disposition::OpenExisting);
    std::vector<Bytes> blocks;
    uint32_t fieldsInFile = 0;
    bool everyPicture = true;
    for (uint32_t n = 0; n < info.GetBlockCount(); ++n) {
        uint32_t blockFirst = 0;
        uint64_t pos = 0;
        Bytes block(kBlockSize);
        if (info.GetBlockInfo(n, &blockFirst, &pos) != 0 ||
            file.ReadAt(block.data(), block.size(), pos) != static_cast<int64_t>(block.size())) {
            everyPicture = false;
            break;
        }
        everyPicture = BlockHoldsPictures(block.data(), pictures, &fieldsInFile) && everyPicture;
        blocks.push_back(std::move(block));
    }
    bool indexFinds = true;
    for (uint32_t field = kFirstField; field < kFirstField + 2 * kFrames; ++field) {
        int32_t block = -1;
        uint32_t blockFirst = 0;
        info.GetBlockFromField(field, &block, &blockFirst);
        indexFinds = indexFinds && block >= 0 && blockFirst <= field;
    }
    Check(everyPicture && fieldsInFile == 2 * kFrames, std::to_string(blocks.size()) + " blocks, " +
                                                           std::to_string(fieldsInFile) +
                                                           " fields equal to what was written");
    Check(indexFinds, "the block index finds the block of every field");

    int32_t videoType = 0;
    FileType type = GetFileTypeFromSource(clipPath.c_str(), &videoType);
    Check(type == KorvoIMX_File && videoType == IMX50_Video, "detected as " + TypeText(type, videoType));
    uint32_t picturesFromFile = 0;
    std::unique_ptr<CDataReader> fileReader = CreateDataReader(clipPath.c_str(), Unknown_File, Video_Data);
    bool fileReadOk = fileReader && ReadsThePictures(*fileReader, pictures, &picturesFromFile);
    Check(fileReadOk,
          "the factory's video reader gives " + std::to_string(picturesFromFile) + " pictures equal to the source");
    fileReader.reset();

    std::printf("4. the video server simulator serves the clip; the factory's server clip reader reads it over FTP\n");
    // The server announces the size of the blocks it serves.
    rixsim::RixSimConfig serverConfig;
    serverConfig._vWelcome = rixsim::RixSimWelcome(rixsim::RixSimWelcomeStyle::Block2);
    rixsim::CRixSimServer server(serverConfig);
    std::string clipName = "000110A_mainjob.CLP";
    server.Store().AddClip(
        "/clips/" + clipName, blocks, kBlockSize,
        rixsim::CRixClipTable::ForClip(clipName, kFirstField, kFirstField + 2 * kFrames).Set("VIDEOFORMAT", 4).ToXml());
    bool started = server.Start();
    Check(started, "simulator on port " + std::to_string(server.FtpPort()));
    uint32_t picturesFromServer = 0;
    bool samePictures = started;
    if (started) {
        std::string url = "ftp://127.0.0.1:" + std::to_string(server.FtpPort()) + "/clips/" + clipName;
        int32_t serverVideoType = 0;
        FileType serverType = GetFileTypeFromSource(url.c_str(), &serverVideoType);
        Check(serverType == Rix_Ftp, "the server clip's name is detected as " + TypeText(serverType, serverVideoType));
        // The factory hands a server clip over FTP back unopened: the caller names the clip and initialises it.
        std::unique_ptr<CDataReader> serverReader = CreateDataReader(url.c_str(), serverType, Video_Data);
        auto* ftpReader = dynamic_cast<CRixFTPDataReader*>(serverReader.get());
        samePictures = ftpReader != nullptr;
        if (ftpReader) {
            ftpReader->AttachSourceReader(std::make_unique<UrlSource>(url), 0);
            int32_t rc = ftpReader->Initialize("");
            if (rc != 0)
                std::printf("  Initialize: %d\n", rc);
            samePictures = rc == 0 && ReadsThePictures(*ftpReader, pictures, &picturesFromServer);
            ftpReader->Close();
        }
        serverReader.reset();
        if (getenv("KORVO_MAIN_JOB_JOURNAL"))
            for (const auto& e : server.Journal())
                std::printf("  journal %s %u %s\n", e._szChannel.c_str(), e._nSession, e._szText.c_str());
        server.Stop();
    }
    Check(samePictures && picturesFromServer == kFrames,
          std::to_string(picturesFromServer) + " pictures read from the server, equal to what was written");

    std::printf(
        "5. the receiver plug-in libRecalo.so ingests the clip through the transfer service: from the clip\n"
        "   file, and from the simulator in 8 MB blocks over FTP\n");
    const std::vector<std::string> sourceHashes = FrameMd5(es);
    IngestAndCheck(IngestJob("Korvo", work.string(), "MAINJOB.MXF", "", 2), work / "ingest-file", sourceHashes,
                   "from the clip file");
    const std::string clip8 = (work / "MAINJOB8.MXF").string();
    Check(WriteParvexClip(clip8, pictures, material, KORVOMXF_FORMAT_BAVD_8MB), "written " + clip8 + " (8 MB blocks)");
    {
        const Bytes file = ReadAll(clip8);
        std::vector<rixsim::RixSimBytes> blocks8;
        for (size_t at = kBlockSize; at + 0x800000 <= file.size(); at += 0x800000)
            blocks8.emplace_back(file.begin() + static_cast<ptrdiff_t>(at),
                                 file.begin() + static_cast<ptrdiff_t>(at + 0x800000));
        rixsim::CRixSimServer server8{rixsim::RixSimConfig()};
        server8.Store().AddClip("/clips/000111A_mainjob.CLP", blocks8, 0x800000);
        if (server8.Start())
            IngestAndCheck(IngestJob("RixFTP", "/clips/", "000111A_mainjob.CLP",
                                     "127.0.0.1:" + std::to_string(server8.FtpPort()), 8),
                           work / "ingest-server", sourceHashes, "from the simulator");
        else
            Check(false, "simulator for the 8 MB clip");
        server8.Stop();
    }

    std::printf("main job: %s\n", g_failures ? "FAILED" : "every check passed");
    return g_failures ? 1 : 0;
}
