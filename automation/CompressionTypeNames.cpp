#include "automation/CompressionTypeNames.h"

namespace MirelQla
{

const std::string kCompressionDvcpro25 = "Mirel::DVCPRO::25";
const std::string kCompressionDv = "Mirel::DV";
const std::string kCompressionDvcpro50 = "Mirel::DVCPRO::50";
const std::string kCompressionMpeg2 = "Mirel::MPEG2";
const std::string kCompressionMpeg2At50 = "Mirel::MPEG2::50";
const std::string kCompressionMpeg2At40 = "Mirel::MPEG2::40";
const std::string kCompressionMpeg2At30 = "Mirel::MPEG2::30";
const std::string kCompressionUncompressed = "Mirel::Uncompressed";
const std::string kCompressionJfifTolbane = "Mirel::JFIF::Tolbane";
const std::string kCompressionJpegQrtx = "Mirel::JPEG::Qrtx";
const std::string kCompressionJpegTiff = "Mirel::JPEG::TIFF";
const std::string kCompressionWaveUncompressed = "Mirel::WAVE::Uncompressed";
const std::string kCompressionAifcUncompressed = "Mirel::AIFC::Uncompressed";
const std::string kCompressionPcmUncompressed = "Mirel::PCM::Uncompressed";
const std::string kCompressionUnknown = "Mirel::UnknownCompressionType";
const std::string kCompressionGraphic = "Mirel::Graphic";

std::string CompressionTypeName(int index)
{
    // The order of the index callers pass; MPEG2, PCM and Unknown have none.
    const std::string* const kByIndex[] = {
        &kCompressionDvcpro25,  &kCompressionDv,        &kCompressionDvcpro50,         &kCompressionMpeg2At50,
        &kCompressionMpeg2At40, &kCompressionMpeg2At30, &kCompressionUncompressed,     &kCompressionJfifTolbane,
        &kCompressionJpegQrtx,  &kCompressionJpegTiff,  &kCompressionWaveUncompressed, &kCompressionAifcUncompressed,
        &kCompressionGraphic,
    };
    if (index < 0 || index >= static_cast<int>(std::size(kByIndex)))
        return std::string();
    return *kByIndex[index];
}

}  // namespace MirelQla
