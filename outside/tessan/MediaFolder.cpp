#include "outside/tessan/MediaFolder.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "outside/tessan/DurableFile.h"
#include "platform/File.h"

namespace tessan
{

namespace
{

constexpr const char* kPictureBase = "video";
constexpr int32_t kMaxAudioTrack = 8;
// Bytes of one picture or one audio frame that the folder accepts.
constexpr uint32_t kMaxFrameBytes = 64u << 20;

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

const xmlChar* X(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

void SetProp(xmlNodePtr node, const char* name, const std::string& value)
{
    xmlNewProp(node, X(name), X(value.c_str()));
}

bool Prop(xmlNodePtr node, const char* name, int64_t& value)
{
    xmlChar* text = xmlGetProp(node, X(name));
    if (!text)
        return false;
    const char* begin = reinterpret_cast<const char*>(text);
    const char* end = begin + std::strlen(begin);
    auto [ptr, ec] = std::from_chars(begin, end, value);
    bool ok = begin != end && ec == std::errc() && ptr == end;
    xmlFree(text);
    return ok;
}

std::string Prop(xmlNodePtr node, const char* name)
{
    xmlChar* text = xmlGetProp(node, X(name));
    std::string value = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return value;
}

bool IsElement(xmlNodePtr node, const char* name)
{
    return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// A file name from the manifest stays inside the folder.
bool IsPlainName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

}  // namespace

std::string AudioName(int32_t track)
{
    return "audio" + std::to_string(track) + ".wav";
}

std::string PictureExtension(const std::string& dataType)
{
    auto is = [&dataType](const char* name) {
        return dataType.size() == std::strlen(name) &&
               std::equal(dataType.begin(), dataType.end(), name,
                          [](char a, char b) { return std::tolower(a) == std::tolower(b); });
    };
    if (is("DVCPro"))
        return ".dv";
    if (is("Hydrel"))
        return ".dnxhd";
    return ".m2v";
}

// ---- writing

bool CMediaWriter::Fail(const std::string& reason)
{
    if (_strError.empty())
        _strError = reason;
    return false;
}

bool CMediaWriter::Open(const std::string& folder, const std::string& dataType)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return Fail("cannot make the folder " + folder + ": " + ec.message());
    // An earlier ingest in the folder loses its records before any of its media is touched: killed from here
    // on, the folder claims nothing over media being replaced. The manifest goes first, as it holds the claim.
    for (const char* record : {kManifestName, kCompositionName}) {
        const std::filesystem::path path = std::filesystem::path(folder) / record;
        std::filesystem::remove(path, ec);
        if (ec)
            return Fail("cannot remove the earlier " + path.string() + ": " + ec.message());
    }
    if (!platform::File::SyncFolder(folder))
        return Fail("cannot sync the folder " + folder + ": " + platform::ErrorText(errno));
    _strFolder = folder;
    _strPictureName = kPictureBase + PictureExtension(dataType);
    std::string path = (std::filesystem::path(folder) / _strPictureName).string();
    if (!_pictures.Open(path))
        return Fail("cannot write " + path + ": " + _pictures.ErrorText());
    return true;
}

bool CMediaWriter::Add(int32_t track, const uint8_t* data, uint32_t size, uint32_t samples)
{
    if (!data || size == 0 || size > kMaxFrameBytes)
        return Fail("track " + std::to_string(track) + ": a frame of " + std::to_string(size) + " bytes");
    if (track == 0) {
        if (!_pictures.Append(data, size))
            return Fail("cannot write the pictures: " + _pictures.ErrorText());
        return true;
    }
    if (track < 1 || track > kMaxAudioTrack)
        return Fail("a frame of track " + std::to_string(track));
    // The sample width is what the receiver delivers: the bytes per sample.
    if (samples == 0 || size % samples != 0 || (size / samples != 2 && size / samples != 3))
        return Fail("track " + std::to_string(track) + ": " + std::to_string(size) + " bytes for " +
                    std::to_string(samples) + " samples are not 16- or 24-bit samples");
    int32_t bits = static_cast<int32_t>(size / samples * 8);
    auto& wav = _audio[track];
    if (!wav) {
        wav = std::make_unique<CWavWriter>();
        std::string path = (std::filesystem::path(_strFolder) / AudioName(track)).string();
        if (!wav->Open(path, bits))
            return Fail("cannot write " + path + ": " + std::strerror(errno));
    } else if (wav->Bits() != bits) {
        return Fail("track " + std::to_string(track) + " changes from " + std::to_string(wav->Bits()) + " to " +
                    std::to_string(bits) + "-bit samples");
    }
    if (!wav->Append(data, size))
        return Fail("cannot write the samples of track " + std::to_string(track) + ": " + std::strerror(errno));
    return true;
}

std::map<int32_t, int32_t> CMediaWriter::AudioBits() const
{
    std::map<int32_t, int32_t> bits;
    for (const auto& [track, wav] : _audio)
        bits[track] = wav->Bits();
    return bits;
}

bool CMediaWriter::Close(int32_t code, bool complete, int64_t frames, const std::string& text)
{
    const bool closed = CloseMedia();
    return WriteManifest(code, complete && closed, frames, text) && closed;
}

bool CMediaWriter::CloseMedia()
{
    bool ok = true;
    if (_pictures.IsOpen() && !_pictures.Close())
        ok = Fail("cannot write the pictures: " + _pictures.ErrorText());
    for (auto& [track, wav] : _audio)
        if (!wav->Close())
            ok = Fail("cannot write " + AudioName(track) + ": " + std::strerror(errno));
    std::string error;
    if (ok && !_strPictureName.empty() &&
        !SyncFile((std::filesystem::path(_strFolder) / _strPictureName).string(), error))
        ok = Fail(error);
    for (auto& [track, wav] : _audio)
        if (ok && !SyncFile((std::filesystem::path(_strFolder) / AudioName(track)).string(), error))
            ok = Fail(error);
    return ok;
}

bool CMediaWriter::WriteManifest(int32_t code, bool complete, int64_t frames, const std::string& text)
{
    bool ok = true;

    std::unique_ptr<xmlDoc, DocFree> doc(xmlNewDoc(X("1.0")));
    xmlNodePtr root = xmlNewNode(nullptr, X("tessanmedia"));
    xmlDocSetRootElement(doc.get(), root);
    xmlNodePtr video = xmlNewChild(root, nullptr, X("video"), nullptr);
    SetProp(video, "track", "0");
    SetProp(video, "file", _strPictureName);
    for (auto& [track, wav] : _audio) {
        xmlNodePtr audio = xmlNewChild(root, nullptr, X("audio"), nullptr);
        SetProp(audio, "track", std::to_string(track));
        SetProp(audio, "file", AudioName(track));
        SetProp(audio, "bits", std::to_string(wav->Bits()));
    }
    for (const ManifestCall& call : _calls) {
        xmlNodePtr node = xmlNewChild(root, nullptr, X("call"), nullptr);
        SetProp(node, "track", std::to_string(call.track));
        SetProp(node, "size", std::to_string(call.size));
        SetProp(node, "samples", std::to_string(call.samples));
        SetProp(node, "code", std::to_string(call.code));
    }
    xmlNodePtr result = xmlNewTextChild(root, nullptr, X("result"), X(text.c_str()));
    SetProp(result, "code", std::to_string(code));
    SetProp(result, "complete", complete ? "1" : "0");
    SetProp(result, "frames", std::to_string(frames));
    std::string path = (std::filesystem::path(_strFolder) / kManifestName).string();
    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc.get(), &bytes, &size, "UTF-8", 1);
    std::string error;
    if (!bytes)
        ok = Fail("cannot write " + path);
    else if (!WriteFileDurably(path, std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size)),
                               error))
        ok = Fail(error);
    xmlFree(bytes);
    return ok;
}

