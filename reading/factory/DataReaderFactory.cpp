#include "reading/factory/DataReaderFactory.h"

#include "common/CLogManager.h"
#include "reading/factory/FileTypeDetection.h"
#include "reading/formats/CAviFileDataReader.h"
#include "reading/formats/CDVDataReader.h"
#include "reading/formats/CQTDataReader.h"
#include "reading/formats/CQTMpeg4DataReader.h"
#include "reading/formats/CSdiDataReader.h"
#include "reading/formats/CWavDataReader.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/mxf/CMXFIMXProxyReader.h"
#include "reading/mxf/CMXFMPEGAudioESReader.h"
#include "reading/mxf/CMXFOP1aReader.h"
#include "reading/mxf/CMXFOPAtomReader.h"
#include "reading/mxf/CMXFP2Reader.h"
#include "reading/mxf/CMXFXDCAMHDReader.h"
#include "reading/parvex/CMXF_Parvex_AudioDataReader.h"
#include "reading/parvex/CParvexDVCProVideoDataReader.h"
#include "reading/parvex/CParvexHydrelVideoDataReader.h"
#include "reading/parvex/CParvexVideoDataReader.h"
#include "reading/rix/CRixAudioDataReader.h"
#include "reading/rix/CRixDVCProVideoDataReader.h"
#include "reading/rix/CRixFTPDataReader.h"
#include "reading/rix/CRixHydrelVideoDataReader.h"
#include "reading/rix/CRixVideoDataReader.h"

namespace
{

using ReaderPtr = std::unique_ptr<CDataReader>;

// What the table gives for a type and kind: a reader, no reader for this kind, or no row for the type.
struct Choice {
    ReaderPtr pReader;
    bool bHasRow = true;
};

Choice NoRow()
{
    return {nullptr, false};
}

template <typename Reader, typename... Args>
ReaderPtr Make(Args&&... args)
{
    return std::make_unique<Reader>(std::forward<Args>(args)...);
}

Choice ChooseReader(FileType type, DataKind kind, const std::string& log)
{
    const bool video = kind == Video_Data;
    const bool audio = kind == Audio_Data;
    switch (type) {
        case MJPEG_File:
        case KorvoIMX_File:
        case KorvoMPEGfield_File:
        case KorvoProRes_File:
        case KorvoMPEGHD_File:
        case KorvoHydrel_File:
        case KorvoDVCPRO_File:
            // The maker's clip files: pictures as stored (raw) of every channel, unless a framed kind is asked.
            if (audio)
                return {Make<CMXF_Parvex_AudioDataReader>(log)};
            if (type == KorvoHydrel_File && kind == HydrelPadded_Data)
                return {Make<CParvexHydrelVideoDataReader>(log, false, true)};
            if (type == KorvoDVCPRO_File && kind == DVCProFrame_Data)
                return {Make<CParvexDVCProVideoDataReader>(log, false, true)};
            return {Make<CParvexVideoDataReader>(log, true, true)};
        case WAVE_File:
            return {audio ? Make<CWavDataReader>(log) : nullptr};
        case TS_File:
        case TS204_File:
        case PSMPEG1_File:
        case PSMPEG2_File:
        case ESVideo_File:
        case ESAudio_File:
        case ESAC3_File:
        case PESVideo_File:
        case PESAudio_File:
            return {nullptr};
        case IMX_File:
        case SonyDV_File:
        case MXFDVFrame_File:
        case MXFMPEGES_File:
        case OP1ADVCPHD_File:
            if (video)
                return {Make<CMXFOP1aPictureReader>(log)};
            return {audio ? Make<CMXFOP1aSoundReader>(log) : nullptr};
        case P2_File:
        case P2Video_File:
        case HydrelVideo_File:
            return {video ? Make<CMXFP2VideoReader>(log) : nullptr};
        case P2Audio_File:
            return {audio ? Make<CMXFP2AudioReader>(log) : nullptr};
        case RawDV_File:
            if (video)
                return {Make<CDVVideoDataReader>(log)};
            return {audio ? Make<CDVAudioDataReader>(log) : nullptr};
        case SDI_File:
            if (video)
                return {Make<CSdiVideoDataReader>(log)};
            return {audio ? Make<CSdiAudioDataReader>(log) : nullptr};
        case IMXProxy_File:
            if (video)
                return {Make<CMXFIMXProxyVideoReader>(log)};
            return {audio ? Make<CMXFIMXProxyAudioReader>(log) : nullptr};
        case P2Proxy_File:
            if (video)
                return {Make<CQTMpeg4VideoDataReader>(log)};
            return {audio ? Make<CQTMpeg4AudioDataReader>(log) : nullptr};
        case AVIDV_File:
        case AVIIMX_File:
        case AVIMatroxHD_File:
            return {Make<CAviFileDataReader>(kind, log)};
        case QTDV_File:
        case QTJPG_File:
        case QTIMX_File:
        case QTDVHD_File:
        case QTHydrel_File:
        case QTProRes_File:
            return {Make<CQTDataReader>(kind, log)};
        case MXFMPEGAudioES_File:
            return {audio ? Make<CMXFMPEGAudioESReader>(log) : nullptr};
        case HDXDCAM_File:
            if (audio)
                return {Make<CMXFXDCAMHDAudioReader>(log)};
            return {Make<CMXFXDCAMHDVideoReader>(log)};
        case OPAtom_File:
        case OPAtomAudio_File: {
            if (audio) {
                // The audio reader tells a picture file from its sound files by their detected type.
                auto detect = [log](const char* name) { return GetFileTypeFromSource(name, nullptr, log); };
                return {Make<CMXFOPAtomAudioReader>(log, detect)};
            }
            return {video && type == OPAtom_File ? Make<CMXFOPAtomVideoReader>(log) : nullptr};
        }
        default:
            return NoRow();
    }
}

}  // namespace

