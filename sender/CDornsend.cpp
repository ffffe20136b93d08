#include "sender/CDornsend.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

#include "common/CLogFile.h"
#include "common/CLogManager.h"
#include "common/CTimeCode.h"
#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/ContainerIF.h"
#include "outside/qo/Generic/ErrorIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/MediaDescriptor.h"
#include "outside/qo/Generic/Playlist.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "sender/CDorn_KorvoFile_Writer.h"
#include "sender/CDorn_Op1a_Writer.h"
#include "sender/CDorn_QTDV_Writer.h"
#include "sender/CDorn_RixFtp_Writer.h"
#include "sender/CPlaybackJobXml.h"
#include "sender/CSideCarXml.h"
#include "sender/CTargetNameFormatter.h"
#include "sender/DornsendIni.h"

std::atomic<int> CDornsend::s_nInstances{0};

namespace
{

constexpr int kVideoTrack = 0;
constexpr TcSystem kNtscNonDropSystem = 5;

bool SameNoCase(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

std::string WithBackslash(std::string folder)
{
    if (folder.empty() || (folder.back() != '\\' && folder.back() != '/'))
        folder += '\\';
    return folder;
}

// The name of a file path after its last folder separator, cut at its last '.'.
std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

uint32_t ParseSerial(const std::string& text)
{
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

// A target's text as a log or error text shows it: control characters escaped, a long text cut.
std::string Printable(const std::string& text)
{
    constexpr size_t kShown = 40;
    std::string out;
    for (size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += text[i];
        }
    }
    if (text.size() > kShown)
        out += "... (" + std::to_string(text.size()) + " characters)";
    return out;
}

// Why the serial gives the clips no id, empty when it does: the id generator takes serial / 10, and 0 there
// means the machine's "Global Serial Number".
std::string SerialFault(const CDorn_Korvo_Writer& writer, const std::string& serial)
{
    if (writer.CanMakeClipId())
        return std::string();
    std::string text = "Dornsend, TGT-Serial [" + Printable(serial) + "] gives no clip id: ";
    if (ParseSerial(serial) / 10 == 0)
        return text +
               "a serial below 10 takes the machine's \"Global Serial Number\", which is missing or not a "
               "multiple of 10; give the serial number (10 or more)";
    return text + "the serial number is outside the clip id's range";
}

}  // namespace

CDornsend::CDornsend()
{
    _audioChannel.fill(-1);
    int instance = ++s_nInstances;
    if (theLogManager.IsOpen()) {
        theLogManager.Log("------ new Dornsend instance [ %i ] ------- v.%s", instance, kVersion);
    } else {
        theLogManager.Open(GetLogFilePath("KorvoMirel", "Dornsend.log"), GetMaxLogSize());
        theLogManager.Log("Dornsend Dll v.%s", kVersion);
    }
}

CDornsend::~CDornsend()
{
    try {
        theLogManager.Log("DESTRUCTOR !!");
        if (_pWriter)
            Close();
        if (_blackFrame.GetSize() != 0) {
            ReleaseBlackFrame();
            theLogManager.Log("CDornsend::LoadBlackFrame() : BlackFrame deleted");
        }
    } catch (...) {
        // Nothing leaves a destructor; the writer is gone with the object either way.
    }
    --s_nInstances;
}

void CDornsend::SetErrorText(const std::string& text)
{
    std::lock_guard lock(_errorMutex);
    _szErrorText = text;
}

std::string CDornsend::GetErrorText()
{
    std::lock_guard lock(_errorMutex);
    return _szErrorText;
}

int32_t CDornsend::Fail(const std::string& text)
{
    SetErrorText(text);
    theLogManager.Log("%s", text.c_str());
    return Qo::Playback::kSendFailed;
}

bool CDornsend::ReadTarget(Qo::Generic::CompositionMobIF* composition, const char* key, std::string& value)
{
    value.clear();
    return composition->GetAttribute("_USER", key, value);
}

int32_t CDornsend::Open(Qo::Generic::CompositionMobIF* composition)
{
    _bOpened = true;
    _bRunning = true;
    _nFirstFrame = 0;
    try {
        return OpenTarget(composition);
    } catch (const Qo::Generic::ErrorIF& error) {
        _pWriter.reset();
        return Fail(std::string("Dornsend internal error>> ") + error.GetMsgText());
    } catch (...) {
        _pWriter.reset();
        return Fail("Unknown exception caught: internal Dorn error");
    }
}

int32_t CDornsend::OpenTarget(Qo::Generic::CompositionMobIF* composition)
{
    theLogManager.Log("CDornsend.Open(): OPEN...");
    if (!composition)
        return Fail("Dornsend, no composition in Open");
    if (_pWriter)
        return Fail("Dornsend, already open");
    std::string value;
    if (composition->GetAttribute("PlayServerError", value))
        return Fail(value);
    if (composition->GetAttribute("DestinationNickName", value))
        theLogManager.Log("CDornsend.Open(): Destination Nickname is %s\n", value.c_str());

    _nDuration = _nEndFrame = composition->GetDuration();
    theLogManager.Log("CDornsend.Open(): Sequence is %li Frames duration", static_cast<long>(_nDuration));
    // A clip of no frames does not open anywhere, and a track the target has no place for would be lost.
    if (_nDuration <= 0)
        return Fail("Dornsend, the composition has no frames (duration " + std::to_string(_nDuration) + ")");
    if (Qo::Generic::Playlist* playlist = composition->GetPlaylist(0))
        for (int32_t track : playlist->GetTrackList())
            if (track < kVideoTrack || track > kMaxTrack)
                return Fail("Dornsend, the composition names track " + std::to_string(track) +
                            "; tracks are 0 (video) and 1 to " + std::to_string(kMaxTrack) + " (audio)");
    composition->GetTapeID(_szTapeId);
    ReadTarget(composition, "TGT-StqOwner", _szOwner);
    composition->GetName(_szSequenceName);

    int32_t standard = composition->GetVideoStandard();
    _nPictureCode = standard == Qo::Generic::kVideoStandard2997Hz ? 4 : 3;
    theLogManager.Log("CDornsend.Open(): Composition Signal Standard: %i [0x%08x]", standard,
                      static_cast<unsigned>(standard));

    // The codec of the last compressor name that names one.
    _nBitrate = 0;
    std::vector<std::string> compressors;
    composition->GetCompressorNames(compressors);
    for (const std::string& name : compressors) {
        theLogManager.Log("Compressor: %s", name.c_str());
        if (StartsWith(name, "Mirel::HD1080i::Hydrel") || StartsWith(name, "Mirel::HD720p::Hydrel")) {
            _szCodec = "Hydrel";
            _nBitrate = _nPictureCode == 3 ? 120000000 : 145000000;
        } else if (StartsWith(name, "Mirel::HD::Hydrel")) {
            _szCodec = "Hydrel";
            _nBitrate = _nPictureCode == 3 ? 185000000 : 220000000;
        } else if (StartsWith(name, "Mirel::MPEG2::")) {
            _szCodec = "IMX";
            _nBitrate = std::strtoll(name.c_str() + 14, nullptr, 10) * 1000000;
        } else if (StartsWith(name, "Mirel::MPEG2")) {
            _szCodec = "IMX";
        } else if (StartsWith(name, "Mirel::DVCPRO::100")) {
            _szCodec = "DVCPro";
            _nBitrate = 100000000;
        } else if (StartsWith(name, "Mirel::DVCPRO::50")) {
            _szCodec = "DVCPro";
            _nBitrate = 50000000;
        } else if (StartsWith(name, "Mirel::DV")) {
            _szCodec = "DV";
            _nBitrate = 25000000;
            // Both 25 Mb/s kinds go to QuickTime; the kind picks the black frame of a gap.
            _bDvcpro25 = StartsWith(name, "Mirel::DVCPRO");
        }
    }
    theLogManager.Log("CDornsend.Open(): Expected Video Bitrate: %li bits/s", static_cast<long>(_nBitrate));

    bool found = ReadTarget(composition, "TGT-Mode", _szMode);
    theLogManager.Log("CDornsend.Open(): TGT-Mode: %s [%s]", _szMode.c_str(), found ? "Succeeded" : "FAILED");
    if (_szMode.empty()) {
        theLogManager.Log("CDornsend.Open(): No TGT-Mode defined, using default !!");
        _szMode = DornsendIniValue("TGT-Mode", "Shared");
    }
    found = ReadTarget(composition, "TGT-Address", _szTargetPath);
    theLogManager.Log("CDornsend.Open(): Target Address %s [%s]", _szTargetPath.c_str(),
                      found ? "Succeeded" : "FAILED");
    if (_szTargetPath.empty()) {
        theLogManager.Log("CDornsend.Open(): No TGT-Address defined, using default !!");
        _szTargetPath = DornsendIniValue("TGT-Address", "\\");
    }
    ReadTarget(composition, "TGT-Name", _szTargetName);
    if (_szTargetName.empty()) {
        theLogManager.Log("CDornsend.Open(): No TGT-Name defined, using default !!");
        _szTargetName = DornsendIniValue("TGT-Name", "TapeID");
    }
    ReadTarget(composition, "TGT-LouthIdMain", _szLouthIdMain);
    theLogManager.Log("CDornsend.Open(): TGT-LouthIdMain is [%s].", _szLouthIdMain.c_str());
    ReadTarget(composition, "TGT-VarIdMain", _szVarIdMain);
    theLogManager.Log("CDornsend.Open(): TGT-VarIdMain is [%s].", _szVarIdMain.c_str());
    ReadTarget(composition, "TGT-LouthIdBackup", _szLouthIdBackup);
    theLogManager.Log("CDornsend.Open(): TGT-LouthIdBackup is [%s].", _szLouthIdBackup.c_str());
    ReadTarget(composition, "TGT-VarIdBackup", _szVarIdBackup);
    theLogManager.Log("CDornsend.Open(): TGT-VarIdBackup is [%s].", _szVarIdBackup.c_str());
    if (_szTargetName == "TapeID") {
        _szTargetName = _szTapeId;
        theLogManager.Log("CDornsend.Open(): Using TapeID %s", _szTapeId.c_str());
    } else if (_szTargetName == "Sequence") {
        _szTargetName = _szSequenceName;
        theLogManager.Log("CDornsend.Open(): Using Sequence Name %s", _szSequenceName.c_str());
    }

    const bool shared = SameNoCase(_szMode, "Shared");
    bool failed = false;
    if (shared)
        _pWriter = MakeFileWriter(composition, failed);
    else if (SameNoCase(_szMode, "RixFtp"))
        _pWriter = MakeServerWriter(composition, failed);
    if (failed)
        return Qo::Playback::kSendFailed;
    if (!_pWriter)
        return Fail("Writer instantiation error !!");
    _pWriter->SetCancelSignal(&_bCancelled);

    Qo::Generic::TimeCode startCode;
    composition->GetStartTimeCode(startCode);
    // Media files label a 29.97 start as drop-frame or not as the composition does; the server's clip format
    // counts 29.97 in drop frames.
    const bool mediaFile = dynamic_cast<CDornMediaWriter*>(_pWriter.get()) != nullptr;
    const TcSystem system = mediaFile && _nPictureCode == 4 && !startCode.drop ? kNtscNonDropSystem : _nPictureCode;
    CTimeCode start(static_cast<uint16_t>(startCode.hours), static_cast<uint16_t>(startCode.minutes),
                    static_cast<uint16_t>(startCode.seconds), static_cast<uint16_t>(startCode.frames), false, system);
    theLogManager.Log("Opening %s file [ %s ]", _szCodec.c_str(), _szTargetPath.c_str());

    if (ReadTarget(composition, "TGT-AspectRatio", value)) {
        theLogManager.Log("Aspect Ratio: %s", value.c_str());
        _pWriter->SetAspectRatio(value == "16:9" ? 3 : 2);
    }

    std::vector<int32_t> tracks;
    if (Qo::Generic::Playlist* playlist = composition->GetPlaylist(0))
        tracks = playlist->GetTrackList();
    _audioChannel.fill(-1);
    int channels = 0;
    _bHasVideoTrack = false;
    for (int32_t track : tracks) {
        if (track == kVideoTrack)
            _bHasVideoTrack = true;
        else if (track >= 1 && track <= kMaxTrack)
            _audioChannel[static_cast<size_t>(track)] = channels++;
    }
    theLogManager.Log("Composition has %i audio channels", channels);
    int sampleBits = channels > 0 ? ReadAudioSampleWidth(composition, tracks) : 0;
    if (channels > 0 && sampleBits != 16 && sampleBits != 24) {
        theLogManager.Log("*** INVALID Audio Samples bits [%i] -> Assuming 16 bits !!", sampleBits);
        sampleBits = 16;
    }

    if (shared) {
        std::string cause;
        if (!CreateTargetFile(cause)) {
            _pWriter.reset();
            return Fail("Failed to Open Target! " + _szTargetPath + ": " + cause);
        }
    }
    theLogManager.Log("> Opening Target: %s", _szTargetPath.c_str());
    // File writers get the local form of a Windows path; the job file keeps the path as the target gave it.
    const std::string writerPath = shared ? platform::ToLocalPath(_szTargetPath) : _szTargetPath;
    errno = 0;
    int opened =
        _pWriter->Open(writerPath.c_str(), _nPictureCode, _nBitrate, channels, sampleBits, 1, start, _nDuration);
    const int openErrno = errno;
    if (shared) {
        ReadTarget(composition, "TGT-XmlDestClipNb", _szDestClipNb);
        ReadTarget(composition, "TGT-XmlDestCam", _szDestCam);
        ReadJobXmlSettings(composition, false);
        ReadJobXmlSettings(composition, true);
    }
    if (opened != 0) {
        _pWriter.reset();
        RemoveTargetFile();
        std::string cause = "writer result " + std::to_string(opened);
        if (openErrno != 0)
            cause += ", " + platform::ErrorText(openErrno);
        return Fail("Failed to Open Target! " + _szTargetPath + ": " + cause);
    }
    theLogManager.Log("Target File Opened !");
    _bOpened = true;
    _bRunning = true;
    _bSendFailed = false;
    _nVideoFramesWritten = 0;
    _trackFrames.fill(0);
    return Qo::Playback::kSendOk;
}

std::unique_ptr<CDornWriter> CDornsend::MakeFileWriter(Qo::Generic::CompositionMobIF* composition, bool& failed)
{
    _szTargetPath = WithBackslash(_szTargetPath);
    std::string format;
    ReadTarget(composition, "TGT-FileFormatString", format);
    theLogManager.Log("CDornsend.Open(): TGT-FileFormatString = [%s]", format.c_str());
    std::string name = CParvex_Filename_Formater(_szTargetName, _szOwner, _szSequenceName, _szTapeId, format);
    theLogManager.Log("CDornsend.Open(): CParvex_Filename_Formater returned szName = [%s]", name.c_str());
    _szTargetPath += name + (_szCodec == "DV" ? ".mov" : ".mxf");
    theLogManager.Log("CDornsend.Open(): _TargetPath = [%s]", _szTargetPath.c_str());

    std::string type, value;
    ReadTarget(composition, "TGT-Type", type);
    _bGenerateSideCar = ReadTarget(composition, "TGT-GenerateKorvo_METADATAS", value) && value == "1";
    theLogManager.Log("TGT-GenerateKorvo_METADATAS : %d", _bGenerateSideCar ? 1 : 0);
    ReadTarget(composition, "TGT-Korvo_METADATASPath", _szSideCarPath);
    theLogManager.Log("TGT-Korvo_METADATASPath : %s", _szSideCarPath.c_str());
    if (type.empty()) {
        theLogManager.Log("No TGT-Type defined, using default !!");
        type = DornsendIniValue("TGT-Type", "MXF_Korvo");
    }

    if (type == "MXF_OP1A" && _szCodec == "IMX") {
        theLogManager.Log("Creating Op-1a Media Type");
        return std::make_unique<CDorn_Op1a_Writer>();
    }
    if (_szCodec == "DV") {
        theLogManager.Log("Creating QuickTime DV Media File !!!");
        return std::make_unique<CDorn_QTDV_Writer>(_szLouthIdMain.c_str(), _szVarIdMain.c_str(),
                                                   _szLouthIdBackup.c_str(), _szVarIdBackup.c_str());
    }
    if (type != "MXF_Korvo")
        theLogManager.Log("*** Creating DEFAULT Media Type ***");
    theLogManager.Log("Creating Korvo Mxf Media Type");
    bool blocks8MB;
    if (ReadTarget(composition, "TGT-8MBBlocks", value)) {
        blocks8MB = std::strtol(value.c_str(), nullptr, 10) != 0;
    } else {
        value = DornsendIniValue("TGT-8MBBlocks", "0");
        blocks8MB = !value.empty() && value[0] != '0' && std::strtol(value.c_str(), nullptr, 10) != 0;
    }
    std::string serial;
    if (!ReadTarget(composition, "TGT-Serial", serial) || serial.empty()) {
        failed = true;
        Fail("Dornsend, no serial number found in composition");
        return nullptr;
    }
    theLogManager.Log("Compression media type is %s", _szCodec.c_str());
    const char* ids[] = {_szLouthIdMain.c_str(), _szVarIdMain.c_str(), _szLouthIdBackup.c_str(),
                         _szVarIdBackup.c_str()};
    const uint32_t number = ParseSerial(serial);
    std::unique_ptr<CDorn_Korvo_Writer> writer;
    if (_szCodec == "IMX")
        writer = std::make_unique<CDorn_KorvoIMX_Writer>(_szTargetName.c_str(), ids[0], ids[1], ids[2], ids[3], number,
                                                         blocks8MB);
    else if (_szCodec == "Hydrel")
        writer = std::make_unique<CDorn_KorvoHydrel_Writer>(_szTargetName.c_str(), ids[0], ids[1], ids[2], ids[3],
                                                            number, blocks8MB);
    else if (_szCodec == "DVCPro")
        writer = std::make_unique<CDorn_KorvoDVCPro_Writer>(_szTargetName.c_str(), ids[0], ids[1], ids[2], ids[3],
                                                            number, blocks8MB);
    if (writer) {
        if (const std::string fault = SerialFault(*writer, serial); !fault.empty()) {
            failed = true;
            Fail(fault);
            return nullptr;
        }
    }
    return writer;
}

std::unique_ptr<CDornWriter> CDornsend::MakeServerWriter(Qo::Generic::CompositionMobIF* composition, bool& failed)
{
    std::string serial;
    if (ReadTarget(composition, "TGT-Serial", serial) && serial.empty()) {
        failed = true;
        Fail("Dornsend, no serial number found in composition");
        return nullptr;
    }
    _szTargetName = ReplaceForbiddenNameChars(_szTargetName, ' ');
    // The ids name the clip on the servers: one that would be a path, or break the clip table, is refused.
    const std::pair<const char*, const std::string*> ids[] = {{"TGT-LouthIdMain", &_szLouthIdMain},
                                                              {"TGT-VarIdMain", &_szVarIdMain},
                                                              {"TGT-LouthIdBackup", &_szLouthIdBackup},
                                                              {"TGT-VarIdBackup", &_szVarIdBackup}};
    for (const auto& [field, id] : ids) {
        const std::string fault = CDorn_RixFtp_Writer::ServerIdFault(*id, std::strstr(field, "Louth") != nullptr);
        if (!fault.empty()) {
            failed = true;
            Fail(std::string("Dornsend, ") + field + " [" + Printable(*id) + "] " + fault);
            return nullptr;
        }
    }

    // The referencing XML of each destination: mode 2 writes it, into the folder given.
    struct Referencing {
        int nMode = 0;
        std::string szPath;
    } referencing[2];
    const char* suffixes[] = {"Main", "Backup"};
    for (int d = 0; d < 2; ++d) {
        std::string mode, destination;
        const std::string modeKey = std::string("TGT-StqMetadataRefXML") + suffixes[d];
        const std::string destKey = std::string("TGT-StqMetadataRefXMLDest") + suffixes[d];
        if (!ReadTarget(composition, modeKey.c_str(), mode) || !ReadTarget(composition, destKey.c_str(), destination))
            continue;
        referencing[d].nMode = mode == "1" ? 2 : 0;
        theLogManager.Log("%s : %s", modeKey.c_str(), mode.c_str());
        theLogManager.Log("%s : %s", destKey.c_str(), destination.c_str());
        std::string fileName = "StqP_" + _szTargetName + (d == 0 ? "_main.xml" : "_backup.xml");
        theLogManager.Log(d == 0 ? "szFileName main: %s" : "szFileName Backup: %s", fileName.c_str());
        referencing[d].szPath = WithBackslash(destination) + fileName;
        theLogManager.Log(d == 0 ? "Output Stq Metadata Reference XML Path Main: %s"
                                 : "Output Stq Metadata Reference XML Path Backup: %s",
                          referencing[d].szPath.c_str());
    }
    theLogManager.Log("Compression media type is %s", _szCodec.c_str());
    // The servers' packed DVCPRO layout has no place for a one-channel DV 25 frame.
    if (_szCodec == "DV") {
        failed = true;
        Fail("Dornsend, DV 25 cannot be played out to a video server");
        return nullptr;
    }
    std::unique_ptr<CDorn_RixFtp_Writer> writer;
    auto make = [&]<typename Writer>() {
        return std::make_unique<Writer>(
            _szTargetName.c_str(), _szLouthIdMain.c_str(), _szVarIdMain.c_str(), _szLouthIdBackup.c_str(),
            _szVarIdBackup.c_str(), referencing[0].nMode, referencing[0].szPath.c_str(), referencing[1].nMode,
            referencing[1].szPath.c_str(), _szTapeId.c_str(), _szOwner.c_str(), ParseSerial(serial));
    };
    if (_szCodec == "Hydrel")
        writer = make.operator()<CDorn_RixFtpHydrel_Writer>();
    else if (_szCodec == "IMX")
        writer = make.operator()<CDorn_RixFtpIMX_Writer>();
    else if (_szCodec == "DVCPro")
        writer = make.operator()<CDorn_RixFtpDVCPro_Writer>();
    if (writer) {
        if (const std::string fault = SerialFault(*writer, serial); !fault.empty()) {
            failed = true;
            Fail(fault);
            return nullptr;
        }
    }
    if (writer && _serverWriterHook)
        _serverWriterHook(*writer);
    return writer;
}

int CDornsend::ReadAudioSampleWidth(Qo::Generic::CompositionMobIF* composition, const std::vector<int32_t>& tracks)
{
    Qo::Generic::Playlist* playlist = composition->GetPlaylist(0);
    Qo::Generic::ContainerIF* container = composition->GetContainer();
    if (!playlist || !container)
        return 0;
    for (int32_t number : tracks) {
        if (number < 1 || number > kMaxTrack)
            continue;
        theLogManager.Log("Found Audio Track %i ...", number);
        Qo::Generic::Track* track = nullptr;
        if (!playlist->GetTrack(number, track) || !track)
            continue;
        for (int32_t i = 0; Qo::Generic::Segment* segment = track->GetNthSegment(i); ++i) {
            theLogManager.Log("Found Audio Container %i:%i ...", number, i);
            Qo::Generic::MobID id = segment->GetFileMobID();
            if (!id.IsValid()) {
                theLogManager.Log("... INVALID FileMobID !");
                continue;
            }
            Qo::Generic::MobIF* mob = container->OpenMob(id);
            int width = 0;
            if (auto* file = dynamic_cast<Qo::Generic::FileMobIF*>(mob)) {
                if (auto* sound = dynamic_cast<Qo::Generic::SoundDescriptor*>(file->GetMediaDescriptor())) {
                    theLogManager.Log("... GOT Sound Descriptor !");
                    width = sound->GetSampleWidth();
                } else {
                    theLogManager.Log("... NO Sound Descriptor !");
                }
            } else {
                theLogManager.Log("... NO FileMob !");
            }
            if (mob)
                container->ReleaseMob(mob);
            if (width != 0)
                return width;
        }
    }
    return 0;
}

bool CDornsend::CreateTargetFile(std::string& cause)
{
    // The name is taken by creating the file: two playouts at once into one folder never pick the same one.
    size_t dot = _szTargetPath.rfind('.');
    size_t slash = _szTargetPath.find_last_of("\\/");
    if (dot != std::string::npos && slash != std::string::npos && dot < slash)
        dot = std::string::npos;
    const std::string head = dot == std::string::npos ? _szTargetPath : _szTargetPath.substr(0, dot);
    const std::string tail = dot == std::string::npos ? "" : _szTargetPath.substr(dot);
    std::string candidate = _szTargetPath;
    for (int n = -1; n < 1000; ++n) {
        if (n >= 0) {
            char counter[16];
            std::snprintf(counter, sizeof counter, "%03d", n);
            candidate = head + counter + tail;
        }
        platform::File file;
        if (file.Open(platform::ToLocalPath(candidate), platform::File::Access::Write,
                      platform::File::Disposition::CreateNew)) {
            if (candidate != _szTargetPath) {
                theLogManager.Log("File %s already exists !", _szTargetPath.c_str());
                theLogManager.Log("New Target File [ %s ]", candidate.c_str());
            }
            _szTargetPath = candidate;
            _bTargetCreated = true;
            return true;
        }
        if (file.LastError() != EEXIST) {
            cause = platform::ErrorText(file.LastError());
            return false;
        }
    }
    cause = "every name up to " + head + "999" + tail + " is taken";
    return false;
}

void CDornsend::RemoveTargetFile()
{
    if (!_bTargetCreated)
        return;
    _bTargetCreated = false;
    std::error_code ec;
    std::filesystem::remove(platform::ToLocalPath(_szTargetPath), ec);
    theLogManager.Log("Target File %s removed%s", _szTargetPath.c_str(), ec ? " - FAILED" : "");
}

void CDornsend::ReadJobXmlSettings(Qo::Generic::CompositionMobIF* composition, bool backup)
{
    const std::string suffix = backup ? "Backup" : "";
    auto key = [&](const char* name) { return std::string("TGT-") + name + suffix; };
    JobXmlSettings& job = backup ? _jobBackup : _jobMain;
    job = JobXmlSettings{};
    std::string enabled;
    if (!ReadTarget(composition, key("Xml").c_str(), enabled))
        return;
    if (enabled.empty()) {
        theLogManager.Log("Reading %s from ini", key("Xml").c_str());
        enabled = DornsendIniValue(key("Xml"), "Parvex");
    }
    if (enabled != "Parvex")
        return;
    job.bEnabled = true;
    std::string folder;
    ReadTarget(composition, key("XmlPath").c_str(), folder);
    if (folder.empty()) {
        theLogManager.Log("Reading %s from ini", key("XmlPath").c_str());
        folder = DornsendIniValue(key("XmlPath"), "\\");
    }
    theLogManager.Log(backup ? "Output XML Path Backup: %s" : "Output XML Path: %s", folder.c_str());
    ReadTarget(composition, key("XmlCfg").c_str(), job.szCfg);
    if (job.szCfg.empty()) {
        theLogManager.Log("Reading %s from ini", key("XmlCfg").c_str());
        job.szCfg = DornsendIniValue(key("XmlCfg"), "4");
    }
    ReadTarget(composition, key("PageNumber").c_str(), job.szPage);
    ReadTarget(composition, key("JobDestXmlReferencingPath").c_str(), job.szReferencingPath);
    ReadTarget(composition, key("XmlIP").c_str(), job.szIP);
    ReadTarget(composition, key("XmlPort").c_str(), job.szPort);
    ReadTarget(composition, key("XmlUser").c_str(), job.szUser);
    ReadTarget(composition, key("XmlPassword").c_str(), job.szPassword);
    job.szJobPath = WithBackslash(folder) + "StqP_" + BaseName(_szTargetPath) + (backup ? "_backup" : "_main") + ".xml";
}

int32_t CDornsend::WaitWhilePaused(const char* cancelText)
{
    for (;;) {
        if (_bCancelled) {
            SetErrorText(cancelText);
            return Qo::Playback::kSendCancelled;
        }
        if (_bRunning)
            return Qo::Playback::kSendOk;
        std::this_thread::sleep_for(std::chrono::milliseconds(_nPausePollMs));
    }
}

int32_t CDornsend::Send(Qo::Playback::FrameRecord frame)
{
    // The frame's data is ours from here, whatever happens.
    std::unique_ptr<uint8_t[]> data(frame.data);
    const int32_t track = frame.track;
    try {
        if (track < 0 || track > kMaxTrack) {
            theLogManager.Log("BAD Track Frame !! [%i]", track);
            SetErrorText("BAD Track Frame !!");
            return Qo::Playback::kSendFailed;
        }
        if (int32_t code = WaitWhilePaused("Dornsend was cancelled"); code != Qo::Playback::kSendOk)
            return code;
        if (!_pWriter)
            return Fail("Dornsend::Send - no target open");
        int result = 0;
        int64_t& counter = _trackFrames[static_cast<size_t>(track)];
        if (counter >= _nFirstFrame && counter < _nEndFrame) {
            DornFrame record{data.get(), frame.length};
            if (track == kVideoTrack) {
                result = _pWriter->AddPicture(&record);
                ++_nVideoFramesWritten;
            } else if (_nDuration >= _nVideoFramesWritten && _audioChannel[static_cast<size_t>(track)] >= 0) {
                result = _pWriter->AddAudio(_audioChannel[static_cast<size_t>(track)], &record);
            }
        }
        ++counter;
        if (result != 0 && _bCancelled) {
            // A write that a cancel cut short is no failure of the target: Close deletes what was written.
            theLogManager.Log("Dornsend::Send - Write stopped by the cancel [ %i ]", result);
            SetErrorText("Dornsend was cancelled");
            return Qo::Playback::kSendCancelled;
        }
        if (result != 0) {
            theLogManager.Log("Dornsend::Send - Write FAILED !! [ %i ]", result);
            _bSendFailed = true;
            const std::string& refusal = _pWriter->GetRefusal();
            if (refusal.empty())
                SetErrorText("Dornsend::Send - Write FAILED !!");
            else
                Fail("Dornsend, " + refusal);
            return Qo::Playback::kSendFailed;
        }
        return Qo::Playback::kSendOk;
    } catch (const Qo::Generic::ErrorIF& error) {
        theLogManager.Log(track == kVideoTrack ? "*** Video Track EXCEPTION !!!" : "*** Audio Track EXCEPTION !!!");
        _bSendFailed = true;
        return Fail(std::string("Dornsend::Send - Write FAILED !! ") + error.GetMsgText());
    } catch (...) {
        theLogManager.Log(track == kVideoTrack ? "*** Video Track EXCEPTION !!!" : "*** Audio Track EXCEPTION !!!");
        _bSendFailed = true;
        return Fail("Dornsend::Send - Write FAILED !! internal Dorn error");
    }
}

int32_t CDornsend::SendNull(int32_t track, int32_t frameNumber)
{
    try {
        if (track < 0 || track > kMaxTrack) {
            theLogManager.Log("BAD Track NULL Frame !! [%i]", track);
            SetErrorText("BAD Track NULL Frame !!");
            return Qo::Playback::kSendFailed;
        }
        if (track == kVideoTrack && _blackFrame.GetSize() == 0) {
            int64_t size = LoadBlackFrame();
            if (size == 0) {
                _bSendFailed = true;
                return Fail("ERROR loading black frame");
            }
            theLogManager.Log("LoadBlackFrame returned [%ld]", static_cast<long>(size));
            theLogManager.Log("Black frame loaded (frame size : %ld)", static_cast<long>(_blackFrame.GetSize()));
        }
        if (int32_t code = WaitWhilePaused("Dornsend was canceled"); code != Qo::Playback::kSendOk)
            return code;
        if (!_pWriter)
            return Fail("Dornsend::SendNull - no target open");
        int64_t& counter = _trackFrames[static_cast<size_t>(track)];
        int result = 0;
        if (counter < _nFirstFrame || counter >= _nEndFrame) {
            theLogManager.Log("SEND NULL track %i skipped [ %li / [%li - %li] ]", track, static_cast<long>(counter),
                              static_cast<long>(_nFirstFrame), static_cast<long>(_nEndFrame));
        } else if (track == kVideoTrack) {
            DornFrame record{_blackFrame.GetData(), _blackFrame.GetSize()};
            result = _pWriter->AddPicture(&record);
            ++_nVideoFramesWritten;
        } else if (_audioChannel[static_cast<size_t>(track)] >= 0) {
            result = _pWriter->AddNULLAudioFrame(_audioChannel[static_cast<size_t>(track)], frameNumber);
            if (result != 0)
                theLogManager.Log("+ SEND NULL track %i / frame %ld FAILED [%i]", track, static_cast<long>(frameNumber),
                                  result);
        }
        ++counter;
        if (result != 0 && _bCancelled) {
            theLogManager.Log("Dornsend::SendNull - Write stopped by the cancel [ %i ]", result);
            SetErrorText("Dornsend was canceled");
            return Qo::Playback::kSendCancelled;
        }
        if (result != 0) {
            _bSendFailed = true;
            SetErrorText("Dornsend::SendNull - Write FAILED !!");
            return Qo::Playback::kSendFailed;
        }
        return Qo::Playback::kSendOk;
    } catch (const Qo::Generic::ErrorIF& error) {
        theLogManager.Log("*** AddNULLAudioFrame EXCEPTION !!");
        _bSendFailed = true;
        return Fail(std::string("Dornsend::SendNull - Write FAILED !! ") + error.GetMsgText());
    } catch (...) {
        theLogManager.Log("*** AddNULLAudioFrame EXCEPTION !!");
        _bSendFailed = true;
        return Fail("Dornsend::SendNull - Write FAILED !! internal Dorn error");
    }
}

int64_t CDornsend::LoadBlackFrame()
{
    // The codec and format codes of the black frame library for the transfer's codec and picture format.
    int codec = 0, format = 0;
    if (_szCodec == "Hydrel") {
        codec = 5;
        format = 4;
    } else if (_szCodec == "IMX") {
        codec = 4;
        format = _nPictureCode == 4 ? 1 : 2;
    } else if (_szCodec == "DVCPro" && (_nBitrate == 100000000 || _nBitrate == 100)) {
        codec = 8;
        format = 4;
    } else if (_szCodec == "DVCPro") {
        codec = 9;
        format = _nPictureCode == 4 ? 1 : 2;
    } else if (_szCodec == "DV") {
        codec = _bDvcpro25 ? 11 : 10;
        format = _nPictureCode == 4 ? 1 : 2;
    }
    return _blackFrame.LoadBlackFrame(codec, format, _nBitrate, false, 0, _nPictureCode);
}

void CDornsend::ReleaseBlackFrame()
{
    _blackFrame.Release();
}

bool CDornsend::PlayoutComplete() const
{
    return !_bHasVideoTrack || _trackFrames[kVideoTrack] >= _nEndFrame;
}

bool CDornsend::WriteSideFiles(std::string& cause)
{
    if (!SameNoCase(_szMode, "Shared"))
        return true;
    std::vector<std::string> written;
    auto failed = [&](const std::string& text) {
        cause = text;
        std::error_code ec;
        for (const std::string& path : written)
            std::filesystem::remove(platform::ToLocalPath(path), ec);
        return false;
    };
    auto writeJob = [&](const JobXmlSettings& settings, bool backup, const std::string& metadataPath) {
        PlaybackJob job;
        job.szJobPath = settings.szJobPath;
        job.szSrcFile = _szTargetPath;
        job.szMetadataPath = metadataPath;
        job.szReferencingFolder = settings.szReferencingPath;
        job.szUserNb = settings.szCfg;
        if (backup) {
            _pWriter->GetLouthIdBackup(job.szDestId);
            _pWriter->GetVarIdBackup(job.szDestVarId);
        } else {
            _pWriter->GetLouthIdMain(job.szDestId);
            _pWriter->GetVarIdMain(job.szDestVarId);
        }
        job.szPage = settings.szPage;
        job.szClipNb = _szDestClipNb;
        job.szCamera = _szDestCam;
        job.szAddress = settings.szIP;
        job.szPort = settings.szPort;
        job.szLogin = settings.szUser;
        job.szPassword = settings.szPassword;
        job.szTapeId = _szTapeId;
        job.szOwner = _szOwner;
        std::string error;
        if (!CreateXMLJobFile(job, &error))
            return failed("the job file " + job.szJobPath + " could not be written: " + error);
        written.push_back(job.szJobPath);
        return true;
    };
    auto writeSideCar = [&](bool backup, std::string& path) {
        std::string louthId, varId;
        if (backup) {
            _pWriter->GetLouthIdBackup(louthId);
            _pWriter->GetVarIdBackup(varId);
        } else {
            _pWriter->GetLouthIdMain(louthId);
            _pWriter->GetVarIdMain(varId);
        }
        std::string error;
        path = CreateKorvo_METADATAS(_bGenerateSideCar, _szSideCarPath, _szTargetPath, _szTapeId, _szOwner, louthId,
                                     varId, _szTargetName, &error);
        theLogManager.Log(backup ? "CDornsend.Close(): CreateKorvo_METADATAS() BACKUP returned [%s]"
                                 : "CDornsend.Close(): CreateKorvo_METADATAS() MAIN returned [%s]",
                          path.c_str());
        if (!error.empty())
            return failed("the side-car " + SideCarPath(_szSideCarPath, _szTargetPath) +
                          " could not be written: " + error);
        if (!path.empty())
            written.push_back(path);
        return true;
    };
    std::string sideCar;
    if (_jobMain.bEnabled && (!writeSideCar(false, sideCar) || !writeJob(_jobMain, false, sideCar)))
        return false;
    if (_jobBackup.bEnabled) {
        std::string backupSideCar;
        if ((!_jobMain.bEnabled && !writeSideCar(true, backupSideCar)) || !writeJob(_jobBackup, true, backupSideCar))
            return false;
    }
    return true;
}

int32_t CDornsend::Close()
{
    int32_t result = Qo::Playback::kSendOk;
    try {
        theLogManager.Log("Close()");
        theLogManager.Log("Received %li Frames", static_cast<long>(_nVideoFramesWritten));
        if (_pWriter) {
            theLogManager.Log("Close Writer ...");
            int closed = -1;
            errno = 0;
            try {
                closed = _pWriter->Close(_bCancelled);
            } catch (...) {
                theLogManager.Log("CloseWriter EXCEPTION caught !!");
            }
            const int closeErrno = errno;
            if (closed != 0) {
                std::string cause = closeErrno != 0 ? ": " + platform::ErrorText(closeErrno) : std::string();
                result =
                    Fail("Dornsend::Close - the target could not be closed [" + std::to_string(closed) + "]" + cause);
            } else if (!_bCancelled && !_bSendFailed && !PlayoutComplete()) {
                result = Fail("Dornsend::Close - the playout is incomplete (" + std::to_string(_trackFrames[0]) +
                              " of " + std::to_string(_nEndFrame) + " frames)");
            } else if (_bSendFailed) {
                result = Qo::Playback::kSendFailed;
            }
            // Only a complete playout tells the next system to take the clip.
            std::string cause;
            if (result == Qo::Playback::kSendOk && !_bCancelled && !WriteSideFiles(cause))
                result = Fail("Dornsend::Close - " + cause);
            // A playout that reached one of its two servers is complete, and says which one it lost.
            if (auto* server = dynamic_cast<CDorn_RixFtp_Writer*>(_pWriter.get());
                server && result == Qo::Playback::kSendOk && !server->GetLostText().empty()) {
                theLogManager.Log("Dornsend::Close - %s", server->GetLostText().c_str());
                SetErrorText(server->GetLostText());
            }
            // A clip the cancel could not delete is still on its server: the status says which.
            if (auto* server = dynamic_cast<CDorn_RixFtp_Writer*>(_pWriter.get());
                server && !server->GetUndeletedText().empty()) {
                theLogManager.Log("Dornsend::Close - %s", server->GetUndeletedText().c_str());
                SetErrorText(server->GetUndeletedText());
            }
            _pWriter.reset();
            theLogManager.Log("CloseD.");
        }
    } catch (...) {
        _pWriter.reset();
        result = Fail("Unknown exception caught: internal Dorn error");
    }
    // A cancelled or failed playout leaves no clip under the name the next system looks for.
    if (_bCancelled || result != Qo::Playback::kSendOk)
        RemoveTargetFile();
    _bTargetCreated = false;
    ReleaseBlackFrame();
    _bOpened = false;
    return _bCancelled ? Qo::Playback::kSendCancelled : result;
}

void CDornsend::Delete()
{
    theLogManager.Log("Delete()");
    delete this;
}

int32_t CDornsend::Pause()
{
    theLogManager.Log("Pause()");
    if (_bCancelled)
        return Qo::Playback::kSendCancelled;
    _bRunning = false;
    return Qo::Playback::kSendOk;
}

int32_t CDornsend::Resume()
{
    theLogManager.Log("Resume()");
    if (_bCancelled)
        return Qo::Playback::kSendCancelled;
    _bRunning = true;
    return Qo::Playback::kSendOk;
}

int32_t CDornsend::Cancel()
{
    theLogManager.Log("Cancel()");
    if (_bCancelled.exchange(true))
        return Qo::Playback::kSendCancelled;
    return Qo::Playback::kSendOk;
}

int32_t CDornsend::Runstate()
{
    theLogManager.Log("Runstate()");
    if (_bCancelled)
        return 3;
    if (!_bOpened)
        return 0;
    return _bRunning ? 1 : 2;
}
