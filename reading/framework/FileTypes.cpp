#include "reading/framework/FileTypes.h"

#include <algorithm>

#define KORVO_TYPE_NAME(name) \
    {                         \
        name, #name           \
    }

const TypeName theFileTypeNames[kFileTypeCount] = {
    KORVO_TYPE_NAME(Unknown_File),
    KORVO_TYPE_NAME(WAVE_File),
    KORVO_TYPE_NAME(TS_File),
    KORVO_TYPE_NAME(TS204_File),
    KORVO_TYPE_NAME(PSMPEG1_File),
    KORVO_TYPE_NAME(PSMPEG2_File),
    KORVO_TYPE_NAME(ESVideo_File),
    KORVO_TYPE_NAME(ESAudio_File),
    KORVO_TYPE_NAME(ESAC3_File),
    KORVO_TYPE_NAME(PESVideo_File),
    KORVO_TYPE_NAME(PESAudio_File),
    KORVO_TYPE_NAME(MJPEG_File),
    KORVO_TYPE_NAME(IMX_File),
    KORVO_TYPE_NAME(P2_File),
    KORVO_TYPE_NAME(P2Video_File),
    KORVO_TYPE_NAME(P2Audio_File),
    KORVO_TYPE_NAME(RawDV_File),
    KORVO_TYPE_NAME(SDI_File),
    KORVO_TYPE_NAME(IMXProxy_File),
    KORVO_TYPE_NAME(P2Proxy_File),
    KORVO_TYPE_NAME(SonyDV_File),
    KORVO_TYPE_NAME(MXFDVFrame_File),
    KORVO_TYPE_NAME(AVIUnknown_File),
    KORVO_TYPE_NAME(AVIDV_File),
    KORVO_TYPE_NAME(QTUnknown_File),
    KORVO_TYPE_NAME(QTDV_File),
    KORVO_TYPE_NAME(QTJPG_File),
    KORVO_TYPE_NAME(MXFMPEGES_File),
    KORVO_TYPE_NAME(MXFMPEGAudioES_File),
    KORVO_TYPE_NAME(HDXDCAM_File),
    KORVO_TYPE_NAME(QTIMX_File),
    KORVO_TYPE_NAME(KorvoIMX_File),
    KORVO_TYPE_NAME(AVIIMX_File),
    KORVO_TYPE_NAME(QTDVHD_File),
    KORVO_TYPE_NAME(HydrelVideo_File),
    KORVO_TYPE_NAME(KorvoHydrel_File),
    KORVO_TYPE_NAME(QTHydrel_File),
    KORVO_TYPE_NAME(Rix_Link),
    KORVO_TYPE_NAME(Rix_XmlLink),
    KORVO_TYPE_NAME(KorvoMPEGfield_File),
    KORVO_TYPE_NAME(AVIMatroxHD_File),
    KORVO_TYPE_NAME(Rix_Ftp),
    KORVO_TYPE_NAME(QTProRes_File),
    KORVO_TYPE_NAME(KorvoProRes_File),
    KORVO_TYPE_NAME(Rix_FtpLink),
    KORVO_TYPE_NAME(OPAtom_File),
    KORVO_TYPE_NAME(OPAtomAudio_File),
    KORVO_TYPE_NAME(OP1ADVCPHD_File),
    KORVO_TYPE_NAME(AAF_File),
    KORVO_TYPE_NAME(Korvo_MultiStream),
    KORVO_TYPE_NAME(KorvoMPEGHD_File),
    KORVO_TYPE_NAME(KorvoDVCPRO_File),
    KORVO_TYPE_NAME(QTREFDV_File),
    KORVO_TYPE_NAME(QTREFIMX_File),
    KORVO_TYPE_NAME(QTREFDVHD_File),
    KORVO_TYPE_NAME(QTREFHydrel_File),
    KORVO_TYPE_NAME(QTREFProRes_File),
};

const TypeName theVideoTypeNames[kVideoTypeCount] = {
    KORVO_TYPE_NAME(Unknown_Video),     KORVO_TYPE_NAME(Mjpeg_Video),      KORVO_TYPE_NAME(MjpegFrame_Video),
    KORVO_TYPE_NAME(DV25_Video),        KORVO_TYPE_NAME(DVCPro25_Video),   KORVO_TYPE_NAME(DVCPro50_Video),
    KORVO_TYPE_NAME(IMX30_Video),       KORVO_TYPE_NAME(IMX40_Video),      KORVO_TYPE_NAME(IMX50_Video),
    KORVO_TYPE_NAME(Mjpeg4_Video),      KORVO_TYPE_NAME(DVCPro100_Video),  KORVO_TYPE_NAME(DVCPro720P_Video),
    KORVO_TYPE_NAME(MP4ART_Video),      KORVO_TYPE_NAME(HDV_Video),        KORVO_TYPE_NAME(Hydrel_Video),
    KORVO_TYPE_NAME(HydrelHigh_Video),  KORVO_TYPE_NAME(MPEG2_Video),      KORVO_TYPE_NAME(MPEGField_Video),
    KORVO_TYPE_NAME(MPEGFrame_Video),   KORVO_TYPE_NAME(ProRes_Video),     KORVO_TYPE_NAME(ProResHigh_Video),
    KORVO_TYPE_NAME(MjpegLowRes_Video), KORVO_TYPE_NAME(AVC_I_720P_Video), KORVO_TYPE_NAME(AVC_I_1080i_Video),
    KORVO_TYPE_NAME(MPEG1_Video),
};

