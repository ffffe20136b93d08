#include "sender/CPlaybackJobXml.h"

#include <ctime>

#include "common/CLogManager.h"
#include "platform/Paths.h"
#include "sender/CSideCarXml.h"
#include "xml/CXmlDocument.h"

namespace
{

void AddIfSet(CXmlNode& parent, const char* name, const std::string& text)
{
    if (!text.empty())
        parent.AddChildNode(name)->SetTextString(text.c_str());
}

}  // namespace

std::string JobReferencingPath(const std::string& referencingFolder, const std::string& jobPath)
{
    if (referencingFolder.empty() || referencingFolder.back() != '\\')
        return referencingFolder;
    size_t slash = jobPath.find_last_of("\\/");
    std::string path = referencingFolder + (slash == std::string::npos ? jobPath : jobPath.substr(slash + 1));
    size_t dot = path.rfind('.');
    if (dot != std::string::npos && dot >= referencingFolder.size())
        path.erase(dot);
    return path + "_ref.xml";
}

bool CreateXMLJobFile(const PlaybackJob& job, std::string* error)
{
    theLogManager.Log("Creating XML Job file [%s]", job.szJobPath.c_str());
    CXmlDocument doc;
    bool saved = false;
    if (doc.Create() && doc.AddProcessingInstruction("xml", "version=\"1.0\"")) {
        auto entry = doc.CreateRootNode("Korvo_Parvex_Job_List")->AddChildNode("Korvo_Parvex_Job");
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        entry->AddChildNode("Job_Id")->SetTextInt64(now);
        entry->AddChildNode("Job_Creation_Time")->SetTextInt64(now);
        entry->AddChildNode("Job_Type")->SetTextInt(2);
        AddIfSet(*entry, "Job_Src_File", job.szSrcFile);
        if (job.szMetadataPath.empty())
            theLogManager.Log(
                "CDornsend::CreateXMLJobFile(): szKorvo_METADATAS_Path was empty, the tag "
                "Job_Src_XML_Metadata_Path is not specified then.");
        AddIfSet(*entry, "Job_Src_XML_Metadata_Path", job.szMetadataPath);
        if (!job.szReferencingFolder.empty())
            AddIfSet(*entry, "Job_Dest_XML_Referencing_Path",
                     JobReferencingPath(job.szReferencingFolder, job.szJobPath));
        AddIfSet(*entry, "Job_Dest_User_Nb", job.szUserNb);
        AddIfSet(*entry, "Job_Dest_Id", job.szDestId);
        AddIfSet(*entry, "Job_Dest_VarId", job.szDestVarId);
        AddIfSet(*entry, "Job_Dest_Page", job.szPage);
        AddIfSet(*entry, "Job_Dest_Clip_Nb", job.szClipNb);
        AddIfSet(*entry, "Job_Dest_Cam", job.szCamera);
        AddIfSet(*entry, "Job_Dest_Rix_IP_Address1", job.szAddress);
        AddIfSet(*entry, "Job_Dest_Rix_Port1", job.szPort);
        AddIfSet(*entry, "Job_Dest_Rix_FTP_Login", job.szLogin);
        AddIfSet(*entry, "Job_Dest_Rix_FTP_Password", job.szPassword);
        if (!job.szTapeId.empty() || !job.szOwner.empty()) {
            auto strovane = entry->AddChildNode("Korvo_Metadatas")
                                ->AddChildNode("Clips_Infos")
                                ->AddChildNode("Clip")
                                ->AddChildNode("Strovane_Clip_Infos");
            AddIfSet(*strovane, "TapeID", job.szTapeId);
            AddIfSet(*strovane, "Owner", job.szOwner);
        }
        saved = SaveWhole(doc, job.szJobPath, error);
    } else if (error) {
        *error = "cannot build the document";
    }
    if (saved)
        theLogManager.Log("CDornsend::CreateXMLJobFile(): XML Job file saved successfully to [%s]",
                          job.szJobPath.c_str());
    else
        theLogManager.Log("*** CDornsend::CreateXMLJobFile(): Failed to save XML Job file to [%s]",
                          job.szJobPath.c_str());
    return saved;
}
