#include "sender/CSideCarXml.h"

#include <filesystem>

#include "common/CLogManager.h"
#include "platform/Paths.h"
#include "xml/CXmlDocument.h"

namespace
{

constexpr size_t kMaxVarIdLength = 32;

// The file name after the last folder separator, without its extension.
std::string MediaBaseName(const std::string& targetPath)
{
    size_t slash = targetPath.find_last_of("\\/");
    std::string name = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

void AddText(CXmlNode& parent, const char* name, const std::string& text)
{
    parent.AddChildNode(name)->SetTextString(text.c_str());
}

}  // namespace

bool SaveWhole(CXmlDocument& doc, const std::string& path, std::string* error)
{
    const std::string local = platform::ToLocalPath(path);
    if (doc.Save(local.c_str()))
        return true;
    if (error)
        *error = doc.GetLastError();
    // A file the disk could take only in part would read as an empty or broken document.
    std::error_code ec;
    std::filesystem::remove(local, ec);
    return false;
}

std::string SideCarPath(const std::string& explicitPath, const std::string& targetPath)
{
    if (explicitPath.empty()) {
        size_t dot = targetPath.rfind('.');
        size_t slash = targetPath.find_last_of("\\/");
        bool dotInName = dot != std::string::npos && (slash == std::string::npos || dot > slash);
        return (dotInName ? targetPath.substr(0, dot) : targetPath) + ".korvo.xml";
    }
    const size_t n = explicitPath.size();
    const char last = explicitPath.back();
    if (last != '\\' && last != '/' && n >= 4 && explicitPath[n - 4] == '.')
        return explicitPath;
    std::string folder = explicitPath;
    if (last != '\\' && last != '/')
        folder += '\\';
    return folder + MediaBaseName(targetPath) + ".korvo.xml";
}

std::string CreateKorvo_METADATAS(bool generate, const std::string& explicitPath, const std::string& targetPath,
                                  const std::string& tapeId, const std::string& owner, const std::string& umid,
                                  const std::string& varId, const std::string& clipName, std::string* error)
{
    theLogManager.Log("CreateKorvo_METADATAS()...");
    if (!generate) {
        theLogManager.Log("CDornsend.CreateKorvo_METADATAS() : No Korvo_METADATAS xml file is asked to be created.");
        return {};
    }
    std::string path = SideCarPath(explicitPath, targetPath);
    if (explicitPath.empty())
        theLogManager.Log(
            "CDornsend.CreateKorvo_METADATAS(): no explicit path was specified: generate XML file "
            "close to the a/v file: _TargetPath = [%s]",
            targetPath.c_str());
    else
        theLogManager.Log(
            "CDornsend.CreateKorvo_METADATAS(): an explicit path was specified: _szKorvo_METADATAS_Path = [%s]",
            explicitPath.c_str());
    theLogManager.Log("Attempt to create Korvo_METADATAS XML file at [%s]...", path.c_str());

    CXmlDocument doc;
    bool saved = false;
    if (doc.Create() && doc.AddProcessingInstruction("xml", "version=\"1.0\"")) {
        auto root = doc.CreateRootNode("Korvo_Metadatas");
        auto parvexFile = root->AddChildNode("General_Infos")->AddChildNode("Parvex_File_Infos");
        AddText(*parvexFile, "Rix_Device_Src", "Korvo Mirel PlayBack Server [v.1.9.0]");
        auto clip = root->AddChildNode("Clips_Infos")->AddChildNode("Clip");
        auto parvexClip = clip->AddChildNode("Parvex_Clip_Infos");
        if (!umid.empty())
            AddText(*parvexClip, "Rix_UmID", umid);
        if (!varId.empty())
            AddText(*parvexClip, "Rix_VarID", varId.substr(0, kMaxVarIdLength));
        AddText(*parvexClip, "Rix_Camera_Label", "From_Mirel");
        if (!clipName.empty())
            AddText(*parvexClip, "Rix_ClipName", clipName);
        else
            theLogManager.Log("CDornsend::CreateKorvo_METADATAS(): Rix_ClipName is empty ; tag was not set.");
        auto strovane = clip->AddChildNode("Strovane_Clip_Infos");
        if (!tapeId.empty())
            AddText(*strovane, "TapeID", tapeId);
        if (!owner.empty())
            AddText(*strovane, "Owner", owner);
        saved = SaveWhole(doc, path, error);
    } else if (error) {
        *error = "cannot build the document";
    }
    if (!saved) {
        theLogManager.Log("*** CDornsend::CreateKorvo_METADATAS(): Failed to save Metadatas file to [%s]",
                          path.c_str());
        return {};
    }
    theLogManager.Log("CDornsend::CreateKorvo_METADATAS(): Metadatas file saved successfully to [%s]", path.c_str());
    return path;
}
