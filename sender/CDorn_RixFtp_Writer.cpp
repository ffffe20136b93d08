#include "sender/CDorn_RixFtp_Writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <thread>
#include <utility>

#include "common/CLogManager.h"
#include "common/TcDate.h"
#include "media/DvcproFrames.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "sender/DornCodecFrames.h"
#include "xml/CXmlDocument.h"
#include "xml/CXmlNode.h"

namespace
{
uint32_t FieldNumber(const CTimeCode& timecode)
{
    return timecode.GetFrameCount() * timecode.GetFieldsPerFrame() + (timecode.IsSecondField() ? 1 : 0);
}

std::string Hex(const uint8_t* bytes, size_t count)
{
    std::string out;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

void Element(std::string& text, const char* name, const std::string& value)
{
    text += std::string("<") + name + ">" + value + "</" + name + ">\n";
}

// The characters the ids this system makes never hold, as a server clip's file name cannot.
constexpr std::string_view kNotInLouthId = ".\\/:*?\"<>|%";

bool AnyFileWithStem(const std::filesystem::path& stem)
{
    std::error_code error;
    const std::filesystem::path dir = stem.has_parent_path() ? stem.parent_path() : ".";
    const std::string name = stem.filename().string();
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string other = entry.path().filename().string();
        if (other == name ||
            (other.size() > name.size() && other.compare(0, name.size(), name) == 0 && other[name.size()] == '.'))
            return true;
    }
    return false;
}
}  // namespace

CDorn_RixFtp_Writer::CDorn_RixFtp_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain,
                                         const char* louthIdBackup, const char* varIdBackup, int refModeMain,
                                         const char* refPathMain, int refModeBackup, const char* refPathBackup,
                                         const char* tapeId, const char* owner, uint32_t serial)
    : CDorn_Korvo_Writer(clipName, louthIdMain, varIdMain, louthIdBackup, varIdBackup, serial, true),
      _szTapeId(tapeId ? tapeId : ""),
      _szOwner(owner ? owner : ""),
      _nRefModeMain(refModeMain),
      _nRefModeBackup(refModeBackup),
      _szRefPathMain(refPathMain ? refPathMain : ""),
      _szRefPathBackup(refPathBackup ? refPathBackup : "")
{
    // A data connection lost during a block fails that server's block instead of resuming it.
    CKorvoFtpClient::SetFtpRecovery(false);
}

CDorn_RixFtp_Writer::~CDorn_RixFtp_Writer() = default;

void CDorn_RixFtp_Writer::CloseQuietly() noexcept
{
    try {
        if (!_connections.empty() || _pBlock)
            Close(IsCancelled());
    } catch (...) {
        theLogManager.Log("CDorn_RixFtp_Writer - Close EXCEPTION caught in destructor");
    }
}

std::string CDorn_RixFtp_Writer::ServerIdFault(const std::string& id, bool louthId)
{
    for (const char c : id) {
        const auto code = static_cast<unsigned char>(c);
        char shown[32];
        if (code < 0x20 || code == 0x7F) {
            std::snprintf(shown, sizeof shown, "a control character (0x%02X)", code);
            return std::string("holds ") + shown +
                   (louthId ? ", which a server clip's file name cannot carry" : ", which the clip table cannot carry");
        }
        if (louthId && kNotInLouthId.find(c) != std::string_view::npos) {
            std::snprintf(shown, sizeof shown, "'%c'", c);
            return std::string("holds ") + shown + ", which a server clip's file name cannot carry";
        }
    }
    return std::string();
}

void CDorn_RixFtp_Writer::SetClientTimeouts(const FtpTimeouts& ftp, const RixTimeouts& rix)
{
    _ftpTimeouts = ftp;
    _rixTimeouts = rix;
    _bTimeoutsSet = true;
}

bool CDorn_RixFtp_Writer::ParseTarget(const char* path)
{
    const std::string target(path ? path : "");
    if (target.size() <= 6 || target.compare(0, 6, "ftp://") != 0) {
        theLogManager.Log("CDorn_RixFtp_Writer - Invalid target [%s]", target.c_str());
        return false;
    }
    const std::string rest = target.substr(6);
    const size_t slash = rest.find_first_of("/\\");
    _szHostList = rest.substr(0, slash);
    _szDirectory = slash == std::string::npos ? "/" : rest.substr(slash);
    const size_t last = _szDirectory.find_last_of("/\\");
    _szClipId = _szDirectory.substr(last + 1);
    _szDirectory.erase(last + 1);
    if (_szClipId.empty())
        _szClipId = "000111?";
    if (_szClipId[0] != '[' && _szClipId.size() < 7)
        _szClipId.insert(0, 7 - _szClipId.size(), '0');
    return !_szHostList.empty();
}

