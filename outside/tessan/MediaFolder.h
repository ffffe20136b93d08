#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "outside/tessan/CBlockFileReader.h"
#include "outside/tessan/CBlockFileWriter.h"
#include "outside/tessan/WavFile.h"

namespace tessan
{

// The media folder of a transfer: the pictures back to back in one elementary-stream file, one WAV
// per audio track, and "manifest.xml" listing every frame call (track, size, samples, result code)
// and the transfer's result.
constexpr const char* kManifestName = "manifest.xml";
// The composition that plays a complete ingest out again.
constexpr const char* kCompositionName = "composition.xml";

// The pictures' file is written and read in blocks of this size.
constexpr uint32_t kPictureBlockBytes = 8u << 20;

// The picture file's extension for a codec family: "IMX" .m2v, "DVCPro" .dv, "Hydrel" .dnxhd.
std::string PictureExtension(const std::string& dataType);
// The WAV file of an audio track: "audio1.wav" ...
std::string AudioName(int32_t track);

struct ManifestCall {
    int32_t track = 0;
    uint32_t size = 0;
    uint32_t samples = 0;
    int32_t code = 0;
};

// Writes an ingest's media as the receiver hands it over.
class CMediaWriter
{
public:
    CMediaWriter() = default;

    // Makes the folder and removes the records of an earlier ingest in it before the media files are opened.
    bool Open(const std::string& folder, const std::string& dataType);
    // Stores one frame of a track (0 pictures, 1 to 8 audio); false with Error() on a bad frame or a
    // write failure.
    bool Add(int32_t track, const uint8_t* data, uint32_t size, uint32_t samples);
    // One Recv call and its result, for the manifest.
    void Record(const ManifestCall& call) { _calls.push_back(call); }
    // Closes the media files and syncs them to the disk.
    bool CloseMedia();
    // Writes the manifest with the transfer's result, whole or not at all: the record of completeness comes
    // last, after everything it vouches for is on the disk.
    bool WriteManifest(int32_t code, bool complete, int64_t frames, const std::string& text);
    // Both of the above.
    bool Close(int32_t code, bool complete, int64_t frames, const std::string& text);
    const std::string& Error() const { return _strError; }
    const std::string& PictureName() const { return _strPictureName; }
    // The sample width in bits of each audio track written.
    std::map<int32_t, int32_t> AudioBits() const;

private:
    bool Fail(const std::string& reason);

    std::string _strFolder;
    std::string _strPictureName;
    CBlockFileWriter _pictures{kPictureBlockBytes};
    std::map<int32_t, std::unique_ptr<CWavWriter>> _audio;
    std::vector<ManifestCall> _calls;
    std::string _strError;
};

// Reads a media folder for a playout.
class CMediaReader
{
public:
    CMediaReader() = default;

    // Fails unless the manifest records a complete transfer.
    bool Open(const std::string& folder);
    const std::string& Error() const { return _strError; }
    size_t PictureCount() const { return _pictureOffsets.empty() ? 0 : _pictureOffsets.size() - 1; }
    bool Picture(size_t index, std::vector<uint8_t>& bytes);
    // The samples of an audio track, null when the folder has none for it.
    const CWavReader* Audio(int32_t track) const;

private:
    bool Fail(const std::string& reason);

    CBlockFileReader _pictures{kPictureBlockBytes};
    std::vector<uint64_t> _pictureOffsets;
    std::map<int32_t, std::unique_ptr<CWavReader>> _audio;
    std::string _strError;
};

}  // namespace tessan
