#include "outside/tessan/CIngestJob.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "outside/qo/Generic/ContainerIF.h"
#include "outside/qo/Generic/Filelist.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MasterMobIF.h"
#include "outside/tessan/HelperPtr.h"

namespace tessan
{

namespace
{

constexpr size_t kMaxJobBytes = 4u << 20;
constexpr int32_t kMaxAudioTracks = 8;
constexpr const char* kAudioCompression = "Mirel::WAVE::Uncompressed";

// Timecode systems the job's metadata may name, for the drop-frame choice.
constexpr int kSystem30NonDrop = 5;
constexpr int kSystem60NonDrop = 8;

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

bool ParseInt(const std::string& text, int64_t& value)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

// The browser's text opens with "<?xml>" and sends ampersands bare: make it XML.
std::string Repair(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 64);
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])))
        ++start;
    if (text.compare(start, 6, "<?xml>") == 0)
        start += 6;
    for (size_t i = start; i < text.size(); ++i) {
        char c = text[i];
        if (c != '&') {
            out += c;
            continue;
        }
        // Keep an entity or character reference; escape any other ampersand.
        size_t j = i + 1;
        if (j < text.size() && text[j] == '#') {
            ++j;
            bool hex = j < text.size() && text[j] == 'x';
            if (hex)
                ++j;
            size_t digits = j;
            while (j < text.size() && (hex ? std::isxdigit(static_cast<unsigned char>(text[j]))
                                           : std::isdigit(static_cast<unsigned char>(text[j]))))
                ++j;
            if (j == digits)
                j = i + 1;
        } else {
            while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_'))
                ++j;
        }
        bool reference = j > i + 1 && j < text.size() && text[j] == ';';
        out += reference ? "&" : "&amp;";
    }
    return out;
}

std::string NodeText(xmlNodePtr node)
{
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

bool HasElementChildren(xmlNodePtr node)
{
    for (xmlNodePtr child = node->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            return true;
    return false;
}

xmlNodePtr FindElement(xmlNodePtr node, const char* name)
{
    for (xmlNodePtr child = node->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (std::strcmp(reinterpret_cast<const char*>(child->name), name) == 0)
            return child;
        if (xmlNodePtr found = FindElement(child, name))
            return found;
    }
    return nullptr;
}

// Receiver attribute names of the job's values; empty for a value the receiver does not read.
struct Mapping {
    const char* value;
    const char* attribute;
    const char* category;
};
constexpr Mapping kMappings[] = {
    {"KorvoBlockSizeMB", "QO_KORVO_BLOCKSIZE", "_USER"},
    {"Tardix", "QO_KORVO_TARDIX", "_USER"},
    {"directory", "QO_KORVO_DIRNAME", "_USER"},
    {"lookupname", "QO_KORVO_CLIPNAME", "_USER"},
    {"TrimClip", "TRIM_SUBCLIP", "_EXPORT"},
};
constexpr const char* kKorvoPrefix = "Korvo";
constexpr const char* kAttributePrefix = "QO_KORVO_";
constexpr const char* kMetadataElement = "Korvo_Metadatas";

// Values checked as numbers: name, lowest, highest.
struct NumberRule {
    const char* name;
    int64_t low;
    int64_t high;
};
constexpr NumberRule kNumberRules[] = {
    {"KorvoFps", 1, 120},
    {"KorvoTCIn", INT32_MIN, UINT32_MAX},
    {"KorvoTCOut", INT32_MIN, UINT32_MAX},
    {"KorvonAudios", 0, kMaxAudioTracks},
    {"KorvoRate", 1, 100000},
    {"KorvoClipIn", -1, INT32_MAX},
    {"KorvoClipOut", -1, INT32_MAX},
    {"KorvoRixFstFld", INT32_MIN, INT32_MAX},
    {"KorvoBlockSizeMB", 1, 100000000},
    {"KorvoPrimaryTC", INT32_MIN, INT32_MAX},
    {"KorvonAudioBits", 16, 24},
    {"KorvonVideoChannels", 0, UINT32_MAX},
    {"TrimClip", 0, 1},
    {"Tardix", 0, 1},
    {"TrimGuardBand", 0, UINT32_MAX},
};

}  // namespace

bool CIngestJob::Fail(const std::string& reason)
{
    _strError = "ingest job: " + reason;
    return false;
}

bool CIngestJob::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Fail("cannot read " + path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return Fail("cannot read " + path);
    return Parse(text);
}

bool CIngestJob::Parse(const std::string& text)
{
    _items.clear();
    if (text.size() > kMaxJobBytes)
        return Fail("the document is larger than " + std::to_string(kMaxJobBytes) + " bytes");
    std::string xml = Repair(text);
    std::unique_ptr<xmlDoc, DocFree> doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                                       XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc) {
        const xmlError* error = xmlGetLastError();
        std::string reason = error && error->message ? error->message : "parse error";
        while (!reason.empty() && reason.back() == '\n')
            reason.pop_back();
        return Fail("not XML (" + reason + (error ? " at line " + std::to_string(error->line) : "") + ")");
    }
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    if (!root || std::strcmp(reinterpret_cast<const char*>(root->name), "ingestdrag") != 0)
        return Fail("the root element is not <ingestdrag>");
    for (xmlNodePtr node = root->children; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        std::string name = reinterpret_cast<const char*>(node->name);
        if (name == "private") {
            for (xmlNodePtr value = node->children; value; value = value->next) {
                if (value->type != XML_ELEMENT_NODE)
                    continue;
                std::string valueName = reinterpret_cast<const char*>(value->name);
                if (valueName == kMetadataElement) {
                    if (xmlNodePtr system = FindElement(value, "Rix_TC_System"))
                        _items.push_back({"Rix_TC_System", NodeText(system)});
                } else if (!HasElementChildren(value)) {
                    _items.push_back({valueName, NodeText(value)});
                }
            }
        } else if (!HasElementChildren(node)) {
            _items.push_back({name, NodeText(node)});
        }
    }
    return Check();
}