int CDorn_RixFtp_Writer::Open(const char* path, uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, int,
                              CTimeCode start, int64_t duration)
{
    _nPictureCode = pictureCode;
    _nBitrate = bitrate;
    ConfigureVariant();
    if (const int common = OpenCommon(pictureCode, _nBitrate, channels, sampleBits, start, duration); common != 0)
        return common;
    if (!ParseTarget(path))
        return -1;
    // The ids as OpenCommon settled them: each becomes part of the clip's name on the servers.
    const std::pair<const char*, const std::string*> ids[] = {{"main Louth id", &_szLouthIdMain},
                                                              {"main VarID", &_szVarIdMain},
                                                              {"backup Louth id", &_szLouthIdBackup},
                                                              {"backup VarID", &_szVarIdBackup}};
    for (const auto& [field, id] : ids) {
        if (const std::string fault = ServerIdFault(*id, std::strstr(field, "Louth") != nullptr); !fault.empty()) {
            theLogManager.Log("CDorn_RixFtp_Writer - the %s %s", field, fault.c_str());
            return -1;
        }
    }

    _szServerClipName = _szClipName;
    for (char& c : _szServerClipName)
        if (std::strchr(".<>:?*/\\\"", c))
            c = ' ';
    _szServerClipName.resize(24, ' ');

    _nFirstField = FieldNumber(_start);
    _nFieldOffset = 0;
    if (_nFirstField < 1000) {
        _nFieldOffset = 1000 - _nFirstField;
        _nFirstField = 1000;
    }

    _pBlock = platform::MakePageBuffer(kBlockBytes);
    if (!_pBlock)
        return 1;
    SetStandard(pictureCode);
    SetProgressive(pictureCode > 5);
    KorvoMXFBlockWriter::SetAspectRatio(static_cast<uint32_t>(_nAspectCode));
    SetFormatFlag(false);
    SetTableHeaderByte(0);
    SetVideoChannelCount(1);
    SetTwoFields(false);
    SetAudioGroupCount(static_cast<uint32_t>(GetServerChannels() / 4));
    SetAudioFormat(1);
    SetFirstField(_nFirstField);
    SetBlockType(KORVOMXF_BLOCK_BAVD_8MB);
    SetBlockBuffer(_pBlock.get(), kBlockBytes);
    SetDualLink(false);
    SetSimultaneousMode(false);
    SetVideoSystem(_video._nVideoFormat == 5   ? (pictureCode > 5 ? 3 : 4)
                   : _video._nVideoFormat == 9 ? (pictureCode == 4 || pictureCode == 5 ? 1 : 2)
                   : _video._nVideoFormat == 4 ? (pictureCode == 3 ? 2 : 1)
                                               : (pictureCode >= 6 ? 3 : 4));
    SetVideoFormat(_video._nVideoFormat);
    _nBlocksWritten = 0;
    _bOpened = _bRefXmlDone = _bOpenFailed = false;
    _dropped.clear();
    _szUndeleted.clear();
    return 0;
}

bool CDorn_RixFtp_Writer::WaitOrCancelled(uint32_t milliseconds) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!IsCancelled()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return false;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(20)));
    }
    return true;
}

bool CDorn_RixFtp_Writer::Connect(CRixFtpClient& client)
{
    int noWelcome = 0, other = 0;
    // A cancel also ends a wait for the server's welcome or reply, not only the pauses between attempts; a
    // connection made is left to the cancel's own clean-up (deleting the clip).
    client.SetAbortSignal(_pCancel);
    struct EndAbort {
        CRixFtpClient& client;
        ~EndAbort() { client.SetAbortSignal(nullptr); }
    } endAbort{client};
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (IsCancelled())
            return false;
        int code = 0;
        if (client.TryConnect(&code))
            return true;
        uint32_t wait = 0;
        if (code == 5) {
            if (++noWelcome >= _retry.nNoWelcomeAttempts ||
                std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(_retry.nNoWelcomeGiveUpMs))
                return false;
            wait = _retry.nNoWelcomeWaitMs;
        } else {
            if (++other >= _retry.nOtherAttempts)
                return false;
            wait = _retry.nOtherWaitMs;
        }
        if (WaitOrCancelled(wait))
            return false;
    }
}

