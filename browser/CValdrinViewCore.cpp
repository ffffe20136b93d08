#include "browser/CValdrinViewCore.h"

#include "browser/IngestJobXml.h"
#include "common/CTimeCode.h"
#include "common/FormatText.h"

CValdrinViewCore::CValdrinViewCore(IMessageSink& sink) : _sink(sink), _szFixedCopyPath(ingestjob::kFixedCopyPath) {}

CValdrinViewCore::~CValdrinViewCore() = default;

void CValdrinViewCore::InitialUpdate()
{
    CTimeCode::SetDayWrapping(true);
    _settings.Load();
    OpenLog();
}

void CValdrinViewCore::OpenLog()
{
    _log.Open(GetLogFilePath("KorvoMirel", "Valdrin.log"), GetMaxLogSize());
    _log.Log("Initial Browser Path: %s", _settings._szCurrentFolder.c_str());
    _log.Log("Setup Dll Name: %s", _settings._szSetupDll.c_str());
    _log.Log("Opening Setup DLL  [ %s ]", FormatText("%sVC7.dll", _settings._szSetupDll.c_str()).c_str());
}

void CValdrinViewCore::Message(const std::string& text, const std::string& caption, MessageIcon icon)
{
    _sink.ShowMessage(text, caption, icon);
}

std::string CValdrinViewCore::BackupTimeText() const
{
    const platform::LocalTime now = Now();
    return FormatText("%04i/%02i/%02i %02i:%02i:%02i", now.year, now.month, now.day, now.hour, now.minute, now.second);
}

std::unique_ptr<CXmlNode> CValdrinViewCore::StartClipJob(CXmlDocument& doc, const char* caller, ingestjob::JobHead head)
{
    _log.Log("CValdrinView::%s : Creation of the <ingestdrag/>", caller);
    auto root = ingestjob::CreateJobDocument(doc);
    if (!root)
        return nullptr;
    head.hostName = _settings._szTargetHost;
    head.directory = _settings._szCurrentFolder;
    head.dllName = _settings._szSetupDll;
    return ingestjob::AddJobHead(*root, head);
}

int CValdrinViewCore::FinishClipJob(CXmlDocument& doc, CXmlNode* clip, const std::string& idSource,
                                    int64_t fillAndKeyType, const std::string& fillAndKey, const char* caller,
                                    std::string& job)
{
    if (clip) {
        ingestjob::AddText(*clip, "Rix_ClipIdSrc", idSource);
        ingestjob::AddInt64(*clip, "Rix_FillAndKey_Type", fillAndKeyType);
        ingestjob::AddText(*clip, "Rix_FillAndKey", fillAndKey);
    }
    job = ingestjob::FinishJobText(doc.GetXml());
    _log.Log("CValdrinView::%s terminated normally.", caller);
    return 0;
}
