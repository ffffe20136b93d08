#pragma once

#include <string>

namespace MirelQla
{

// The editing system's names of media compressions, as compositions carry them.
extern const std::string kCompressionDvcpro25;
extern const std::string kCompressionDv;
extern const std::string kCompressionDvcpro50;
extern const std::string kCompressionMpeg2;
extern const std::string kCompressionMpeg2At50;
extern const std::string kCompressionMpeg2At40;
extern const std::string kCompressionMpeg2At30;
extern const std::string kCompressionUncompressed;
extern const std::string kCompressionJfifTolbane;
extern const std::string kCompressionJpegQrtx;
extern const std::string kCompressionJpegTiff;
extern const std::string kCompressionWaveUncompressed;
extern const std::string kCompressionAifcUncompressed;
extern const std::string kCompressionPcmUncompressed;
extern const std::string kCompressionUnknown;
extern const std::string kCompressionGraphic;

// The name a caller of the automation API chooses by index (0 to 12); "" for any other index.
std::string CompressionTypeName(int index);

}  // namespace MirelQla