void CDorn_RixFtp_Writer::NoteLost(int destination, const std::string& cause)
{
    if (!_szLost.empty())
        _szLost += "; ";
    _szLost += std::string(destination == 0 ? "main" : "backup") + " server lost" + (cause.empty() ? "" : ": " + cause);
}

int CDorn_RixFtp_Writer::DoOpenRixFtpClip()
{
    size_t from = 0;
    for (int destination = 0;; ++destination) {
        const size_t plus = _szHostList.find('+', from);
        const std::string host = _szHostList.substr(from, plus == std::string::npos ? std::string::npos : plus - from);
        if (destination >= 2) {
            theLogManager.Log("*** Dorn_RixFtp_Writer.Open() : only two loops are supported !");
            break;
        }
        const std::string& louthId = destination == 0 ? _szLouthIdMain : _szLouthIdBackup;
        const std::string& varId = destination == 0 ? _szVarIdMain : _szVarIdBackup;
        theLogManager.Log(destination == 0 ? "Dorn_RixFtp_Writer.Open() : first loop, LouthID is [%s]"
                                           : "Dorn_RixFtp_Writer.Open() : second loop, LouthID is [%s]",
                          louthId.c_str());
        const std::string url =
            "ftp://" + host + _szDirectory + _szClipId + "_" + louthId + "_" + _szServerClipName + ".CLP";
        auto client = std::make_unique<CRixFtpClient>("");
        if (_bTimeoutsSet) {
            client->SetTimeouts(_ftpTimeouts);
            client->SetRixTimeouts(_rixTimeouts);
        }
        client->SetClipUrl(url, false);
        if (!Connect(*client)) {
            theLogManager.Log("*** FAILED To Open Client connection [ %s ] ***", url.c_str());
            NoteLost(destination, client->GetLastFailure());
        } else {
            theLogManager.Log("--- Opened Client connection [ %s ] ---", url.c_str());
            std::string resolved;
            if (!client->GetClipUrl(&resolved, false)) {
                theLogManager.Log("*** Clip Resolution FAILED ***");
            } else {
                theLogManager.Log("Dorn_RixFtp_Writer.Open() : loop [%d] call UpdateClipMetadata with szVarID = [%s]",
                                  destination, varId.c_str());
                UpdateClipMetadata(*client, client->GetClipName(), varId);
                if (client->OpenClipAtStart(1) != 0) {
                    theLogManager.Log("*** OpenRixClip FAILED ***");
                    // Its clip table is on the server already.
                    _dropped.push_back(resolved);
                } else {
                    client->StartKeepAlive();
                    _connections.push_back(Connection{std::move(client), destination, resolved});
                }
            }
        }
        if (client)
            client->Close(true, false);
        if (plus == std::string::npos || IsCancelled())
            break;
        from = plus + 1;
    }
    _bOpened = true;
    return _connections.empty() ? -1 : 0;
}