std::string CIngestJob::Value(const std::string& name) const
{
    for (const Item& item : _items)
        if (item.name == name)
            return item.value;
    return "";
}

bool CIngestJob::Has(const std::string& name) const
{
    return std::any_of(_items.begin(), _items.end(), [&name](const Item& item) { return item.name == name; });
}

bool CIngestJob::IsLive() const
{
    std::string name = Value("lookupname");
    return _bLive || (name.size() >= 4 && EqualNoCase(name.substr(name.size() - 4), ".TRN"));
}

int64_t CIngestJob::Frames(const std::string& text) const
{
    int h = 0, m = 0, s = 0, f = 0;
    char sep = 0, tail = 0;
    if (std::sscanf(text.c_str(), "%2d:%2d:%2d%c%3d%c", &h, &m, &s, &sep, &f, &tail) != 5 ||
        (sep != ':' && sep != ';' && sep != '.'))
        return -1;
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59 || f < 0 || f >= _nFps)
        return -1;
    int64_t frames = ((int64_t(h) * 60 + m) * 60 + s) * _nFps + f;
    if (_bDrop) {
        // Drop-frame counting skips the first frame numbers of each minute but every tenth.
        int64_t dropPerMinute = _nFps / 15;
        int64_t minutes = int64_t(h) * 60 + m;
        frames -= dropPerMinute * (minutes - minutes / 10);
    }
    return frames;
}