#undef KORVO_TYPE_NAME

namespace
{

// Bit 22 of the video format word: progressive (the third byte's bit 6).
constexpr uint32_t kProgressiveBit = 1u << 22;

}  // namespace

const char* FileTypeName(int32_t id)
{
    return id >= 0 && id < kFileTypeCount ? theFileTypeNames[id].szName : "?";
}

const char* VideoTypeName(int32_t id)
{
    return id >= 0 && id < kVideoTypeCount ? theVideoTypeNames[id].szName : "?";
}

bool ClipCodecToTypes(int32_t codec, uint32_t videoFormat, FileType* fileType, VideoType* videoType)
{
    const bool progressive = (videoFormat & kProgressiveBit) != 0;
    FileType file = Unknown_File;
    VideoType video = Unknown_Video;
    switch (codec) {
        case 1:
        case 6:
            file = MJPEG_File;
            video = progressive ? MjpegFrame_Video : Mjpeg_Video;
            break;
        case 7:
            file = MJPEG_File;
            video = MjpegLowRes_Video;
            break;
        case 2:
        case 3:
        case 4:
            file = KorvoIMX_File;
            video = static_cast<VideoType>(IMX30_Video + (codec - 2));
            break;
        case 5:
        case 13:
            file = MJPEG_File;
            video = Mjpeg4_Video;
            break;
        case 8:
            file = KorvoHydrel_File;
            video = Hydrel_Video;
            break;
        case 9:
        case 10:
            file = KorvoHydrel_File;
            video = HydrelHigh_Video;
            break;
        case 11:
        case 12:
            file = KorvoMPEGfield_File;
            video = MPEGField_Video;
            break;
        case 14:
        case 15:
            file = KorvoProRes_File;
            video = codec == 14 ? ProRes_Video : ProResHigh_Video;
            break;
        case 16:
            file = KorvoMPEGHD_File;
            video = MPEGFrame_Video;
            break;
        case 22:
            file = KorvoDVCPRO_File;
            video = DVCPro50_Video;
            break;
        case 23:
            file = KorvoDVCPRO_File;
            video = progressive ? DVCPro720P_Video : DVCPro100_Video;
            break;
        default:
            return false;
    }
    if (fileType)
        *fileType = file;
    if (videoType)
        *videoType = video;
    return true;
}

VideoType LinkCodecToVideoType(int32_t codec, uint32_t videoFormat)
{
    switch (codec) {
        case 16:
            return Unknown_Video;
        case 23:
            return DVCPro100_Video;
        case 7:
            // A link names the low-resolution code as plain MJPEG.
            return (videoFormat & kProgressiveBit) != 0 ? MjpegFrame_Video : Mjpeg_Video;
        default: {
            VideoType video = Unknown_Video;
            ClipCodecToTypes(codec, videoFormat, nullptr, &video);
            return video;
        }
    }
}

VideoType ReaderCodecToVideoType(int32_t codec)
{
    switch (codec) {
        case 7:
            return MjpegFrame_Video;
        case 12:
        case 14:
        case 15:
        case 22:
        case 23:
            return Unknown_Video;
        default: {
            VideoType video = Unknown_Video;
            ClipCodecToTypes(codec, 0, nullptr, &video);
            return video;
        }
    }
}

VideoRaster ServerVideoRaster(uint32_t videoFormat, int32_t codec)
{
    // Bits 28 on: 0 525 lines, 1 625, 2 720p, 3 and above 1080.
    static constexpr VideoRaster kRasters[4] = {{1, 720, 480}, {2, 720, 576}, {3, 1280, 720}, {4, 1920, 1080}};
    VideoRaster raster = kRasters[std::min<uint32_t>(videoFormat >> 28, 3)];
    if (codec == 7)
        raster.nStandard = ((videoFormat >> 24) & 0xF) == 3 ? 18 : 17;
    return raster;
}

VideoType ImxVideoTypeOfFrame(uint64_t frameBytes, double framesPerSecond)
{
    if (frameBytes == 0 || !(framesPerSecond > 0.0))
        return Unknown_Video;
    // Frames are padded to exactly the rate's share (150000, 200000 or 250000 bytes at 25 Hz): the halfway
    // rates between the three keep a little jitter of the writer from changing the answer.
    const double megabits = static_cast<double>(frameBytes) * 8.0 * framesPerSecond / 1.0e6;
    return megabits < 35.0 ? IMX30_Video : megabits < 45.0 ? IMX40_Video : IMX50_Video;
}