int CDorn_RixFtp_Writer::UpdateClipMetadata(CRixFtpClient& client, const std::string& clipFileName,
                                            const std::string& varId)
{
    std::string text = "<?xml version=\"1.0\"?>\n<!-- V01.00.03 Created by RixAccess-->\n<QVCLIPTABLE>\n";
    text += "<XML_FLAG>1</XML_FLAG>\n";
    Element(text, "CLIPNAME", _szServerClipName);
    Element(text, "NUMCLIPLenmark", std::to_string(std::strtoul(clipFileName.c_str(), nullptr, 10)));
    Element(text, "CAMERA", clipFileName.size() > 6 ? std::string(1, clipFileName[6]) : std::string());
    Element(text, "CLIPIDSOURCE", NewClipId());
    text += "<CLIPNAMESOURCE>From_Mirel</CLIPNAMESOURCE>\n";
    // The in point with the short points: a table without it reads as a clip from field 0, which moves every
    // timecode the browser derives from the timecode stamps below.
    Element(text, "IN", std::to_string(_nFirstField));
    Element(text, "SHORTIN", std::to_string(_nFirstField));
    if (_nDurationFields != 0) {
        Element(text, "OUT", std::to_string(_nFirstField + _nDurationFields));
        Element(text, "SHORTOUT", std::to_string(_nFirstField + _nDurationFields));
    }
    Element(text, "OFFSETTC", std::to_string(static_cast<uint32_t>(-_nFieldOffset)));
    const uint32_t type = _video._nVideoFormat;
    const char* compression = type == 4   ? "3"
                              : type == 5 ? "4"
                              : type == 7 ? "6"
                              : type == 8 ? "7"
                              : type == 9 ? "8"
                                          : "";
    Element(text, "VIDEOCOMPRESSIONTYPE", compression);
    Element(text, "VIDEOCOMPRESSIONRATE", std::to_string(_nBitrate / 1000000));
    const int blockSystem = static_cast<int>(_video._nLines == 1080                           ? 4
                                             : _video._nLines == 720                          ? 3
                                             : _video._nLines == 512 || _video._nLines == 480 ? 1
                                                                                              : 2);
    const int videoFormat = (blockSystem == 3 ? 16 : blockSystem == 4 ? 32 : 8) | (_nSystem == 3 ? 1 : 4);
    Element(text, "VIDEOFORMAT", std::to_string(videoFormat));
    Element(text, "ASPECTRATIO", _nAspectCode == 3 ? "2" : "1");
    Element(text, "AUDIOMODE", GetServerChannels() == 0 ? "0" : GetServerChannels() == 4 ? "3" : "4");
    Element(text, "NBCHANNELAV", "1");

    const platform::LocalTime now = platform::LocalNow();
    const CTimeCode first(_nFirstField, _nSystem == 3 ? 3 : 4);
    uint16_t h = 0, m = 0, s = 0, f = 0;
    first.GetHMSF(h, m, s, f);
    const TcDate date(_nSystem == 3 ? 0 : 2, static_cast<uint16_t>(now.year), static_cast<uint8_t>(now.month),
                      static_cast<uint8_t>(now.day), static_cast<uint8_t>(h), static_cast<uint8_t>(m),
                      static_cast<uint8_t>(s), static_cast<uint8_t>(f), first.IsSecondField() ? 1 : 0);
    uint8_t packed[8] = {};
    date.Pack(false, packed);
    const std::string tc = Hex(packed, sizeof packed);
    for (const char* name : {"TC_USR_SOURCE", "TC_TOD_SOURCE", "TC_USR_CURRENT", "TC_TOD_CURRENT"})
        Element(text, name, tc);
    text += "<SOURCE_PRIMARY_TC>0</SOURCE_PRIMARY_TC>\n<CURRENT_PRIMARY_TC>0</CURRENT_PRIMARY_TC>\n";
    std::string varId32 = varId.substr(0, 32);
    varId32.resize(32, ' ');
    const std::string varHex = Hex(reinterpret_cast<const uint8_t*>(varId32.data()), varId32.size());
    theLogManager.Log("Dorn_RixFtp_Writer.UpdateClipMetadata() szVarID32 = [%s] hexa = [%s]", varId32.c_str(),
                      varHex.c_str());
    Element(text, "VARID32", varHex);
    Element(text, "VARID32_CURSIZE", std::to_string(std::min<size_t>(varId.size(), 32)));
    text += "</QVCLIPTABLE>\n";

    int result = client.OpenClipXml(1);
    if (result == 0) {
        uint32_t written = 0;
        result = client.WriteData(text.data(), static_cast<uint32_t>(text.size()), &written);
        // Closing answers with the transfer's end reply: 226 when the server took the whole text.
        const int closed = client.CloseClip(false);
        if (result == 0 && closed != 0 && closed != 226)
            result = closed;
    }
    if (result != 0)
        theLogManager.Log("Dorn_RixFtp_Writer.UpdateClipMetadata() : clip table not sent [%i]", result);
    if (!_szMetadataCopy.empty()) {
        std::ofstream copy(platform::ToLocalPath(_szMetadataCopy), std::ios::binary | std::ios::trunc);
        copy << text;
    }
    return 0;
}

