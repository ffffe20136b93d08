#include "automation/_AutomationAPI.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "automation/CompositionSteps.h"
#include "automation/CompressionTypeNames.h"
#include "automation/FileContents.h"
#include "automation/StatusTranslation.h"
#include "automation/_AutomationTransaction.h"

namespace MirelQla
{

namespace
{
constexpr int kHostNameRoom = 128;
constexpr int kContextRoom = 256;
constexpr int kSettingRoom = 256;
const char kOffline[] = "offline automation API: no transfer service client";

QlaStatus Failed(StatusCode code)
{
    return QlaStatus(code, nullptr, nullptr);
}

// Whether the request file was read; its status otherwise (-197 for an empty name).
StatusCode ReadRequestFile(const Qo::QoString& fileName, std::vector<char>& contents)
{
    if (fileName.IsEmpty())
        return kQlaErrorSourceFilenameUnspecified;
    return ReadFileContents(fileName.ToCString(), contents);
}

int SizeOf(const std::vector<char>& contents)
{
    return static_cast<int>(contents.size());
}

const char* DataOf(const std::vector<char>& contents)
{
    return contents.empty() ? nullptr : contents.data();
}
}  // namespace

QlaStatus NotConnected(const char* what)
{
    return QlaStatus(kQlaErrorNotInitialized, nullptr, what);
}

QlaStatus _AutomationAPI::TransactionResult(int result, QlmClientTransaction* client, AutomationTransaction** out) const
{
    if (result == 0 && out && client)
        *out = new _AutomationTransaction(client, _pBinding);
    return StatusFromQlmCode(result);
}

QlaStatus _AutomationAPI::Request(AutomationTransaction** out, const std::function<int(QlmClientTransaction**)>& call)
{
    QlmClientTransaction* client = nullptr;
    int result = call(&client);
    return TransactionResult(result, client, out);
}

QlaStatus _AutomationAPI::ModeText(const char* mode, Qo::QoString& text)
{
    return Online([&]() {
        char* answer = nullptr;
        int result = _pClient->ModeText(mode, &answer);
        if (answer) {
            text = answer;
            std::free(answer);
        }
        return StatusFromQlmCode(result);
    });
}

QlaStatus _AutomationAPI::GetWorkGroupInfo(Qo::QoString& text)
{
    return ModeText("WorkGroup", text);
}

QlaStatus _AutomationAPI::GetIngestInfo(Qo::QoString& text)
{
    return ModeText("Ingest", text);
}

QlaStatus _AutomationAPI::GetZeltInfo(Qo::QoString& text)
{
    return ModeText("Zelt", text);
}

QlaStatus _AutomationAPI::GetPlaybackInfo(Qo::QoString& text)
{
    return ModeText("Playback", text);
}

QlaStatus _AutomationAPI::Online(const std::function<QlaStatus()>& body)
{
    if (!_pClient)
        return NotConnected(kOffline);
    try {
        return body();
    } catch (...) {
        return Failed(kUnknownError);
    }
}

QlaStatus _AutomationAPI::FileRequest(const Qo::QoString& fileName, bool xmlGiven, AutomationTransaction** out,
                                      const std::function<int(const std::vector<char>&, QlmClientTransaction**)>& call)
{
    return Online([&]() {
        std::vector<char> contents;
        StatusCode code = ReadRequestFile(fileName, contents);
        // An XML request goes out without contents when its file cannot be read.
        if (code != kSuccess && !xmlGiven)
            return Failed(code);
        if (code != kSuccess)
            contents.clear();
        return Request(out, [&](QlmClientTransaction** transaction) { return call(contents, transaction); });
    });
}

QlaStatus _AutomationAPI::RequestPriorityTransfer(Qo::QoString text1, Qo::QoString fileName, Qo::QoString text3,
                                                  int& priority, AutomationTransaction** out, int option)
{
    return Online([&]() {
        std::vector<char> contents;
        StatusCode code = ReadRequestFile(fileName, contents);
        if (code != kSuccess)
            return Failed(code);
        char host[kHostNameRoom];
        StatusCode hostCode = GetLocalHostName(host, kHostNameRoom);
        int mapped = (priority == 0 || priority == 1) ? priority : 2;
        if (!AllMediaOnline(DataOf(contents), contents.size()))
            return Failed(kQlaErrorMediaNotOnline);
        if (hostCode != kSuccess)
            return Failed(hostCode);
        return Request(out, [&](QlmClientTransaction** transaction) {
            return _pClient->PriorityRequest(text1.ToCString(), text3.ToCString(), host, DataOf(contents),
                                             SizeOf(contents), mapped, transaction, option);
        });
    });
}

QlaStatus _AutomationAPI::RequestTransfer(Qo::QoString text1, Qo::QoString fileName, Qo::QoString text3,
                                          Qo::QoString text4, AutomationTransaction** out)
{
    char host[kHostNameRoom];
    GetLocalHostName(host, kHostNameRoom);
    return FileRequest(fileName, false, out, [&](const std::vector<char>& contents, QlmClientTransaction** t) {
        return _pClient->TransferRequest(text1.ToCString(), text3.ToCString(), host, text4.ToCString(), 0,
                                         DataOf(contents), SizeOf(contents), 0, t);
    });
}

QlaStatus _AutomationAPI::RequestFileTransfer(Qo::QoString text1, Qo::QoString text2, Qo::QoString fileName,
                                              Qo::QoString text4, AutomationTransaction** out)
{
    return FileRequest(fileName, false, out, [&](const std::vector<char>& contents, QlmClientTransaction** t) {
        return _pClient->FileTransferRequest(text1.ToCString(), text2.ToCString(), DataOf(contents), SizeOf(contents),
                                             text4.ToCString(), 0, 0, t);
    });
}

QlaStatus _AutomationAPI::RequestIngest(Qo::QoString text1, Qo::QoString deviceName, Qo::QoString text3,
                                        Qo::QoString text4, AutomationTransaction** out)
{
    return RequestIngest(text1, deviceName, text3, text4, false, out);
}

QlaStatus _AutomationAPI::RequestTransferXML(Qo::QoString text1, Qo::QoString text2, Qo::QoString fileName,
                                             Qo::QoString xml, AutomationTransaction** out)
{
    return FileRequest(fileName, !xml.IsEmpty(), out, [&](const std::vector<char>& contents, QlmClientTransaction** t) {
        return _pClient->XmlRequest(text1.ToCString(), text2.ToCString(), DataOf(contents), SizeOf(contents), 0,
                                    xml.ToCString(), t);
    });
}

QlaStatus _AutomationAPI::RequestTransferXMLEx(Qo::QoString text1, Qo::QoString text2, Qo::QoString text3,
                                               Qo::QoString fileName, Qo::QoString xml, AutomationTransaction** out)
{
    return FileRequest(fileName, !xml.IsEmpty(), out, [&](const std::vector<char>& contents, QlmClientTransaction** t) {
        return _pClient->XmlRequestEx(text1.ToCString(), text2.ToCString(), text3.ToCString(), DataOf(contents),
                                      SizeOf(contents), 0, xml.ToCString(), t);
    });
}

QlaStatus _AutomationAPI::UnimplementedRequest(Qo::QoString, Qo::QoString, Qo::QoString)
{
    return Failed(kQlaErrorUnimplementedFunction);
}

QlaStatus _AutomationAPI::UnimplementedRequest(Qo::QoString, Qo::QoString)
{
    return Failed(kQlaErrorUnimplementedFunction);
}

QlaStatus _AutomationAPI::GetNamedText(Qo::QoString name, char* buffer, int* size)
{
    return Online([&]() {
        if (!buffer || !size || *size <= 0)
            return Failed(kQlaErrorUninitializedParameter);
        const int given = *size;
        // Starts as an empty text: whatever the library writes, the caller gets a terminated one.
        std::memset(buffer, 0, static_cast<size_t>(given));
        QlaStatus status = StatusFromQlmCode(_pClient->NamedText(name.ToCString(), buffer, *size));
        buffer[given - 1] = 0;
        if (*size > given)
            status = Failed(kQlaErrorBufferTooSmall);
        return status;
    });
}

bool _AutomationAPI::ReadMediaType(std::string& value) const
{
    if (!_pClient)
        return false;
    try {
        char first[kContextRoom] = {};
        char second[kContextRoom] = {};
        _pClient->ContextTexts(first, second);
        second[kContextRoom - 1] = 0;
        char setting[kSettingRoom] = {};
        int size = kSettingRoom;
        if (_pClient->Setting("qlmmediatype", setting, &size, second) != 0)
            return false;
        value.assign(setting, strnlen(setting, sizeof setting));
        return true;
    } catch (...) {
        return false;
    }
}

QlaStatus _AutomationAPI::CreateProxyMob(Qo::QoString tapeName, ProxyTrackFlags tracks, int hours, int minutes,
                                         int seconds, int frames, int rateKind, int nonDrop, int videoCompression,
                                         int /*audioCompression*/, Qo::QoString fileName, char* mobIdText)
{
    try {
        ProxyComposition proxy;
        std::string mediaType;
        proxy.aaf = ReadMediaType(mediaType) && mediaType == "AAF";
        proxy.tapeName = tapeName.ToCString();
        for (int track = 0; track < 9; ++track) {
            if (tracks.track[track])
                proxy.tracks.push_back(track);
        }
        proxy.rate = rateKind == 1 ? 30 : 25;
        proxy.drop = nonDrop == 0;
        proxy.hours = hours;
        proxy.minutes = minutes;
        proxy.seconds = seconds;
        proxy.frames = frames;
        proxy.videoCompression = CompressionTypeName(videoCompression);
        proxy.fileName = fileName.ToCString();
        return StatusFromQlmCode(WriteProxyComposition(proxy, mobIdText));
    } catch (...) {
        return StatusFromQlmCode(kCompositionFailed);
    }
}

QlaStatus _AutomationAPI::SetMobAttribute(Qo::QoString fileName, Qo::QoString name, Qo::QoString value,
                                          Qo::QoString category)
{
    try {
        int result = kCompositionFailed;
        if (!fileName.IsEmpty() && !name.IsEmpty() && !value.IsEmpty())
            result = SetCompositionAttribute(fileName.ToCString(), name.ToCString(), value.ToCString(),
                                             category.ToCString());
        return StatusFromQlmCode(result);
    } catch (...) {
        return StatusFromQlmCode(kCompositionFailed);
    }
}

QlaStatus _AutomationAPI::RequestIngestFromFile(Qo::QoString text1, Qo::QoString text2, Qo::QoString fileName,
                                                Qo::QoString text4, bool /*tagAsGantrel*/, AutomationTransaction** out)
{
    // Without the client library nothing can be requested: a failure, never a success.
    if (!_pClient)
        return NotConnected(kOffline);
    try {
        if (fileName.IsEmpty())
            return Failed(kQlaErrorSourceFilenameUnspecified);
        std::vector<char> contents;
        if (!ReadWholeFile(fileName.ToCString(), contents))
            return Failed(kQlaErrorFileNotFound);
        // Tagging the composition as "Gantrel" is not done: which composition and attribute it should
        // address was never settled, and the contents are no file name to open.
        return Request(out, [&](QlmClientTransaction** transaction) {
            return _pClient->CompositionRequest(text1.ToCString(), text2.ToCString(), text4.ToCString(),
                                                DataOf(contents), SizeOf(contents), transaction);
        });
    } catch (...) {
        return StatusFromQlmCode(kCompositionFailed);
    }
}

}  // namespace MirelQla