bool CIngestJob::Check()
{
    for (const NumberRule& rule : kNumberRules) {
        if (!Has(rule.name))
            continue;
        int64_t value = 0;
        std::string text = Value(rule.name);
        if (!ParseInt(text, value) || value < rule.low || value > rule.high)
            return Fail(std::string(rule.name) + " \"" + text + "\" is not a number from " + std::to_string(rule.low) +
                        " to " + std::to_string(rule.high));
    }
    if (Value("lookupname").empty())
        return Fail("no <lookupname>");
    if (!Has("KorvoFps"))
        return Fail("no <KorvoFps>");
    _nFps = std::stoi(Value("KorvoFps"));
    if (_nFps != 25 && _nFps != 30 && _nFps != 50 && _nFps != 60)
        return Fail("KorvoFps " + std::to_string(_nFps) + " is not 25, 30, 50 or 60");
    int64_t system = 0;
    ParseInt(Value("Rix_TC_System"), system);
    _bDrop = (_nFps == 30 && system != kSystem30NonDrop) || (_nFps == 60 && system != kSystem60NonDrop);
    _nAudios = Has("KorvonAudios") ? std::stoi(Value("KorvonAudios")) : 0;

    int64_t markIn = Frames(Value("markin"));
    int64_t markOut = Frames(Value("markout"));
    if (markIn < 0)
        return Fail("markin \"" + Value("markin") + "\" is not a timecode at " + std::to_string(_nFps) + " frames/s");
    if (markOut < 0)
        return Fail("markout \"" + Value("markout") + "\" is not a timecode at " + std::to_string(_nFps) + " frames/s");
    if (markOut <= markIn)
        return Fail("markout " + Value("markout") + " does not lie after markin " + Value("markin"));

    // An out point is one past the last frame taken, as everywhere in the system: duration = out - in.
    int64_t clipIn = Has("KorvoClipIn") ? std::stoll(Value("KorvoClipIn")) : -1;
    int64_t clipOut = Has("KorvoClipOut") ? std::stoll(Value("KorvoClipOut")) : -1;
    int64_t fieldsPerFrame = _nFps <= 30 ? 2 : 1;
    // The media's first field as a timecode (fields since midnight), when the job gives it.
    int64_t tcIn = Has("KorvoTCIn") ? std::stoll(Value("KorvoTCIn")) : -1;
    if (Value("TrimClip") == "1" && clipIn >= 0 && clipOut >= 0) {
        if (clipOut <= clipIn)
            return Fail("KorvoClipOut " + std::to_string(clipOut) + " does not lie after KorvoClipIn " +
                        std::to_string(clipIn));
        // The frame holding the in field is the first taken; a frame the out field splits is taken whole.
        _nTrimIn = static_cast<int32_t>(clipIn / fieldsPerFrame);
        _nTrimOut = static_cast<int32_t>((clipOut + fieldsPerFrame - 1) / fieldsPerFrame);
        _nDuration = _nTrimOut - _nTrimIn;
        // The clip points count from the media's start, the marks of a local clip too: the first frame taken is
        // the media's first plus the in point.
        _nStartFrame = tcIn >= 0 ? tcIn / fieldsPerFrame + _nTrimIn : markIn;
    } else {
        _nDuration = static_cast<int32_t>(markOut - markIn);
        _nTrimIn = 0;
        _nTrimOut = _nDuration;
        _nStartFrame = markIn;
    }
    _strError.clear();
    return true;
}

int32_t CIngestJob::VideoStandard() const
{
    return _nFps == 30 || _nFps == 60 ? Qo::Generic::kVideoStandard2997Hz : Qo::Generic::kVideoStandard25Hz;
}

std::vector<int32_t> CIngestJob::Tracks() const
{
    std::vector<int32_t> tracks;
    for (int32_t track = 0; track <= _nAudios; ++track)
        tracks.push_back(track);
    return tracks;
}

std::vector<Qo::Generic::Attribute> CIngestJob::Attributes() const
{
    std::vector<Qo::Generic::Attribute> attributes;
    for (const Item& item : _items) {
        auto mapping = std::find_if(std::begin(kMappings), std::end(kMappings),
                                    [&item](const Mapping& m) { return item.name == m.value; });
        if (mapping != std::end(kMappings)) {
            attributes.push_back({mapping->category, mapping->attribute, item.value});
        } else if (item.name.starts_with(kKorvoPrefix) && item.name.size() > std::strlen(kKorvoPrefix)) {
            std::string name = kAttributePrefix + item.name.substr(std::strlen(kKorvoPrefix));
            std::transform(name.begin(), name.end(), name.begin(), [](char c) { return std::toupper(c); });
            attributes.push_back({"_USER", name, item.value});
        }
    }
    if (IsLive())
        attributes.push_back({"_USER", "QO_KORVO_RECORDING", "1"});
    return attributes;
}

