// The Parvex clip-file roads: ffmpeg makes a short IMX 50 clip, the clip-file writer writes it as a Parvex
// clip file, the clip-file reader and the data reader factory read it back; then the video server simulator
// serves its blocks and the factory's server clip reader reads them back over FTP.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "outside/rix/CRixClipTable.h"
#include "outside/rix/CRixSimServer.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "parvex/MXFId.h"
#include "platform/File.h"
#include "reading/factory/DataReaderFactory.h"
#include "reading/factory/FileTypeDetection.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "reading/rix/CRixFTPDataReader.h"
#include "reading/source/CSourceReader.h"
#include "serverblock/CBlockData.h"
#include "tools/mainjob/Road.h"
#include "writers/parvex/KorvoMXFWriter.h"

namespace mainjob
{
namespace
{

namespace fs = std::filesystem;

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

bool WriteParvexClip(const std::string& path, const std::vector<Bytes>& pictures, const std::string& material)
{
    KorvoMXFInfo info;
    info._nStandard = 3;     // 25 frames interlaced
    info._nVideoSystem = 2;  // 625 lines
    info._nAspectRatio = 2;  // 4:3
    info._nVideoFormat = 4;  // IMX
    info._nBitrate = 50;
    info._nAudioGroups = 1;  // 4 channels
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
    if (writer.Open(path.c_str(), KORVOMXF_OPEN_CREATE, KORVOMXF_FORMAT_BAVD_2MB) != KORVOMXF_OK ||
        writer.SetInfo(info) != KORVOMXF_OK || writer.SetFirstField(kFirstField) != KORVOMXF_OK)
        return false;
    for (uint32_t n = 0; n < pictures.size(); ++n) {
        const Bytes& picture = pictures[n];
        KorvoMXFVideoInfo video;
        video._nVideoFormat = 4;
        video._nSize = static_cast<uint32_t>(picture.size());
        video._nWidth = 720;
        video._nLines = 608;
        // Each field's sound as the servers keep it: per channel a byte, the count, 24-bit big-endian samples.
        constexpr uint32_t kChunk = 2944;
        Bytes sound(2 * kTracks * kChunk, 0);
        KorvoMXFAudioInfo audio[2];
        for (uint32_t field = 0; field < 2; ++field) {
            audio[field] = KorvoMXFAudioInfo{1, kTracks * kChunk, kTracks};
            for (uint32_t c = 0; c < kTracks; ++c) {
                uint8_t* p = sound.data() + (field * kTracks + c) * kChunk;
                p[0] = static_cast<uint8_t>(0xA0 + c);
                p[1] = static_cast<uint8_t>(kSamplesPerField >> 8);
                p[2] = static_cast<uint8_t>(kSamplesPerField & 0xFF);
                for (uint32_t i = 0; i < kSamplesPerField; ++i) {
                    const uint32_t v = TrackSample(c + 1, (2 * n + field) * uint64_t{kSamplesPerField} + i);
                    p[3 + 3 * i] = static_cast<uint8_t>(v >> 16);
                    p[4 + 3 * i] = static_cast<uint8_t>(v >> 8);
                    p[5 + 3 * i] = static_cast<uint8_t>(v);
                }
            }
        }
        KorvoMXFResult rc = writer.AddPicture(1, &video, picture.data(), 2, audio, sound.data(), 0, nullptr, nullptr);
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
bool ReadsThePictures(CDataReader& reader, const std::vector<Bytes>& pictures, uint32_t* count, uint64_t* bytes)
{
    Bytes buffer(kImx50FrameSize * 2);
    *count = 0;
    for (;;) {
        uint8_t* data = buffer.data();
        uint32_t size = 0;
        int32_t rc = reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr);
        if (rc != 0) {
            if (*count != pictures.size())
                std::printf("  the reader ends after %u pictures (result %d)\n", *count, rc);
            return *count == pictures.size();
        }
        if (*count >= pictures.size() || size < pictures[*count].size() ||
            std::memcmp(data, pictures[*count].data(), pictures[*count].size()) != 0)
            return false;
        ++*count;
        *bytes += size;
    }
}

std::string TypeText(FileType type, int32_t videoType)
{
    return std::string(FileTypeName(type)) + " (" + std::to_string(type) + "), video type " + VideoTypeName(videoType) +
           " (" + std::to_string(videoType) + ")";
}

}  // namespace

uint32_t TrackSample(uint32_t track, uint64_t position)
{
    return static_cast<uint32_t>((position * 40503u + track * 2654435761u) >> 4) & 0xFFFFFF;
}

void ParvexFileRoad(Road& road, Media& media)
{
    if (!HaveProgram("ffmpeg")) {
        media.sourceMissing = "ffmpeg not installed: no source clip (Debian package ffmpeg)";
        road.Skip(media.sourceMissing);
        return;
    }
    fs::path es = media.work / "source.m2v";
    if (!road.Check(MakeClipWithFfmpeg(es), "ffmpeg makes " + std::to_string(kFrames) + " frames of IMX 50"))
        return;
    media.imxPictures = SplitPictures(ReadAll(es));
    const std::vector<Bytes>& pictures = media.imxPictures;
    road.Check(pictures.size() == kFrames, std::to_string(pictures.size()) + " pictures in the elementary stream");
    bool cbr = true;
    for (const Bytes& p : pictures)
        cbr = cbr && p.size() <= kImx50FrameSize;
    road.Check(cbr, "every picture fits the IMX 50 frame size");

    MXFIdType2 id;
    id.SetSerial(4242);
    id.SetSeconds(600000000);
    id.SetCounter(1);
    char material[9];
    id.Format(material);
    media.material = material;
    media.parvexPath = (media.work / "MAINJOB.MXF").string();
    const std::string& clipPath = media.parvexPath;
    road.StartClock();
    bool written = WriteParvexClip(clipPath, pictures, material);
    road.StopClock();
    road.Check(written, "the clip-file writer writes " + clipPath + " in 2 MB blocks, with 4 sound tracks");

    road.StartClock();
    CMXF_Parvex_FileReader reader("");
    CMXF_Parvex_ClipInfo info;
    int indexed = 0;
    bool opened = reader.Open(clipPath) == 0 && reader.GetHeaderData(&info, 1, &indexed) == 0 && indexed == 1;
    reader.Close();
    road.Check(opened, "header, clip information and block index read");
    road.Check(info._szMaterialId == material, std::string("material id ") + material);
    road.Check(info._nIn == kFirstField && info._nOut == kFirstField + 2 * kFrames,
               "in and out points " + std::to_string(info._nIn) + " to " + std::to_string(info._nOut));
    road.Check(info._nBitrate == 50 && info._nBlockSize == kBlockSize, "50 Mb/s in 2 MB blocks");

    platform::File file;
    file.Open(clipPath, platform::File::Access::Read, platform::File::Disposition::OpenExisting);
    uint32_t fieldsInFile = 0;
    bool everyPicture = true;
    media.parvexBlocks.clear();
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
        media.parvexBlocks.push_back(std::move(block));
    }
    bool indexFinds = true;
    for (uint32_t field = kFirstField; field < kFirstField + 2 * kFrames; ++field) {
        int32_t block = -1;
        uint32_t blockFirst = 0;
        info.GetBlockFromField(field, &block, &blockFirst);
        indexFinds = indexFinds && block >= 0 && blockFirst <= field;
    }
    road.Check(everyPicture && fieldsInFile == 2 * kFrames, std::to_string(media.parvexBlocks.size()) + " blocks, " +
                                                                std::to_string(fieldsInFile) +
                                                                " fields equal to what was written");
    road.Check(indexFinds, "the block index finds the block of every field");