std::string CDorn_RixFtp_Writer::InsureUniqueFileName(const std::string& path, bool keep)
{
    if (keep)
        return path;
    const size_t dot = path.rfind('.');
    const size_t slash = path.find_last_of("/\\");
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string base = hasExt ? path.substr(0, dot) : path;
    const std::string ext = hasExt ? path.substr(dot) : std::string();
    if (!AnyFileWithStem(platform::ToLocalPath(base)))
        return path;
    theLogManager.Log("CDornsend::InsureUniqueFileName() : File %s already exists !", path.c_str());
    int n = 1;
    while (AnyFileWithStem(platform::ToLocalPath(base + " (" + std::to_string(n) + ")")))
        ++n;
    const std::string unique = base + " (" + std::to_string(n) + ")" + ext;
    theLogManager.Log("CDornsend::InsureUniqueFileName() : New Target File [ %s ]", unique.c_str());
    return unique;
}

void CDorn_RixFtp_Writer::CreateStqReferencingXMLFile(const std::string& varId, const std::string& url,
                                                      const std::string& destination)
{
    theLogManager.Log("CDorn_XFtpX_Writer::CreateStqReferencingXMLFile()...");
    // The server's clip file name closes the URL: clip id (7), '_', Louth id (8), '_', name (24), ".CLP".
    constexpr size_t kTail = 50;
    if (url.size() < kTail) {
        theLogManager.Log("*** CDornsend::CreateStqReferencingXMLFile(): URL too short [%s]", url.c_str());
        return;
    }
    const size_t end = url.size();
    // The server's address: the URL's host, without log-in and port (a fixed cut from the end would take
    // part of the directory for any directory but one length).
    const size_t hostStart = url.compare(0, 6, "ftp://") == 0 ? 6 : 0;
    std::string host = url.substr(hostStart, url.find_first_of("/\\", hostStart) - hostStart);
    if (const size_t at = host.rfind('@'); at != std::string::npos)
        host.erase(0, at + 1);
    host = host.substr(0, host.find(':'));
    CXmlDocument doc;
    if (!doc.Create() || !doc.AddProcessingInstruction("xml", "version=\"1.0\"")) {
        theLogManager.Log("*** CDornsend::CreateStqReferencingXMLFile(): Failed to save Metadatas file to [%s]",
                          destination.c_str());
        return;
    }
    auto root = doc.CreateRootNode("Korvo_Metadatas");
    auto clip = root->AddChildNode("Clips_Infos")->AddChildNode("Clip");
    auto parvex = clip->AddChildNode("Parvex_Clip_Infos");
    parvex->AddChildNode("Rix_UmID")->SetText(url.substr(end - 37, 8));
    if (!varId.empty())
        parvex->AddChildNode("Rix_VarID")->SetText(varId);
    parvex->AddChildNode("Rix_IP_Address1")->SetText(host);
    parvex->AddChildNode("Rix_NumClip")->SetText(url.substr(end - 42, 3));
    parvex->AddChildNode("Rix_Camera")->SetText(url.substr(end - 39, 1));
    auto strovane = clip->AddChildNode("Strovane_Clip_Infos");
    if (!_szOwner.empty())
        strovane->AddChildNode("Owner")->SetText(_szOwner);
    strovane->AddChildNode("TapeID")->SetText(_szTapeId);

    theLogManager.Log(
        "CDorn_XFtpX_Writer::CreateStqReferencingXMLFile() : before InsureUniqueFileName() szFileDestination = [%s]...",
        destination.c_str());
    const std::string unique = InsureUniqueFileName(destination, false);
    theLogManager.Log(
        "CDorn_RixFtp_Writer::CreateStqReferencingXMLFile() : after InsureUniqueFileName() szFileDestination = [%s]...",
        unique.c_str());
    if (doc.Save(platform::ToLocalPath(unique).c_str()))
        theLogManager.Log("CDornsend::CreateStqReferencingXMLFile(): Metadatas file saved successfully to [%s]",
                          unique.c_str());
    else
        theLogManager.Log("*** CDornsend::CreateStqReferencingXMLFile(): Failed to save Metadatas file to [%s]",
                          unique.c_str());
}