std::unique_ptr<CDataReader> CreateDataReader(const char* source, FileType type, DataKind kind,
                                              const std::string& logName)
{
    if (type == Unknown_File) {
        type = GetFileTypeFromSource(source, nullptr, logName);
        if (type == Unknown_File) {
            theLogManager.LogTo(logName, "KorvoDataReader - FAILED to create DataReader - UNKNOWN FileType");
            return nullptr;
        }
    }
    if (type == Rix_Link || type == Rix_XmlLink) {
        const std::string name = source ? source : "";
        std::unique_ptr<CRixDataReader> reader;
        if (kind == Audio_Data) {
            reader = std::make_unique<CRixAudioDataReader>(name, type, logName);
        } else if (kind == HydrelPadded_Data) {
            reader = std::make_unique<CRixHydrelVideoDataReader>(name, type, logName);
        } else if (kind == DVCProFrame_Data) {
            reader = std::make_unique<CRixDVCProVideoDataReader>(name, type, logName);
        } else {
            reader = std::make_unique<CRixVideoDataReader>(name, type, logName);
        }
        if (reader->Open(1) != 0)
            return nullptr;
        return reader;
    }
    if (type == Rix_Ftp) {
        if (kind != Video_Data)
            return nullptr;
        return std::make_unique<CRixFTPDataReader>(logName);
    }
    std::unique_ptr<CSourceReader> reader = CreateSourceReader(source, 0, 0, logName);
    if (!reader)
        return nullptr;
    Choice choice = ChooseReader(type, kind, logName);
    if (!choice.bHasRow) {
        theLogManager.LogTo(logName, "KorvoDataReader - FAILED to create DataReader - UNSUPORTED FileType");
        return nullptr;
    }
    if (!choice.pReader) {
        theLogManager.LogTo(logName, "KorvoDataReader - FAILED to Allocate DataReader");
        return nullptr;
    }
    if (choice.pReader->AttachSourceReader(std::move(reader), 1) != 0)
        return nullptr;
    return std::move(choice.pReader);
}