// ---- reading

bool CMediaReader::Fail(const std::string& reason)
{
    _strError = reason;
    return false;
}

bool CMediaReader::Open(const std::string& folder)
{
    std::filesystem::path dir(folder);
    std::string manifest = (dir / kManifestName).string();
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadFile(manifest.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc)
        return Fail("cannot read the manifest " + manifest);
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    if (!root || !IsElement(root, "tessanmedia"))
        return Fail(manifest + " is not a media manifest");
    std::string pictureName;
    uint64_t offset = 0;
    bool complete = false;
    _pictureOffsets.assign(1, 0);
    for (xmlNodePtr node = root->children; node; node = node->next) {
        int64_t track = 0, size = 0, code = 0;
        if (IsElement(node, "video")) {
            pictureName = Prop(node, "file");
        } else if (IsElement(node, "audio")) {
            std::string name = Prop(node, "file");
            if (!Prop(node, "track", track) || track < 1 || track > kMaxAudioTrack || !IsPlainName(name))
                return Fail(manifest + ": a bad <audio> entry");
            auto wav = std::make_unique<CWavReader>();
            if (!wav->Load((dir / name).string()))
                return Fail(wav->Error());
            _audio[static_cast<int32_t>(track)] = std::move(wav);
        } else if (IsElement(node, "result")) {
            complete = Prop(node, "complete") == "1";
        } else if (IsElement(node, "call")) {
            if (!Prop(node, "track", track) || !Prop(node, "size", size) || !Prop(node, "code", code) || size < 0 ||
                size > kMaxFrameBytes)
                return Fail(manifest + ": a bad <call> entry");
            if (track == 0 && code == 0 && size > 0) {
                offset += static_cast<uint64_t>(size);
                _pictureOffsets.push_back(offset);
            }
        }
    }
    // Media of a transfer that did not end whole is no clip to play out, however much of it is there.
    if (!complete)
        return Fail(manifest + " records no complete transfer");
    if (!IsPlainName(pictureName))
        return Fail(manifest + " names no picture file");
    std::string picturePath = (dir / pictureName).string();
    std::error_code ec;
    uintmax_t fileSize = std::filesystem::file_size(picturePath, ec);
    if (ec)
        return Fail("cannot read " + picturePath);
    if (offset > fileSize)
        return Fail(picturePath + " holds " + std::to_string(fileSize) + " bytes, the manifest lists " +
                    std::to_string(offset));
    if (!_pictures.Open(picturePath))
        return Fail("cannot read " + picturePath);
    return true;
}

bool CMediaReader::Picture(size_t index, std::vector<uint8_t>& bytes)
{
    if (index >= PictureCount() || !_pictures.IsOpen())
        return false;
    uint64_t begin = _pictureOffsets[index];
    bytes.resize(static_cast<size_t>(_pictureOffsets[index + 1] - begin));
    return _pictures.Read(begin, bytes.data(), bytes.size());
}

const CWavReader* CMediaReader::Audio(int32_t track) const
{
    auto it = _audio.find(track);
    return it == _audio.end() ? nullptr : it->second.get();
}

}  // namespace tessan