void CDorn_RixFtp_Writer::WriteReferencingXml()
{
    // Each server's referencing XML names that server's own clip.
    for (const Connection& connection : _connections) {
        if (connection.nDestination == 0 && _nRefModeMain == 2)
            CreateStqReferencingXMLFile(_szVarIdMain, connection.szUrl, _szRefPathMain);
        if (connection.nDestination == 1 && _nRefModeBackup == 2)
            CreateStqReferencingXMLFile(_szVarIdBackup, connection.szUrl, _szRefPathBackup);
    }
    _bRefXmlDone = true;
}

int CDorn_RixFtp_Writer::WriteBlock()
{
    // A cancel ends the clip here: nothing more is sent, every connection stays for Close to delete its clip.
    if (IsCancelled())
        return kWriteCancelled;
    if (!_bOpened) {
        const int opened = DoOpenRixFtpClip();
        if (IsCancelled())
            return kWriteCancelled;
        if (opened != 0) {
            theLogManager.Log("*** Dorn_RixFtp_Writer::DoOpenRixFtpClip FAILED !! [%i]", opened);
            _bOpenFailed = true;
            return opened;
        }
    }
    if (_connections.empty())
        return -1;
    int failures = 0;
    for (Connection& connection : _connections) {
        if (IsCancelled())
            return kWriteCancelled;
        uint32_t written = 0;
        int result = connection.pClient->WriteData(_pBlock.get(), kBlockBytes, &written);
        if (result == 0 && written != kBlockBytes)
            result = -1;
        if (result == 0)
            continue;
        // A write cut short while the transfer was being cancelled: the server stays listed, so that Close
        // deletes its clip.
        if (IsCancelled())
            return kWriteCancelled;
        ++failures;
        if (connection.nDestination == 0 && _nRefModeMain == 2) {
            _nRefModeMain = 0;
            theLogManager.Log(
                "CDorn_RixFtp_Writer::WriteBlock() : Detected the MAIN transfer failed --> do not "
                "create the referencing XML file !");
        }
        if (connection.nDestination == 1 && _nRefModeBackup == 2) {
            _nRefModeBackup = 0;
            theLogManager.Log(
                "CDorn_RixFtp_Writer::WriteBlock() : Detected the BACKUP transfer failed --> do not "
                "create the referencing XML file !");
        }
        theLogManager.Log("CDorn_RixFtp_Writer::WriteBlock() : %s server block write FAILED [%i] -> dropped",
                          connection.nDestination == 0 ? "MAIN" : "BACKUP", result);
        NoteLost(connection.nDestination, "a block write failed: " + connection.pClient->GetLastFailure());
        connection.pClient->CloseClip(true);
        connection.pClient->StopKeepAlive();
        connection.pClient->Close(false, true);
        connection.pClient.reset();
        _dropped.push_back(connection.szUrl);
    }
    // A server that failed a block is dropped: the clip on it is incomplete and later blocks must not follow.
    std::erase_if(_connections, [](const Connection& c) { return !c.pClient; });
    if (!_bRefXmlDone && !_connections.empty())
        WriteReferencingXml();
    return _connections.empty() && failures ? -1 : 0;
}

int CDorn_RixFtp_Writer::PutElement(const KorvoMXFVideoInfo& video, const uint8_t* data, uint32_t audioCount,
                                    const KorvoMXFAudioInfo* audioInfo, const uint8_t* audio)
{
    const uint32_t count = HasAudio() ? audioCount : 0;
    KorvoMXFResult result = KorvoMXFBlockWriter::AddPicture(1, &video, data, count, audioInfo, count ? audio : nullptr,
                                                            0, nullptr, nullptr);
    if (result == KORVOMXF_ERR_INSUFFICIENT_BUFFER) {
        const int sent = WriteBlock();
        if (sent != 0) {
            theLogManager.Log("%s - Write Data FAILED !!", VariantName());
            return sent;
        }
        ++_nBlocksWritten;
        SetBlockBuffer(_pBlock.get(), kBlockBytes);
        result = KorvoMXFBlockWriter::AddPicture(1, &video, data, count, audioInfo, count ? audio : nullptr, 0, nullptr,
                                                 nullptr);
    }
    if (result != KORVOMXF_OK)
        theLogManager.Log("%s - AddPicture ERROR %li", VariantName(), static_cast<long>(result));
    return static_cast<int>(result);
}