Qo::Generic::TimeCode CIngestJob::StartTimeCode() const
{
    int64_t frames = _nStartFrame;
    if (_bDrop) {
        // Back to labels: every minute but each tenth skips its first labels.
        const int64_t dropPerMinute = _nFps / 15;
        const int64_t perMinute = int64_t{_nFps} * 60 - dropPerMinute;
        const int64_t perTenMinutes = int64_t{_nFps} * 600 - 9 * dropPerMinute;
        frames %= perTenMinutes * 6 * 24;
        const int64_t tens = frames / perTenMinutes;
        const int64_t rest = frames % perTenMinutes;
        frames += 9 * dropPerMinute * tens +
                  (rest >= dropPerMinute ? dropPerMinute * ((rest - dropPerMinute) / perMinute) : 0);
    }
    frames %= int64_t{_nFps} * 86400;
    const int64_t seconds = frames / _nFps;
    return Qo::Generic::TimeCode(_nFps, _bDrop, static_cast<int32_t>(seconds / 3600),
                                 static_cast<int32_t>(seconds / 60 % 60), static_cast<int32_t>(seconds % 60),
                                 static_cast<int32_t>(frames % _nFps));
}

std::string CIngestJob::VideoCompression() const
{
    std::string dataType = Value("KorvoDataType");
    if (EqualNoCase(dataType, "DVCPro"))
        return "Mirel::DVCPRO::" + Value("KorvoRate");
    if (EqualNoCase(dataType, "Hydrel"))
        return "Mirel::HD::Hydrel";
    return "Mirel::MPEG2::" + Value("KorvoRate");
}

std::string CIngestJob::ClipName() const
{
    return Value("printname").empty() ? Value("lookupname") : Value("printname");
}

std::string CIngestJob::MakeComposition()
{
    HelperPtr helper(Qo::Generic::CreateHelper(Qo::Generic::kContainerAAF));
    if (!helper) {
        Fail("cannot create a composition helper");
        return "";
    }
    Qo::Generic::ContainerBuffer* buffer = helper->NewContainerBuffer(0, 0);
    Qo::Generic::ContainerIF* container = helper->OpenNewContainer(buffer, 0, 3);
    if (!container) {
        Fail(std::string("cannot make a composition: ") + helper->GetLastError());
        return "";
    }
    Qo::Generic::Filelist filelist(Tracks(), StartTimeCode(), ClipName().c_str(), Qo::Generic::TapeMobIF::TapeVitals(),
                                   VideoCompression().c_str(), kAudioCompression, _nFps);
    for (const Qo::Generic::Attribute& a : Attributes())
        filelist.SetSubATTR(a.category.c_str(), a.name.c_str(), a.value.c_str());
    bool ok = filelist.PutIntoFile(container);
    std::vector<Qo::Generic::MobID> masters = container->GetMasterMobIDs();
    auto* master = ok && masters.size() == 1
                       ? dynamic_cast<Qo::Generic::MasterMobIF*>(container->OpenMob(masters.front()))
                       : nullptr;
    if (master) {
        master->SetDuration(_nDuration);
        master->SetTrim(_nTrimIn, _nTrimOut);
        master->SetVideoStandard(VideoStandard());
        container->ReleaseMob(master);
    }
    if (!helper->ReturnContainer(container) || !master) {
        Fail("cannot make the composition's master mob");
        return "";
    }
    return std::string(reinterpret_cast<const char*>(buffer->GetData()), buffer->GetSize());
}

}  // namespace tessan
