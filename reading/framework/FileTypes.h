#pragma once

#include <cstdint>

// The container of a clip and its flavour: which reader family can read it.
enum FileType : int32_t {
    Unknown_File = 0,
    WAVE_File = 1,
    TS_File = 2,
    TS204_File = 3,
    PSMPEG1_File = 4,
    PSMPEG2_File = 5,
    ESVideo_File = 6,
    ESAudio_File = 7,
    ESAC3_File = 8,
    PESVideo_File = 9,
    PESAudio_File = 10,
    MJPEG_File = 11,
    IMX_File = 12,
    P2_File = 13,
    P2Video_File = 14,
    P2Audio_File = 15,
    RawDV_File = 16,
    SDI_File = 17,
    IMXProxy_File = 18,
    P2Proxy_File = 19,
    SonyDV_File = 20,
    MXFDVFrame_File = 21,
    AVIUnknown_File = 22,
    AVIDV_File = 23,
    QTUnknown_File = 24,
    QTDV_File = 25,
    QTJPG_File = 26,
    MXFMPEGES_File = 27,
    MXFMPEGAudioES_File = 28,
    HDXDCAM_File = 29,
    QTIMX_File = 30,
    KorvoIMX_File = 31,
    AVIIMX_File = 32,
    QTDVHD_File = 33,
    HydrelVideo_File = 34,
    KorvoHydrel_File = 35,
    QTHydrel_File = 36,
    Rix_Link = 37,
    Rix_XmlLink = 38,
    KorvoMPEGfield_File = 39,
    AVIMatroxHD_File = 40,
    Rix_Ftp = 41,
    QTProRes_File = 42,
    KorvoProRes_File = 43,
    Rix_FtpLink = 44,
    OPAtom_File = 45,
    OPAtomAudio_File = 46,
    OP1ADVCPHD_File = 47,
    AAF_File = 48,
    Korvo_MultiStream = 49,
    KorvoMPEGHD_File = 50,
    KorvoDVCPRO_File = 51,
    QTREFDV_File = 52,
    QTREFIMX_File = 53,
    QTREFDVHD_File = 54,
    QTREFHydrel_File = 55,
    QTREFProRes_File = 56,
};

// The video coding inside a clip.
enum VideoType : int32_t {
    Unknown_Video = 0,
    Mjpeg_Video = 1,
    MjpegFrame_Video = 2,
    DV25_Video = 3,
    DVCPro25_Video = 4,
    DVCPro50_Video = 5,
    IMX30_Video = 6,
    IMX40_Video = 7,
    IMX50_Video = 8,
    Mjpeg4_Video = 9,
    DVCPro100_Video = 10,
    DVCPro720P_Video = 11,
    MP4ART_Video = 12,
    HDV_Video = 13,
    Hydrel_Video = 14,
    HydrelHigh_Video = 15,
    MPEG2_Video = 16,
    MPEGField_Video = 17,
    MPEGFrame_Video = 18,
    ProRes_Video = 19,
    ProResHigh_Video = 20,
    MjpegLowRes_Video = 21,
    AVC_I_720P_Video = 22,
    AVC_I_1080i_Video = 23,
    MPEG1_Video = 24,
};

// What a data reader delivers.
enum DataKind : int32_t {
    Video_Data = 1,
    Audio_Data = 2,
    HydrelPadded_Data = 4,  // video with the Hydrel frame padding
    DVCProFrame_Data = 5,   // video as DVCPRO frames
};

struct TypeName {
    int32_t nId;
    const char* szName;
};

constexpr int32_t kFileTypeCount = 57;
constexpr int32_t kVideoTypeCount = 25;

// Name tables for printing a type; the id is the position.
extern const TypeName theFileTypeNames[kFileTypeCount];
extern const TypeName theVideoTypeNames[kVideoTypeCount];

// The printable name of a type; "?" for an id outside the table.
const char* FileTypeName(int32_t id);
const char* VideoTypeName(int32_t id);

// The types of a clip file whose clip information stores the server video codec code and video format word.
// False when the code leaves the classification to file-type detection (the outs are then left alone).
bool ClipCodecToTypes(int32_t codec, uint32_t videoFormat, FileType* fileType, VideoType* videoType);

// The video type the server and clip-file readers report for a server video codec code: only the codes they read,
// the low-resolution one (7) as MJPEG frames whatever the format word; Unknown_Video for the rest.
VideoType ReaderCodecToVideoType(int32_t codec);

// The standard (1 SD 525, 2 SD 625, 3 HD 720, 4 HD 1080; 17 and 18 for the low-resolution code 7) and the raster
// of a server video format word and codec code.
struct VideoRaster {
    uint32_t nStandard;
    uint32_t nWidth;
    uint32_t nHeight;
};
VideoRaster ServerVideoRaster(uint32_t videoFormat, int32_t codec);

// The IMX rate of MPEG-2 4:2:2 intra frames of a constant size: 30, 40 or 50 Mb/s; Unknown_Video when the size
// or rate is not known.
VideoType ImxVideoTypeOfFrame(uint64_t frameBytes, double framesPerSecond);

// The video type of a link file's server video codec code and video format word; Unknown_Video for codes
// a link cannot name.
VideoType LinkCodecToVideoType(int32_t codec, uint32_t videoFormat);