bool CDorn_RixFtp_Writer::DeleteServerFile(CRixFtpClient& client, const std::string& path)
{
    // A clip still being closed by the server (450) is asked again; so is one the server refused (550) but keeps,
    // since servers answer 550 for denied and busy as well as for a file they do not have.
    for (int attempt = 0;; ++attempt) {
        const int result = client.DeleteFile(path);
        if (result == 0)
            return true;
        if (result == -1) {
            int64_t size = 0;
            const int held = client.GetFileSize(path, &size);
            if (held == 2 && client.GetLastReplyCode() == 550)
                return true;
            theLogManager.Log("CDorn_RixFtp_Writer - %s refused (%s) but %s", path.c_str(),
                              client.GetLastReply().c_str(),
                              held == 0 ? "still there" : "the server does not say it is gone");
        }
        if (attempt + 1 == kDeleteAttempts || !client.IsConnected())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kDeleteRetryMs));
    }
}

bool CDorn_RixFtp_Writer::DeleteCreatedClip(CRixFtpClient& client)
{
    const std::string& clip = client.GetClipName();
    const std::string table = clip.substr(0, clip.rfind('.')) + ".XML";
    const bool clipGone = DeleteServerFile(client, client.GetClipDirectory() + clip);
    const bool tableGone = DeleteServerFile(client, client.GetClipDirectory() + table);
    return clipGone && tableGone;
}

void CDorn_RixFtp_Writer::NoteUndeleted(const std::string& url)
{
    theLogManager.Log("*** Transfer CANCELLED -> created clip NOT deleted [ %s ] ***", url.c_str());
    _szUndeleted += (_szUndeleted.empty() ? "cancelled, but left on the server: " : ", ") + url;
}

bool CDorn_RixFtp_Writer::DeleteCreatedClip(const std::string& url)
{
    CRixFtpClient client("");
    if (_bTimeoutsSet) {
        client.SetTimeouts(_ftpTimeouts);
        client.SetRixTimeouts(_rixTimeouts);
    }
    client.SetClipUrl(url, false);
    int code = 0;
    const bool deleted = client.TryConnect(&code) && DeleteCreatedClip(client);
    client.Close(true, false);
    return deleted;
}

void CDorn_RixFtp_Writer::CloseConnections(bool cancelled)
{
    for (Connection& connection : _connections) {
        connection.pClient->StopKeepAlive();
        connection.pClient->CloseClip(false);
        if (cancelled) {
            theLogManager.Log("+++ Transfer CANCELLED -> DELETING created clip !!! +++");
            // A control connection that did not outlive the cut transfer: the clip is deleted over a new one.
            if (!DeleteCreatedClip(*connection.pClient)) {
                connection.pClient->Close(false, true);
                if (!DeleteCreatedClip(connection.szUrl))
                    NoteUndeleted(connection.szUrl);
            }
        }
        connection.pClient->Close(true, false);
    }
    _connections.clear();
    // The clips of the servers dropped on the way.
    if (cancelled) {
        for (const std::string& url : _dropped) {
            theLogManager.Log("+++ Transfer CANCELLED -> DELETING created clip !!! +++");
            if (!DeleteCreatedClip(url))
                NoteUndeleted(url);
        }
    }
    _dropped.clear();
}

int CDorn_RixFtp_Writer::Close(bool cancelled)
{
    int first = CloseCommon(cancelled);
    if (!cancelled && _pBlock && GetBlockFieldCount() > 0) {
        const int sent = _bOpenFailed && _connections.empty() ? -1 : WriteBlock();
        if (sent == 0)
            ++_nBlocksWritten;
        else if (first == 0)
            first = sent;
    }
    if (!cancelled && !_bRefXmlDone && !_connections.empty())
        WriteReferencingXml();
    CloseConnections(cancelled);
    theLogManager.Log("CDorn_RixFtp_Writer - Close [%li Blocks Written]", static_cast<long>(_nBlocksWritten));
    _pBlock.reset();
    return first;
}

// IMX

void CDorn_RixFtpIMX_Writer::ConfigureVariant()
{
    _video = ImxRecord(_nPictureCode);
    _nFrameSize = -1;
}

int CDorn_RixFtpIMX_Writer::AddPicture(const DornFrame* frame)
{
    if (_nFrameSize < 0) {
        if (LearnImxFrame(frame, _nSystem, &_nFrameSize, &_nBitrate) == 0)
            return -1;
        theLogManager.Log("IMX Frame: %li Bytes", static_cast<long>(_nFrameSize));
    }
    return CDorn_Korvo_Writer::AddPicture(frame);
}