    int32_t videoType = 0;
    FileType type = GetFileTypeFromSource(clipPath.c_str(), &videoType);
    road.Check(type == KorvoIMX_File && videoType == IMX50_Video, "detected as " + TypeText(type, videoType));
    uint32_t picturesFromFile = 0;
    uint64_t bytes = 0;
    std::unique_ptr<CDataReader> fileReader = CreateDataReader(clipPath.c_str(), Unknown_File, Video_Data);
    bool fileReadOk = fileReader && ReadsThePictures(*fileReader, pictures, &picturesFromFile, &bytes);
    fileReader.reset();
    road.StopClock();
    road.Check(fileReadOk, "the factory's video reader gives " + std::to_string(picturesFromFile) +
                               " pictures equal to the source");
    road.Moved(picturesFromFile, bytes);
}

void SimulatorRoad(Road& road, Media& media)
{
    if (!HaveInput(road, media, !media.parvexBlocks.empty(), "no clip file to serve (the clip-file road failed)"))
        return;
    // The server announces the size of the blocks it serves.
    rixsim::RixSimConfig serverConfig;
    serverConfig._vWelcome = rixsim::RixSimWelcome(rixsim::RixSimWelcomeStyle::Block2);
    rixsim::CRixSimServer server(serverConfig);
    std::string clipName = "000110A_mainjob.CLP";
    server.Store().AddClip(
        "/clips/" + clipName, media.parvexBlocks, kBlockSize,
        rixsim::CRixClipTable::ForClip(clipName, kFirstField, kFirstField + 2 * kFrames).Set("VIDEOFORMAT", 4).ToXml());
    const bool started = server.Start();
    if (!road.Check(started, "simulator on port " + std::to_string(server.FtpPort())))
        return;
    road.StartClock();
    std::string url = "ftp://127.0.0.1:" + std::to_string(server.FtpPort()) + "/clips/" + clipName;
    int32_t serverVideoType = 0;
    FileType serverType = GetFileTypeFromSource(url.c_str(), &serverVideoType);
    road.Check(serverType == Rix_Ftp, "the server clip's name is detected as " + TypeText(serverType, serverVideoType));
    // The factory hands a server clip over FTP back unopened: the caller names the clip and initialises it.
    std::unique_ptr<CDataReader> serverReader = CreateDataReader(url.c_str(), serverType, Video_Data);
    auto* ftpReader = dynamic_cast<CRixFTPDataReader*>(serverReader.get());
    uint32_t picturesFromServer = 0;
    uint64_t bytes = 0;
    bool samePictures = ftpReader != nullptr;
    if (ftpReader) {
        ftpReader->AttachSourceReader(std::make_unique<UrlSource>(url), 0);
        int32_t rc = ftpReader->Initialize("");
        if (rc != 0)
            std::printf("  Initialize: %d\n", rc);
        samePictures = rc == 0 && ReadsThePictures(*ftpReader, media.imxPictures, &picturesFromServer, &bytes);
        ftpReader->Close();
    }
    serverReader.reset();
    road.StopClock();
    if (getenv("KORVO_MAIN_JOB_JOURNAL"))
        for (const auto& e : server.Journal())
            std::printf("  journal %s %u %s\n", e._szChannel.c_str(), e._nSession, e._szText.c_str());
    server.Stop();
    road.Check(
        samePictures && picturesFromServer == kFrames,
        std::to_string(picturesFromServer) + " pictures read from the server over FTP, equal to what was written");
    road.Moved(picturesFromServer, bytes);
}

}  // namespace mainjob
