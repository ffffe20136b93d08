// The clip description in the finishing tools' interchange XML that the movie writer leaves beside a movie.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "common/CLogManager.h"
#include "platform/Paths.h"
#include "writers/quicktime/CQTFileWriter.h"
#include "xml/CXmlDocument.h"
#include "xml/CXmlNode.h"
#include "xml/CXmlNodeList.h"

namespace
{
constexpr char kClipInfos[] = "/Korvo_Metadatas/Clips_Infos/Clip/";
constexpr char kFileInfos[] = "/Korvo_Metadatas/General_Infos/Parvex_File_Infos/";

std::optional<std::string> TextAt(CXmlDocument* metadata, const std::string& xpath)
{
    if (!metadata)
        return std::nullopt;
    auto node = metadata->SelectSingleNode(xpath);
    std::string text;
    if (!node || node->IsNull() || !node->ReadText(text))
        return std::nullopt;
    return text;
}

void Child(CXmlNode& parent, const char* name, const std::string& text)
{
    parent.AddChildNode(name)->SetText(text);
}

// Spaces as %20 and backslashes as slashes.
std::string UrlPart(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == ' ' ? std::string("%20") : c == '\\' ? std::string("/") : std::string(1, c);
    return out;
}

// The part of a text between two separators (a missing one ends the part at the end of the text).
std::string Part(const std::string& text, int index)
{
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = text.find(';', start);
        if (start == std::string::npos)
            return "";
        ++start;
    }
    const size_t end = text.find(';', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The values of the keywords of a node whose Type is one of the two names, joined by ", ".
std::string Keywords(CXmlNode& log, const char* type, const char* upper)
{
    auto list = log.SelectNodes(std::string("Keywords/Keyword[@Type='") + type + "' or @Type='" + upper + "']");
    std::string joined;
    for (int i = 0; list && i < list->GetCount(); ++i) {
        std::string value;
        list->GetItem(i)->ReadText(value);
        joined += (joined.empty() ? "" : ", ") + value;
    }
    return joined;
}
}  // namespace

void CQTFileWriter::QTCreateXML(int64_t frameCount)
{
    if (frameCount < 0)
        frameCount = static_cast<int64_t>(_nFrames);
    CXmlDocument metadataDocument;
    CXmlDocument* metadata = nullptr;
    if (!_szMetadataPath.empty()) {
        if (metadataDocument.Load(platform::ToLocalPath(_szMetadataPath)))
            metadata = &metadataDocument;
        else
            theLogManager.Log("CQTFileWriter.QTCreateXML() : korvoMetadatas not loaded.");
    }
    CXmlDocument document;
    if (!document.Create() || !document.AddProcessingInstruction("xml", "version=\"1.0\""))
        return;
    auto root = document.CreateRootNode("xmeml");
    root->SetAttribute("version", "2");

    const std::string clipInfos = std::string(kClipInfos) + "Parvex_Clip_Infos/";
    const std::string numClip = TextAt(metadata, clipInfos + "Rix_NumClip").value_or("");
    const std::string camera = TextAt(metadata, clipInfos + "Rix_Camera").value_or("");
    const std::string rixName = TextAt(metadata, clipInfos + "Rix_ClipName").value_or("");
    std::string name = metadata ? numClip + camera + "_" + rixName : "";
    if (numClip.empty() && camera.empty() && rixName.empty())
        name.clear();
    if (name.empty())
        name = _szClipName;
    std::string id;
    for (char c : _szClipName)
        if (c != ' ' && c != '\\')
            id += c;

    const bool ntsc = _nStandard == 4 || _nStandard == 7;
    const char* timebase = _nStandard == 4 ? "30" : _nStandard == 6 ? "50" : _nStandard == 7 ? "60" : "25";
    auto rate = [&](CXmlNode& parent) {
        auto node = parent.AddChildNode("rate");
        Child(*node, "ntsc", ntsc ? "TRUE" : "FALSE");
        Child(*node, "timebase", timebase);
    };
    const std::string frames = std::to_string(frameCount);
    // The movie's selection is empty: in and out are both 0.
    const std::string selectionIn = "0", selectionOut = "0";

    auto clip = root->AddChildNode("clip");
    clip->SetAttribute("id", id);
    Child(*clip, "name", name);
    Child(*clip, "duration", frames);
    rate(*clip);
    Child(*clip, "in", selectionIn);
    Child(*clip, "out", selectionOut);
    Child(*clip, "masterclipid", id);
    Child(*clip, "ismasterclip", "TRUE");
    if (!_szLoggingInfo.empty()) {
        auto logging = clip->AddChildNode("logginginfo");
        Child(*logging, "scene", Part(_szLoggingInfo, 0));
        Child(*logging, "shottake", Part(_szLoggingInfo, 1));
        Child(*logging, "lognote", Part(_szLoggingInfo, 2));
        Child(*logging, "good", "TRUE");
    }
    if (metadata) {
        auto comments = clip->AddChildNode("comments");
        for (int n = 1; n <= 3; ++n) {
            const std::string position = std::to_string(n);
            auto keyword = TextAt(metadata, std::string(kClipInfos) +
                                                "Other_Clip_Infos/Keywords/Keyword[@Type='Keyword'][" + position + "]");
            if (!keyword)
                keyword =
                    TextAt(metadata, std::string(kClipInfos) +
                                         "Strovane_Clip_Infos/Keywords/Keyword[@Type='Keyword'][" + position + "]");
            if (!keyword)
                keyword = TextAt(metadata, clipInfos + "Rix_Keyword_" + position);
            if (keyword)
                Child(*comments, ("mastercomment" + position).c_str(), *keyword);
        }
        if (auto rating = TextAt(metadata, clipInfos + "Rix_Rating"))
            Child(*comments, "mastercomment4", *rating);
        if (auto number = TextAt(metadata, clipInfos + "Rix_NumClip")) {
            char padded[64];
            std::snprintf(padded, sizeof padded, "%3s", number->c_str());
            std::string text = padded;
            for (char& c : text)
                if (c == ' ')
                    c = '0';
            Child(*comments, "clipcommenta", text);
        }
        if (auto cam = TextAt(metadata, clipInfos + "Rix_Camera"))
            Child(*comments, "clipcommentb", *cam);
    }

    // The movie's URL: the external path, then the movie's file name with the extension ".mov".
    std::string url = "file:" + UrlPart(_szExternalPath);
    if (url.back() != '/')
        url += '/';
    std::string fileName = _szMoviePath.substr(
        _szMoviePath.find_last_of("\\/") == std::string::npos ? 0 : _szMoviePath.find_last_of("\\/") + 1);
    const size_t dot = fileName.rfind('.');
    fileName = (dot == std::string::npos ? fileName : fileName.substr(0, dot)) + ".mov";
    url += UrlPart(fileName);

    char timecode[CTimeCode::kTextSize];
    _start.Format(timecode, sizeof timecode, 2);
    const bool dropFrame = _start.IsDropFrame() && _start.GetFrameRate() == 30 && (_nStandard == 4 || _nStandard == 7);
    auto timing = [&](CXmlNode& item) {
        Child(item, "in", "0");
        Child(item, "out", frames);
        Child(item, "start", "0");
        Child(item, "end", frames);
    };
    auto fileElement = [&](CXmlNode& item, bool full) {
        auto file = item.AddChildNode("file");
        file->SetAttribute("id", id + "_file");
        if (!full)
            return;
        Child(*file, "name", fileName);
        Child(*file, "pathurl", url);
        rate(*file);
        Child(*file, "duration", frames);
        auto tc = file->AddChildNode("timecode");
        rate(*tc);
        Child(*tc, "string", timecode);
        Child(*tc, "displayformat", dropFrame ? "DF" : "NDF");
        Child(*tc, "source", "source");
        auto media = file->AddChildNode("media");
        auto video = media->AddChildNode("video");
        Child(*video, "duration", frames);
        auto characteristics = video->AddChildNode("samplecharacteristics");
        Child(*characteristics, "width", std::to_string(_nWidth));
        Child(*characteristics, "height", std::to_string(_nHeight));
        for (int t = 0; t < _nAudioTracks; ++t) {
            auto audio = media->AddChildNode("audio");
            Child(*audio, "channelcount", _bStereoPairs ? "2" : "1");
            auto sound = audio->AddChildNode("samplecharacteristics");
            Child(*sound, "samplerate", "48000");
            Child(*sound, "depth", _b24Bit ? "24" : "16");
        }
    };

    auto media = clip->AddChildNode("media");
    auto videoTrack = media->AddChildNode("video")->AddChildNode("track");
    Child(*videoTrack, "enabled", "TRUE");
    Child(*videoTrack, "locked", "FALSE");
    auto videoItem = videoTrack->AddChildNode("clipitem");
    videoItem->SetAttribute("id", id + "_track");
    Child(*videoItem, "name", "video track");
    timing(*videoItem);
    Child(*videoItem, "pixelaspectratio", PixelAspectName());
    Child(*videoItem, "enabled", "TRUE");
    Child(*videoItem, "anamorphic", IsAnamorphic() ? "TRUE" : "FALSE");
    Child(*videoItem, "fielddominance", _nStandard >= 6 ? "none" : FieldDominanceName());
    Child(*videoItem, "alphatype", "none");
    fileElement(*videoItem, true);
    Child(*videoItem->AddChildNode("sourcetrack"), "mediatype", "video");
    auto link = [&](const char* type, int track, int group) {
        auto node = videoItem->AddChildNode("link");
        Child(*node, "mediatype", type);
        Child(*node, "trackindex", std::to_string(track));
        Child(*node, "clipindex", "1");
        if (group > 0)
            Child(*node, "groupindex", std::to_string(group));
    };
    link("video", 1, 0);
    const int links = _bStereoPairs ? _nAudioTracks * 2 : _nAudioTracks;
    for (int i = 1; i <= links; ++i)
        link("audio", i, _bStereoPairs ? (i + 1) / 2 : 0);

    auto audio = media->AddChildNode("audio");
    for (int t = 1; t <= _nAudioTracks; ++t) {
        auto track = audio->AddChildNode("track");
        Child(*track, "enabled", "TRUE");
        Child(*track, "locked", "FALSE");
        auto item = track->AddChildNode("clipitem");
        item->SetAttribute("id", id + "_track");
        Child(*item, "name", "audio track " + std::to_string(t));
        timing(*item);
        fileElement(*item, false);
        auto source = item->AddChildNode("sourcetrack");
        Child(*source, "mediatype", "audio");
        Child(*source, "trackindex", std::to_string(t));
    }

    if (metadata)
        QTCreateXMLLogs(document, *clip, *metadata);

    const size_t movieDot = _szMoviePath.rfind('.');
    const std::string target =
        (movieDot == std::string::npos ? _szMoviePath + "." : _szMoviePath.substr(0, movieDot + 1)) + "xml";
    if (!document.Save(platform::ToLocalPath(target).c_str()))
        theLogManager.Log("*** CQTFileWriter::QTCreateXML() : FAILED to save XMEML to [%s]", target.c_str());
}

void CQTFileWriter::QTCreateXMLLogs(CXmlDocument&, CXmlNode& clip, CXmlDocument& metadata)
{
    const TcSystem system = static_cast<TcSystem>(
        std::atoi(TextAt(&metadata, std::string(kFileInfos) + "Rix_Video_System").value_or("3").c_str()));
    const uint32_t fieldsPerFrame =
        CTimeCode::GetSystemFieldsPerFrame(system) ? CTimeCode::GetSystemFieldsPerFrame(system) : 2;
    const int64_t in = std::atoll(TextAt(&metadata, std::string(kFileInfos) + "Rix_IN").value_or("0").c_str());
    const int64_t offset =
        std::atoll(TextAt(&metadata, std::string(kFileInfos) + "Rix_Offset_TC").value_or("0").c_str());
    const int64_t tcIn = (in + offset) / fieldsPerFrame;
    for (const char* list : {"Other_Clip_Infos", "Strovane_Clip_Infos"}) {
        auto logs = metadata.SelectNodes(std::string(kClipInfos) + list + "/Logs/Log");
        for (int i = 0; logs && i < logs->GetCount(); ++i) {
            auto log = logs->GetItem(i);
            std::string tc;
            if (auto node = log->SelectSingleNode("TC"))
                node->ReadText(tc);
            unsigned h = 0, m = 0, s = 0, f = 0;
            if (std::sscanf(tc.c_str(), "%u:%u:%u%*[:;.]%u", &h, &m, &s, &f) != 4)
                continue;
            const CTimeCode time(static_cast<uint16_t>(h), static_cast<uint16_t>(m), static_cast<uint16_t>(s),
                                 static_cast<uint16_t>(f), false, system);
            const int64_t frame = time.GetFrameCount();
            const int64_t position = frame - tcIn;
            auto marker = clip.AddChildNode("marker");
            Child(*marker, "in", std::to_string(position));
            Child(*marker, "out", "-1");
            std::string description;
            if (auto node = log->SelectSingleNode("Description"))
                node->ReadText(description);
            Child(*marker, "name", description);
            std::string comment;
            std::string interest;
            if (auto node = log->SelectSingleNode("InterestLevel"); node && !node->IsNull() && node->ReadText(interest))
                comment = "Rating " + interest;
            const std::string keywords = Keywords(*log, "Keyword", "KEYWORD");
            if (!keywords.empty())
                comment += " - Keywords (" + keywords + ")";
            const std::string participants = Keywords(*log, "Participant", "PARTICIPANT");
            if (!participants.empty())
                comment += " - Participants (" + participants + ")";
            Child(*marker, "comment", comment);
            theLogManager.Log(
                "CQTFileWriter::QTCreateXMLLogs() : New locator at h(%d), m(%d), s(%d), f(%d), frame(%ld) - tcIn(%ld) "
                "= pos(%ld)",
                h, m, s, f, static_cast<long>(frame), static_cast<long>(tcIn), static_cast<long>(position));
        }
    }
}