int CDorn_RixFtpIMX_Writer::WriteFrame()
{
    return WriteImxFrame(_video, _nFrameSize);
}

// DVCPRO

CDorn_RixFtpDVCPro_Writer::CDorn_RixFtpDVCPro_Writer(const char* clipName, const char* louthIdMain,
                                                     const char* varIdMain, const char* louthIdBackup,
                                                     const char* varIdBackup, int refModeMain, const char* refPathMain,
                                                     int refModeBackup, const char* refPathBackup, const char* tapeId,
                                                     const char* owner, uint32_t serial)
    : CDorn_RixFtp_Writer(clipName, louthIdMain, varIdMain, louthIdBackup, varIdBackup, refModeMain, refPathMain,
                          refModeBackup, refPathBackup, tapeId, owner, serial)
{
    SetFrameCapacity(dvcpro::kLargestFrameSize);
}

CDorn_RixFtpDVCPro_Writer::~CDorn_RixFtpDVCPro_Writer()
{
    CloseQuietly();
}

void CDorn_RixFtpDVCPro_Writer::ConfigureVariant()
{
    _video = _dvcpro.Configure(_nPictureCode, _nBitrate, _nAspectCode);
    _nFrameSize = -1;
}

int CDorn_RixFtpDVCPro_Writer::AddPicture(const DornFrame* frame)
{
    if (_nFrameSize < 0) {
        if (!LearnDVCPro(_dvcpro, frame, &_nFrameSize, "a video server"))
            return -1;
        // Before the block's first picture, which writes the block's table.
        KorvoMXFBlockWriter::SetAspectRatio(static_cast<uint32_t>(_nAspectCode));
    }
    return CDorn_Korvo_Writer::AddPicture(frame);
}

int CDorn_RixFtpDVCPro_Writer::WriteFrame()
{
    return WriteDVCProFrame(_dvcpro, _video, _nFrameSize);
}

// VC-3 (Hydrel)

CDorn_RixFtpHydrel_Writer::CDorn_RixFtpHydrel_Writer(const char* clipName, const char* louthIdMain,
                                                     const char* varIdMain, const char* louthIdBackup,
                                                     const char* varIdBackup, int refModeMain, const char* refPathMain,
                                                     int refModeBackup, const char* refPathBackup, const char* tapeId,
                                                     const char* owner, uint32_t serial)
    : CDorn_RixFtp_Writer(clipName, louthIdMain, varIdMain, louthIdBackup, varIdBackup, refModeMain, refPathMain,
                          refModeBackup, refPathBackup, tapeId, owner, serial)
{
    SetFrameCapacity(kMaxFrameCapacity);
}

void CDorn_RixFtpHydrel_Writer::ConfigureVariant()
{
    _nAspectCode = 3;
    if (_nPictureCode == 3 && _nBitrate == 145000000)
        _nBitrate = 120000000;
    if (_nPictureCode == 3 && _nBitrate == 220000000)
        _nBitrate = 185000000;
    _video = HydrelRecord(_nPictureCode);
    _nFrameSize = -1;
}

int CDorn_RixFtpHydrel_Writer::AddPicture(const DornFrame* frame)
{
    if (_nFrameSize < 0) {
        const dorncodec::HydrelUnits units = LearnHydrel(frame, &_nUnits, &_nUnitSize, &_nFrameSize);
        // A one-unit frame of interlaced material holds both fields, each with its sound.
        SetTwoFields(_nUnits == 1 && _bFieldPairs);
        const bool fifty = _nPictureCode == 3 || _nPictureCode == 6;
        _nBitrate = units.bHighQuality ? (fifty ? 185000000 : 220000000) : (fifty ? 120000000 : 145000000);
        theLogManager.Log("Hydrel Frame: %li Bytes [%i fields]", static_cast<long>(_nFrameSize),
                          static_cast<int>(_nUnits));
    }
    return CDorn_Korvo_Writer::AddPicture(frame);
}

int CDorn_RixFtpHydrel_Writer::WriteFrame()
{
    return WriteHydrelFrame(_video, _nUnits, _nUnitSize);
}
