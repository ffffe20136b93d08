#include "browser/IngestJobXml.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "browser/TimeConversions.h"
#include "common/CTimeCode.h"
#include "common/CodePages.h"
#include "common/FormatText.h"
#include "parvex/MXFId.h"
#include "platform/File.h"
#include "platform/Paths.h"

namespace ingestjob
{

namespace
{

constexpr const char* kFullDeclaration = "<?xml version=\"1.0\"?>";
constexpr const char* kShortDeclaration = "<?xml>";

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    size_t at = 0;
    while ((at = text.find(from, at)) != std::string::npos) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

}  // namespace

std::string FinishJobText(const std::string& serialised)
{
    return ReplaceAll(ReplaceAll(serialised, kFullDeclaration, kShortDeclaration), "&amp;", "&");
}

std::string FixedCopyText(const std::string& jobText)
{
    return ReplaceAll(ReplaceAll(jobText, kShortDeclaration, kFullDeclaration), "&amp;", "&");
}

bool WriteFixedCopy(const std::string& jobText, const std::string& path)
{
    const std::string text = FixedCopyText(jobText);
    const std::string local = platform::ToLocalPath(path);
    // The log folder may not exist yet on a fresh machine.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(local).parent_path(), ec);
    platform::File file;
    if (!file.Open(local, platform::File::Access::Write, platform::File::Disposition::CreateAlways))
        return false;
    return file.Write(text.data(), text.size()) == static_cast<int64_t>(text.size());
}

std::unique_ptr<CXmlNode> CreateJobDocument(CXmlDocument& doc)
{
    if (!doc.Create())
        return nullptr;
    doc.AddProcessingInstruction("xml", "version=\"1.0\"");
    return doc.CreateRootNode("ingestdrag");
}

std::unique_ptr<CXmlNode> AddJobHead(CXmlNode& root, const JobHead& head)
{
    AddText(root, "printname", head.printName);
    AddText(root, "lookupname", head.lookupName);
    AddText(root, "hostname", head.hostName);
    AddText(root, "directory", head.directory);
    AddText(root, "dllname", head.dllName);
    AddText(root, "dllversion", kDllVersion);
    AddText(root, "markin", head.markIn);
    AddText(root, "markout", head.markOut);
    auto priv = root.AddChildNode("private");
    if (priv)
        AddInt(*priv, "KorvoFps", head.fps);
    return priv;
}

MetadataNodes AddMetadataTree(CXmlNode& priv, const std::string& processingDevice)
{
    MetadataNodes nodes;
    auto metadata = priv.AddChildNode("Korvo_Metadatas");
    if (!metadata)
        return nodes;
    if (auto general = metadata->AddChildNode("General_Infos"))
        nodes.file = general->AddChildNode("Parvex_File_Infos");
    if (nodes.file) {
        AddText(*nodes.file, "Rix_Device_Src", "Korvo Rix");
        AddText(*nodes.file, "Rix_Processing_Device", processingDevice);
    }
    if (auto clips = metadata->AddChildNode("Clips_Infos")) {
        if (auto clip = clips->AddChildNode("Clip"))
            nodes.clip = clip->AddChildNode("Parvex_Clip_Infos");
    }
    return nodes;
}

void AddText(CXmlNode& parent, const char* name, const std::string& text)
{
    auto node = parent.AddChildNode(name);
    // A text that is no UTF-8 is the system's 8-bit page.
    if (node && !node->SetTextString(text.c_str()) && !IsAscii(text))
        node->SetTextString(ConvertCodePage(text, 0, 65001).c_str());
}

void AddInt(CXmlNode& parent, const char* name, int32_t value)
{
    if (auto node = parent.AddChildNode(name))
        node->SetTextInt(value);
}

void AddLong(CXmlNode& parent, const char* name, int32_t value)
{
    if (auto node = parent.AddChildNode(name))
        node->SetTextLong(value);
}

void AddULong(CXmlNode& parent, const char* name, uint32_t value)
{
    if (auto node = parent.AddChildNode(name))
        node->SetTextULong(value);
}

void AddInt64(CXmlNode& parent, const char* name, int64_t value)
{
    if (auto node = parent.AddChildNode(name))
        node->SetTextInt64(value);
}

void AddFlag(CXmlNode& parent, const char* name, bool on)
{
    AddText(parent, name, on ? "1" : "0");
}

std::string TcSystemText(int32_t code)
{
    switch (code) {
        case 3:
            return "sys_25 (PAL)";
        case 4:
            return "sys_29.97 (NTSC)";
        case 5:
            return "sys_30 (NTSC)";
        default:
            return "undefined";
    }
}

std::string AspectText(int32_t code)
{
    switch (code) {
        case 1:
            return "1.0 (square)";
        case 2:
            return "4/3";
        case 3:
            return "16/9";
        case 4:
            return "2.21/1";
        default:
            return FormatText("unknown aspect %d ", static_cast<int>(code));
    }
}

std::string TimecodeText(uint32_t fields, uint32_t tcSystem)
{
    CTimeCode::SetDayWrapping(true);
    CTimeCode tc(fields, tcSystem);
    char text[CTimeCode::kTextSize];
    return tc.Format(text, sizeof text, 2);
}

std::string CalendarText(int64_t seconds)
{
    const time_t t = static_cast<time_t>(seconds);
    std::tm fields{};
    if (!gmtime_r(&t, &fields))
        return {};
    char text[64];
    if (std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &fields) == 0)
        return {};
    return text;
}

bool AddCreationTimes(CXmlNode& parent, const std::string& materialId)
{
    if (materialId.empty())
        return true;
    const int64_t created = MXFIdToTime(materialId.c_str());
    const std::string local = CalendarText(created);
    if (local.empty())
        return false;
    AddText(parent, "Rix_Creation_Time_str", local);
    int32_t hours = 0;
    const std::string gmt = CalendarText(LocalTimeToUtc(created, &hours));
    if (gmt.empty())
        return false;
    AddText(parent, "Rix_Creation_Time_GMT_str", gmt);
    return true;
}

}  // namespace ingestjob
