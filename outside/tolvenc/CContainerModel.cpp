#include "outside/tolvenc/CContainerModel.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>

namespace tolvenc
{

using Qo::Generic::Attribute;
using Qo::Generic::MobID;
using Qo::Generic::omfUID_t;
using Qo::Generic::TimeCode;

namespace
{

// Identifiers this library gives out: "KV" in the prefix, the serial in minor.
constexpr int32_t kUidPrefix = 0x4B56;
// A container of more mobs or bigger than this is refused as damaged.
constexpr size_t kMaxMobs = 100000;
constexpr size_t kMaxDocumentBytes = 64u << 20;

constexpr const char* kRootName = "tolvenc";
constexpr const char* kContainerKindNames[] = {"AAF", "OMF"};

struct KindName {
    int32_t kind;
    const char* name;
};
constexpr KindName kMobKindNames[] = {
    {Qo::Generic::kMasterMob, "master"},
    {Qo::Generic::kCompositionMob, "composition"},
    {Qo::Generic::kTapeMob, "tape"},
    {Qo::Generic::kFileMob, "file"},
};

const xmlChar* X(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

// ---- writing

void SetProp(xmlNodePtr node, const char* name, const std::string& value)
{
    xmlNewProp(node, X(name), X(value.c_str()));
}

void SetProp(xmlNodePtr node, const char* name, int64_t value)
{
    SetProp(node, name, std::to_string(value));
}

void AddText(xmlNodePtr parent, const char* name, const std::string& text)
{
    xmlNewTextChild(parent, nullptr, X(name), X(text.c_str()));
}

void AddTimeCode(xmlNodePtr parent, const char* name, const TimeCode& tc)
{
    xmlNodePtr node = xmlNewChild(parent, nullptr, X(name), nullptr);
    SetProp(node, "rate", tc.rate);
    SetProp(node, "drop", tc.drop ? 1 : 0);
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", tc.hours, tc.minutes, tc.seconds, tc.frames);
    SetProp(node, "value", std::string(text));
}

void SetUid(xmlNodePtr node, const MobID& id)
{
    omfUID_t uid = id.GetUID();
    SetProp(node, "prefix", uid.prefix);
    SetProp(node, "major", uid.major);
    SetProp(node, "minor", uid.minor);
}

void AddAttributes(xmlNodePtr parent, const std::vector<Attribute>& attributes)
{
    for (const Attribute& a : attributes) {
        xmlNodePtr node = xmlNewTextChild(parent, nullptr, X("attribute"), X(a.value.c_str()));
        SetProp(node, "category", a.category);
        SetProp(node, "name", a.name);
    }
}

void WriteMob(xmlNodePtr root, const MobData& mob)
{
    xmlNodePtr node = xmlNewChild(root, nullptr, X("mob"), nullptr);
    SetProp(node, "kind", std::string(MobKindName(mob.kind)));
    SetUid(node, mob.id);
    AddText(node, "name", mob.name);
    AddText(node, "duration", std::to_string(mob.duration));
    AddText(node, "standard", std::to_string(mob.videoStandard));
    AddTimeCode(node, "start", mob.start);
    xmlNodePtr trim = xmlNewChild(node, nullptr, X("trim"), nullptr);
    SetProp(trim, "in", mob.trimIn);
    SetProp(trim, "out", mob.trimOut);
    AddText(node, "tape", mob.tapeId);
    AddText(node, "path", mob.mediaPath);
    AddTimeCode(node, "vitals", mob.vitals.GetTimeCode());
    AddAttributes(node, mob.attributes);
    for (const std::string& compressor : mob.compressors)
        AddText(node, "compressor", compressor);
    if (mob.sampleWidth > 0) {
        xmlNodePtr sound = xmlNewChild(node, nullptr, X("sound"), nullptr);
        SetProp(sound, "width", mob.sampleWidth);
    }
    if (mob.hasFilelist) {
        const Qo::Generic::Filelist& fl = mob.filelist;
        xmlNodePtr list = xmlNewChild(node, nullptr, X("filelist"), nullptr);
        SetProp(list, "rate", fl.GetRate());
        SetProp(list, "tape", fl.GetTapeName());
        SetProp(list, "video", fl.GetVideoCompression());
        SetProp(list, "audio", fl.GetAudioCompression());
        AddTimeCode(list, "start", fl.GetStartTimeCode());
        AddTimeCode(list, "vitals", fl.GetTapeVitals().GetTimeCode());
        for (int32_t track : fl.GetTrackList())
            AddText(list, "track", std::to_string(track));
        AddAttributes(list, fl.GetSubATTRs());
    }
    if (mob.hasPlaylist) {
        xmlNodePtr list = xmlNewChild(node, nullptr, X("playlist"), nullptr);
        Qo::Generic::Playlist playlist = mob.playlist;
        for (int32_t number : playlist.GetTrackList()) {
            Qo::Generic::Track* track = nullptr;
            playlist.GetTrack(number, track);
            xmlNodePtr trackNode = xmlNewChild(list, nullptr, X("track"), nullptr);
            SetProp(trackNode, "number", number);
            for (int32_t i = 0; Qo::Generic::Segment* segment = track->GetNthSegment(i); ++i) {
                xmlNodePtr segNode = xmlNewChild(trackNode, nullptr, X("segment"), nullptr);
                SetProp(segNode, "kind", segment->GetFileMobID().GetDataType());
                SetUid(segNode, segment->GetFileMobID());
                SetProp(segNode, "length", segment->GetLength());
            }
        }
    }
}

// ---- reading

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool IsElement(xmlNodePtr node, const char* name)
{
    return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// A fault in the document: the reader stops with the reason.
struct ParseFault {
    std::string reason;
};

std::string Prop(xmlNodePtr node, const char* name)
{
    xmlChar* value = xmlGetProp(node, X(name));
    if (!value)
        throw ParseFault{std::string("missing attribute \"") + name + "\" on <" +
                         reinterpret_cast<const char*>(node->name) + ">"};
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

std::string Text(xmlNodePtr node)
{
    xmlChar* value = xmlNodeGetContent(node);
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

int64_t Number(const std::string& text, int64_t low, int64_t high, const char* what)
{
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || value < low || value > high)
        throw ParseFault{std::string("bad ") + what + " \"" + text + "\""};
    return value;
}

int32_t Int32(const std::string& text, const char* what)
{
    return static_cast<int32_t>(Number(text, INT32_MIN, INT32_MAX, what));
}

TimeCode ReadTimeCode(xmlNodePtr node)
{
    TimeCode tc;
    tc.rate = Int32(Prop(node, "rate"), "timecode rate");
    tc.drop = Number(Prop(node, "drop"), 0, 1, "drop flag") == 1;
    std::string value = Prop(node, "value");
    int h = 0, m = 0, s = 0, f = 0;
    char tail = 0;
    if (std::sscanf(value.c_str(), "%d:%d:%d:%d%c", &h, &m, &s, &f, &tail) != 4)
        throw ParseFault{"bad timecode \"" + value + "\""};
    tc.hours = h;
    tc.minutes = m;
    tc.seconds = s;
    tc.frames = f;
    return tc;
}

MobID ReadUid(xmlNodePtr node, int32_t kind)
{
    omfUID_t uid;
    uid.prefix = Int32(Prop(node, "prefix"), "id prefix");
    uid.major = static_cast<uint32_t>(Number(Prop(node, "major"), 0, UINT32_MAX, "id"));
    uid.minor = static_cast<uint32_t>(Number(Prop(node, "minor"), 0, UINT32_MAX, "id"));
    return MobID(kind, uid);
}

Attribute ReadAttribute(xmlNodePtr node)
{
    return {Prop(node, "category"), Prop(node, "name"), Text(node)};
}

int32_t KindOfName(const std::string& name)
{
    for (const KindName& k : kMobKindNames)
        if (name == k.name)
            return k.kind;
    throw ParseFault{"unknown mob kind \"" + name + "\""};
}

Qo::Generic::Filelist ReadFilelist(xmlNodePtr node)
{
    TimeCode start;
    Qo::Generic::TapeMobIF::TapeVitals vitals;
    std::vector<int32_t> tracks;
    std::vector<Attribute> attributes;
    for (xmlNodePtr child = node->children; child; child = child->next) {
        if (IsElement(child, "start"))
            start = ReadTimeCode(child);
        else if (IsElement(child, "vitals"))
            vitals.SetTimeCode(ReadTimeCode(child));
        else if (IsElement(child, "track"))
            tracks.push_back(Int32(Text(child), "track number"));
        else if (IsElement(child, "attribute"))
            attributes.push_back(ReadAttribute(child));
    }
    Qo::Generic::Filelist filelist(tracks, start, Prop(node, "tape").c_str(), vitals, Prop(node, "video").c_str(),
                                   Prop(node, "audio").c_str(), Int32(Prop(node, "rate"), "rate"));
    for (const Attribute& a : attributes)
        filelist.SetSubATTR(a.category.c_str(), a.name.c_str(), a.value.c_str());
    return filelist;
}

void ReadPlaylist(xmlNodePtr node, Qo::Generic::Playlist& playlist)
{
    for (xmlNodePtr trackNode = node->children; trackNode; trackNode = trackNode->next) {
        if (!IsElement(trackNode, "track"))
            continue;
        Qo::Generic::Track& track = playlist.AddTrack(Int32(Prop(trackNode, "number"), "track number"));
        for (xmlNodePtr seg = trackNode->children; seg; seg = seg->next) {
            if (!IsElement(seg, "segment"))
                continue;
            MobID id = ReadUid(seg, Int32(Prop(seg, "kind"), "segment kind"));
            track.AddSegment(Qo::Generic::Segment(id, Int32(Prop(seg, "length"), "segment length")));
        }
    }
}

std::unique_ptr<MobData> ReadMob(xmlNodePtr node)
{
    auto mob = std::make_unique<MobData>();
    mob->kind = KindOfName(Prop(node, "kind"));
    mob->id = ReadUid(node, mob->kind);
    for (xmlNodePtr child = node->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (IsElement(child, "name"))
            mob->name = Text(child);
        else if (IsElement(child, "duration"))
            mob->duration = Int32(Text(child), "duration");
        else if (IsElement(child, "standard"))
            mob->videoStandard = Int32(Text(child), "video standard");
        else if (IsElement(child, "start"))
            mob->start = ReadTimeCode(child);
        else if (IsElement(child, "trim")) {
            mob->trimIn = Int32(Prop(child, "in"), "trim in");
            mob->trimOut = Int32(Prop(child, "out"), "trim out");
        } else if (IsElement(child, "tape"))
            mob->tapeId = Text(child);
        else if (IsElement(child, "path"))
            mob->mediaPath = Text(child);
        else if (IsElement(child, "vitals"))
            mob->vitals.SetTimeCode(ReadTimeCode(child));
        else if (IsElement(child, "attribute")) {
            Attribute a = ReadAttribute(child);
            mob->SetAttribute(a.category, a.name, a.value);
        } else if (IsElement(child, "compressor"))
            mob->compressors.push_back(Text(child));
        else if (IsElement(child, "sound"))
            mob->sampleWidth = Int32(Prop(child, "width"), "sample width");
        else if (IsElement(child, "filelist")) {
            mob->filelist = ReadFilelist(child);
            mob->hasFilelist = true;
        } else if (IsElement(child, "playlist")) {
            ReadPlaylist(child, mob->playlist);
            mob->hasPlaylist = true;
        }
    }
    return mob;
}

}  // namespace

const char* MobKindName(int32_t kind)
{
    for (const KindName& k : kMobKindNames)
        if (k.kind == kind)
            return k.name;
    return "";
}

void MobData::SetAttribute(const std::string& category, const std::string& key, const std::string& value)
{
    for (Attribute& a : attributes) {
        if (a.category == category && a.name == key) {
            a.value = value;
            return;
        }
    }
    attributes.push_back({category, key, value});
}

bool MobData::GetAttribute(const std::string& category, const std::string& key, std::string& value) const
{
    for (const Attribute& a : attributes) {
        if (a.category == category && a.name == key) {
            value = a.value;
            return true;
        }
    }
    return false;
}

MobData* ContainerModel::AddMob(int32_t mobKind)
{
    uint32_t serial = 0;
    for (const auto& mob : mobs)
        if (mob->id.GetUID().prefix == kUidPrefix && mob->id.GetUID().minor > serial)
            serial = mob->id.GetUID().minor;
    if (mobs.size() >= kMaxMobs || serial == UINT32_MAX || MobKindName(mobKind)[0] == '\0')
        return nullptr;
    auto mob = std::make_unique<MobData>();
    mob->kind = mobKind;
    mob->id = MobID(mobKind, omfUID_t{kUidPrefix, static_cast<uint32_t>(mobKind), serial + 1});
    mobs.push_back(std::move(mob));
    return mobs.back().get();
}

MobData* ContainerModel::FindMob(const MobID& id) const
{
    if (!id.IsValid())
        return nullptr;
    for (const auto& mob : mobs)
        if (mob->id == id)
            return mob.get();
    return nullptr;
}

std::string ContainerModel::Serialise() const
{
    std::unique_ptr<xmlDoc, DocFree> doc(xmlNewDoc(X("1.0")));
    xmlNodePtr root = xmlNewNode(nullptr, X(kRootName));
    xmlDocSetRootElement(doc.get(), root);
    SetProp(root, "kind",
            std::string(kind == Qo::Generic::kContainerOMF ? kContainerKindNames[1] : kContainerKindNames[0]));
    for (const auto& mob : mobs)
        WriteMob(root, *mob);
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc.get(), &text, &size, "UTF-8", 1);
    std::string result(reinterpret_cast<const char*>(text), size > 0 ? static_cast<size_t>(size) : 0);
    xmlFree(text);
    return result;
}

std::unique_ptr<ContainerModel> ContainerModel::Parse(const uint8_t* data, size_t size, std::string& error)
{
    if (!data || size == 0) {
        error = "empty container";
        return nullptr;
    }
    if (size > kMaxDocumentBytes) {
        error = "container of " + std::to_string(size) + " bytes is too big";
        return nullptr;
    }
    std::unique_ptr<xmlDoc, DocFree> doc(xmlReadMemory(reinterpret_cast<const char*>(data), static_cast<int>(size),
                                                       nullptr, nullptr,
                                                       XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc) {
        const xmlError* xmlErr = xmlGetLastError();
        error = std::string("not XML: ") + (xmlErr && xmlErr->message ? xmlErr->message : "parse error");
        while (!error.empty() && error.back() == '\n')
            error.pop_back();
        return nullptr;
    }
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    if (!root || !IsElement(root, kRootName)) {
        error = "not a composition container";
        return nullptr;
    }
    try {
        auto model = std::make_unique<ContainerModel>();
        std::string kindName = Prop(root, "kind");
        if (kindName == kContainerKindNames[0])
            model->kind = Qo::Generic::kContainerAAF;
        else if (kindName == kContainerKindNames[1])
            model->kind = Qo::Generic::kContainerOMF;
        else
            throw ParseFault{"unknown container kind \"" + kindName + "\""};
        for (xmlNodePtr node = root->children; node; node = node->next) {
            if (!IsElement(node, "mob"))
                continue;
            if (model->mobs.size() >= kMaxMobs)
                throw ParseFault{"too many mobs"};
            auto mob = ReadMob(node);
            if (model->FindMob(mob->id))
                throw ParseFault{"two mobs with one id"};
            model->mobs.push_back(std::move(mob));
        }
        return model;
    } catch (const ParseFault& fault) {
        error = fault.reason;
        return nullptr;
    }
}

}  // namespace tolvenc
