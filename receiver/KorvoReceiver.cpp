#include "receiver/KorvoReceiver.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "common/CLogFile.h"
#include "common/CLogManager.h"
#include "outside/qo/Generic/Filelist.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MasterMobIF.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "receiver/CReceiverKorvoDVCProReader.h"
#include "receiver/CReceiverKorvoIMXReader.h"
#include "receiver/CReceiverKorvoVC3Reader.h"
#include "receiver/CReceiverOP1AReader.h"

namespace
{
std::atomic<int32_t> s_nInstances{0};

constexpr const char* kUser = "_USER";
constexpr int32_t kMaxTrack = 8;

// True when value begins with keyword, whatever the case.
bool BeginsWith(const std::string& value, const char* keyword)
{
    return strncasecmp(value.c_str(), keyword, std::char_traits<char>::length(keyword)) == 0;
}

const char* What(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

// The helper, container and mob that Open borrows, handed back in reverse order whatever happens.
struct Borrowed {
    Qo::Generic::HelperIF* helper = nullptr;
    Qo::Generic::ContainerIF* container = nullptr;
    Qo::Generic::MobIF* mob = nullptr;

    ~Borrowed()
    {
        if (mob)
            container->ReleaseMob(mob);
        if (container)
            helper->ReturnContainer(container);
        if (helper)
            Qo::Generic::DeleteHelper(helper);
    }
};
}  // namespace

KorvoReceiver::KorvoReceiver()
{
    _nInstance = ++s_nInstances;
    if (!theLogManager.IsOpen())
        theLogManager.OpenLog(GetLogFilePath("KorvoMirel", "KorvoReceiverDll.log"), GetMaxLogSize(), "");
    if (auto seconds = platform::Registry::GetDword(platform::RegHive::LocalMachine, kSettingsKey, kStallValue))
        _nStallMs = *seconds > UINT32_MAX / 1000 ? UINT32_MAX : *seconds * 1000;
    theLogManager.Log("KorvoReceiver:%i: v.%s", _nInstance, kVersionText);
}

KorvoReceiver::~KorvoReceiver()
{
    try {
        StopWatch();
        DeleteReader();
    } catch (...) {
        theLogManager.Log("KorvoReceiver:%i:Destructor - EXCEPTION !!!", _nInstance);
    }
}

void KorvoReceiver::Delete()
{
    delete this;
}

std::string KorvoReceiver::GetErrorText()
{
    try {
        std::lock_guard lock(_errorLock);
        return _strErrorText;
    } catch (...) {
        return {};
    }
}

std::vector<int32_t> KorvoReceiver::GetTrackList()
{
    try {
        return _tracks;
    } catch (...) {
        return {};
    }
}

int32_t KorvoReceiver::SetError(int32_t code, const std::string& text)
{
    {
        std::lock_guard lock(_errorLock);
        if (_strErrorText.empty())
            _strErrorText = text;
    }
    _nErrorCode = code;
    return code;
}

uint32_t KorvoReceiver::ParseBlockSize(const std::string& value)
{
    if (value.empty() || value.size() > 12 || value.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(value.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return 0;
    switch (n) {
        case 2:
        case 2000000:
        case kBlockSize2MB:
            return kBlockSize2MB;
        case 8:
        case 8000000:
        case kBlockSize8MB:
            return kBlockSize8MB;
        default:
            return 0;
    }
}

bool KorvoReceiver::FailOpen(int32_t code, const char* text, const char* logFormat)
{
    theLogManager.Log(logFormat, _nInstance);
    SetError(code, text);
    return false;
}

bool KorvoReceiver::Open(Qo::Generic::ContainerBuffer* composition, int32_t* opened)
{
    try {
        if (!OpenMedia(composition))
            return false;
    } catch (...) {
        const char* what = What(std::current_exception());
        theLogManager.Log("KorvoReceiver:%i:Open - EXCEPTION [ %s ] !!!", _nInstance, what);
        DeleteReader();
        SetError(kErrorNoMedia, std::string("KorvoReceiver::Open: ") + what);
        return false;
    }
    if (opened)
        *opened = 1;
    return true;
}

bool KorvoReceiver::OpenMedia(Qo::Generic::ContainerBuffer* composition)
{
    _media = KorvoReceiverMedia();
    {
        Borrowed borrowed;
        borrowed.helper = Qo::Generic::CreateHelper(composition);
        if (borrowed.helper)
            borrowed.container = borrowed.helper->OpenContainer(composition, Qo::Generic::kOpenRead);
        const std::vector<Qo::Generic::MobID> ids =
            borrowed.container ? borrowed.container->GetMasterMobIDs() : std::vector<Qo::Generic::MobID>();
        if (ids.size() != 1)
            return FailOpen(kErrorComposition, "KorvoReceiver::Open: Container Mobs error",
                            "KorvoReceiver:%i:Open: Container Mobs error");
        borrowed.mob = borrowed.container->OpenMob(ids[0]);
        auto* master = dynamic_cast<Qo::Generic::MasterMobIF*>(borrowed.mob);
        if (!master)
            return FailOpen(kErrorComposition, "KorvoReceiver::Open: cannot extract proxy mob",
                            "KorvoReceiver:%i:Open: cannot extract proxy mob");
        if (!ReadComposition(*master))
            return false;
    }

    theLogManager.Log("KorvoReceiver:%i: Media is %li Mbits/s and %i Audios [%i tracks]", _nInstance,
                      static_cast<long>(_media.nRate), _media.nAudioTracks, static_cast<int>(_tracks.size()));
    if (_media.bLive)
        theLogManager.Log("KorvoReceiver:%i: LIVE Media signaled ...", _nInstance);

    std::unique_ptr<CReceiverFReader> reader = MakeFrameReader(_media);
    if (!reader) {
        theLogManager.Log("KorvoReceiver:%i: FAILED to Create Frame Reader for type %s::%s !!", _nInstance,
                          _media.strSourceKind.c_str(), _media.strDataKind.c_str());
        SetError(kErrorNoMedia, "KorvoReceiver::Open: cannot instantiate Frame Reader for media type");
        return false;
    }
    {
        // Cancel reaches the reader from here on, also while it connects.
        std::lock_guard lock(_readerLock);
        _pReader = std::move(reader);
        if (_nState == Qo::Ingest::kCancelled)
            _pReader->Cancel();
    }
    const int32_t videoSystem = _nVideoStandard == Qo::Generic::kVideoStandard2997Hz ? 4 : 3;
    if (_pReader->Open(_media.strSource, videoSystem, _media.nRate, _media.nAudioTracks, _media.nAudioBits) != 0) {
        DeleteReader();
        return FailOpen(kErrorNoMedia, "KorvoReceiver::Open: no media",
                        "KorvoReceiver:%i:Open: FAILED to Open Media !!");
    }
    theLogManager.Log("KorvoReceiver:%i: Receiveing Media [ %s ] [type %s - data %s - VSys %i]", _nInstance,
                      _media.strSource.c_str(), _media.strSourceKind.c_str(), _media.strDataKind.c_str(), videoSystem);
    if (_media.nFirstServerField != 0)
        _pReader->SetFirstField(_media.nFirstServerField);
    else if (_bTrim && _nTrimIn > 0)
        _pReader->SetStartFrame(_nTrimIn);
    return true;
}

bool KorvoReceiver::ReadComposition(Qo::Generic::MasterMobIF& mob)
{
    _media.bLive = false;
    _nVideoStandard = 3;
    std::string value;
    _bTrim = mob.GetAttribute("_EXPORT", "TRIM_SUBCLIP", value) && value == "1";
    _nFramesLeft = mob.GetDuration();
    theLogManager.Log("KorvoReceiver:%i: Media Duration is %li", _nInstance, static_cast<long>(_nFramesLeft.load()));
    _nTrimIn = 0;
    if (_bTrim) {
        _nTrimIn = mob.GetInPoint();
        const int32_t out = mob.GetOutPoint();
        theLogManager.Log("KorvoReceiver:%i: Trimming Media [ %li / %li ]", _nInstance, static_cast<long>(_nTrimIn),
                          static_cast<long>(out));
        if (_nTrimIn != 0 || out != _nFramesLeft)
            _nFramesLeft = out - _nTrimIn;
    }
    _nVideoStandard = mob.GetVideoStandard();
    _tracks.clear();
    if (Qo::Generic::Filelist* files = mob.GetFilelist()) {
        _tracks = files->GetTrackList();
        mob.ReleaseFilelist(files);
    }
    _nFrameCounter = 0;

    auto get = [&](const char* key, std::string& out) { return mob.GetAttribute(kUser, key, out); };
    if (get("QO_KORVO_NAUDIOS", value))
        _media.nAudioTracks = std::atoi(value.c_str());
    if (get("QO_KORVO_RATE", value))
        _media.nRate = static_cast<int32_t>(std::atol(value.c_str()));
    _media.strSourceKind = get("QO_KORVO_FILETYPE", value) ? value : "Korvo";
    _media.strDataKind = get("QO_KORVO_DATATYPE", value) ? value : "IMX";
    if (get("QO_KORVO_NAUDIOBITS", value))
        _media.nAudioBits = std::atoi(value.c_str());
    if (get("QO_KORVO_RECORDING", value))
        _media.bLive = value == "1";
    if (get("QO_KORVO_RIXFSTFLD", value))
        _media.nFirstServerField = static_cast<uint32_t>(std::atol(value.c_str()));
    if (!get("QO_KORVO_BLOCKSIZE", value)) {
        theLogManager.Log("KorvoReceiver:%i: FAILED to get QO_KORVO_BLOCKSIZE !!", _nInstance);
    } else if ((_media.nBlockSize = ParseBlockSize(value)) == 0) {
        // Blocks come in 2 MB and 8 MB only; anything else would reach the block readers as a size they
        // cannot cut.
        theLogManager.Log("KorvoReceiver:%i:Open: bad block size [ %s ] !!", _nInstance, value.c_str());
        SetError(kErrorComposition, "KorvoReceiver::Open: bad block size \"" + value + "\" (2 or 8 MB only)");
        return false;
    }
    if (get("QO_KORVO_TARDIX", value))
        _media.bHighFrameRate = std::atoi(value.c_str()) != 0;

    if (BeginsWith(_media.strSourceKind, "TCP")) {
        get("QO_KORVO_TCPPORT", _media.strSource);
        theLogManager.Log("KorvoReceiver:%i: Using TCP Transfer [ %s ]", _nInstance, _media.strSource.c_str());
    } else if (BeginsWith(_media.strSourceKind, "Rix")) {
        std::string server, dir, clip;
        get("QO_KORVO_RIXSERVER", server);
        get("QO_KORVO_DIRNAME", dir);
        get("QO_KORVO_CLIPNAME", clip);
        _media.strSource = "ftp://" + server + dir + clip;
        theLogManager.Log("KorvoReceiver:%i: Using Rix FTP Transfer [ %s ]", _nInstance, _media.strSource.c_str());
    } else {
        std::string dir, clip;
        get("QO_KORVO_DIRNAME", dir);
        get("QO_KORVO_CLIPNAME", clip);
        if (dir.empty() || dir.back() != '\\')
            dir += '\\';
        // The share path becomes a local one here, once, for every reader (the OP1A reader opens it as given).
        _media.strSource = platform::ToLocalPath(dir + clip);
    }
    return true;
}

int32_t KorvoReceiver::Recv(Qo::Ingest::Frame*& frame)
{
    frame = nullptr;
    try {
        return ReceiveFrame(frame);
    } catch (...) {
        const char* what = What(std::current_exception());
        theLogManager.Log(">>>>>> KorvoReceiver:%i:Recv - EXCEPTION !!!! [ %s ]", _nInstance, what);
        if (frame) {
            frame->Release();
            frame = nullptr;
        }
        return SetError(kErrorInternal, std::string("KorvoReceiver: Internal Error: ") + what);
    }
}

int32_t KorvoReceiver::ReceiveFrame(Qo::Ingest::Frame*& frame)
{
    {
        std::unique_lock lock(_pauseLock);
        _resumed.wait(lock, [this] { return _nState != Qo::Ingest::kPaused; });
    }
    if (_nState == Qo::Ingest::kCancelled) {
        theLogManager.Log("KorvoReceiver:%i:Recv: Cancelled", _nInstance);
        return SetError(Qo::Ingest::kReceiveCancelled, "KorvoReceiver::Recv: Cancelled");
    }
    if (!_pReader || _tracks.empty()) {
        theLogManager.Log("KorvoReceiver:%i:Recv: no media open [ %i tracks ]", _nInstance,
                          static_cast<int>(_tracks.size()));
        return SetError(kErrorInternal, "KorvoReceiver::Recv: no media open");
    }

    const uint32_t position = _nFrameCounter % static_cast<uint32_t>(_tracks.size());
    ++_nFrameCounter;
    if (position == 0) {
        // A clip that has delivered its last set asks its source no further: a stream that stays open past its
        // end would otherwise hold the transfer until the stall time.
        if (!_media.bLive && _nFramesLeft <= 0)
            return EndOfData(false);
        // The clip's last set hands out the samples the cadence would otherwise leave behind.
        if (!_media.bLive && _nFramesLeft == 1)
            _pReader->SetLastSet();
        bool ok = false;
        try {
            ok = ReadWatched();
        } catch (...) {
            theLogManager.Log(">>>>>> KorvoReceiver:%i:IsLeftFrame EXCEPTION !!!", _nInstance);
            throw;
        }
        if (!ok)
            return EndOfData(true);
        if (--_nFramesLeft == 0)
            theLogManager.Log("KorvoReceiver:%i: Expected sequence end ...", _nInstance);
    }

    const int32_t track = _tracks[position];
    if (track < 0 || track > kMaxTrack) {
        theLogManager.Log("KorvoReceiver:%i: BAD TRACK !!!", _nInstance);
        return SetError(kErrorComposition, "KorvoReceiver: Bad Track");
    }
    try {
        frame = track == 0 ? _pReader->GetVideoFrame() : _pReader->GetTrackFrame(track);
    } catch (...) {
        theLogManager.Log(">>>>> KorvoReceiver:%i:GetNextFrame [%i] EXCEPTION !!!", _nInstance,
                          static_cast<int>(position));
        throw;
    }
    if (!frame || !frame->GetData() || frame->GetSize() == 0) {
        theLogManager.Log(frame ? "KorvoReceiver:%i: track %i NULL FRAME DATA !!! [ Internal Error ]"
                                : "KorvoReceiver:%i: track %i NULL FRAME !!! [ Internal Error ]",
                          _nInstance, static_cast<int>(position));
        if (frame) {
            // The host takes frames only with code 0: one it will not see goes back here.
            frame->Release();
            frame = nullptr;
        }
        return SetError(kErrorInternal, "KorvoReceiver: Internal Error !?");
    }
    _nErrorCode = 0;
    return 0;
}

int32_t KorvoReceiver::EndOfData(bool readFailed)
{
    theLogManager.Log("KorvoReceiver:%i: No More data to receive ... [ %s - %li left]", _nInstance,
                      _media.bLive ? "Recording" : "File", static_cast<long>(_nFramesLeft.load()));
    if (_nState == Qo::Ingest::kCancelled) {
        theLogManager.Log("KorvoReceiver:%i:Recv: Cancelled", _nInstance);
        return SetError(Qo::Ingest::kReceiveCancelled, "KorvoReceiver::Recv: Cancelled");
    }
    if (readFailed && _bStalled) {
        theLogManager.Log("KorvoReceiver:%i: source stalled, reporting Internal Error", _nInstance);
        char text[80];
        std::snprintf(text, sizeof text, "KorvoReceiver: the source sent nothing for %g s", _nStallMs / 1000.0);
        return SetError(kErrorInternal, text);
    }
    // A read that fails while frames are still expected is a failure, also for a clip still being recorded:
    // only a source that ends where the clip does, or a recording past its expected end, is complete.
    if (readFailed && _nFramesLeft > 0) {
        theLogManager.Log("KorvoReceiver:%i: reporting Internal Error", _nInstance);
        return SetError(kErrorInternal, "KorvoReceiver: End Of Data");
    }
    return SetError(Qo::Ingest::kReceiveEndOfData, "KorvoReceiver: End Of Data");
}

bool KorvoReceiver::Close()
{
    theLogManager.Log("KorvoReceiver:%i:Close() [%li Left Frames]", _nInstance, static_cast<long>(_nFramesLeft.load()));
    try {
        StopWatch();
        if (_pReader)
            _pReader->Close();
    } catch (...) {
        const char* what = What(std::current_exception());
        theLogManager.Log("KorvoReceiver:%i:Close - EXCEPTION [ %s ] !!!", _nInstance, what);
        SetError(kErrorInternal, std::string("KorvoReceiver::Close: ") + what);
    }
    return true;
}

bool KorvoReceiver::Pause()
{
    try {
        theLogManager.Log("KorvoReceiver:%i:Pause()", _nInstance);
        std::lock_guard lock(_pauseLock);
        int32_t running = Qo::Ingest::kRunning;
        _nState.compare_exchange_strong(running, Qo::Ingest::kPaused);
    } catch (...) {
    }
    return true;
}

bool KorvoReceiver::Resume()
{
    try {
        theLogManager.Log("KorvoReceiver:%i:Resume()", _nInstance);
        std::lock_guard lock(_pauseLock);
        int32_t paused = Qo::Ingest::kPaused;
        if (_nState.compare_exchange_strong(paused, Qo::Ingest::kRunning))
            _resumed.notify_all();
    } catch (...) {
    }
    return true;
}

bool KorvoReceiver::Cancel()
{
    // The state first: nothing that fails below can lose the cancel, and Pause cannot turn it back.
    _nState = Qo::Ingest::kCancelled;
    try {
        theLogManager.Log("KorvoReceiver:%i:Cancel() [ %li left Frames]", _nInstance,
                          static_cast<long>(_nFramesLeft.load()));
        {
            std::lock_guard lock(_errorLock);
            if (_strErrorText.empty())
                _strErrorText = "Cancelled";
        }
        {
            // Under the lock, so that a Recv about to wait sees the state or gets the wake-up.
            std::lock_guard lock(_pauseLock);
            _resumed.notify_all();
        }
        // A read waiting on its source ends now rather than when the source speaks again.
        std::lock_guard lock(_readerLock);
        if (_pReader)
            _pReader->Cancel();
    } catch (...) {
        theLogManager.Log("KorvoReceiver:%i:Cancel - EXCEPTION [ %s ] !!!", _nInstance, What(std::current_exception()));
    }
    return true;
}

void KorvoReceiver::DeleteReader()
{
    std::unique_ptr<CReceiverFReader> reader;
    {
        std::lock_guard lock(_readerLock);
        reader = std::move(_pReader);
    }
}

bool KorvoReceiver::ReadWatched()
{
    if (_nStallMs == 0)
        return _pReader->ReadNextFrame();
    {
        std::lock_guard lock(_watchLock);
        if (!_watch.joinable()) {
            _bWatchStop = false;
            _watch = std::thread([this] { WatchStalls(); });
        }
        _bReading = true;
        ++_nReadSerial;
    }
    _watchWake.notify_all();
    struct EndRead {
        KorvoReceiver& self;
        ~EndRead()
        {
            {
                std::lock_guard lock(self._watchLock);
                self._bReading = false;
            }
            self._watchWake.notify_all();
        }
    } endRead{*this};
    return _pReader->ReadNextFrame();
}

void KorvoReceiver::WatchStalls()
{
    std::unique_lock lock(_watchLock);
    while (!_bWatchStop) {
        _watchWake.wait(lock, [this] { return _bWatchStop || _bReading; });
        if (_bWatchStop)
            break;
        const uint64_t serial = _nReadSerial;
        const bool moved = _watchWake.wait_for(lock, std::chrono::milliseconds(_nStallMs),
                                               [&] { return _bWatchStop || !_bReading || _nReadSerial != serial; });
        if (moved)
            continue;
        theLogManager.Log("KorvoReceiver:%i: the source sent nothing for %u ms, stopping the read !!", _nInstance,
                          _nStallMs);
        _bStalled = true;
        lock.unlock();
        {
            std::lock_guard readerLock(_readerLock);
            if (_pReader)
                _pReader->Cancel();
        }
        lock.lock();
        _watchWake.wait(lock, [&] { return _bWatchStop || !_bReading || _nReadSerial != serial; });
    }
}

void KorvoReceiver::StopWatch()
{
    {
        std::lock_guard lock(_watchLock);
        _bWatchStop = true;
    }
    _watchWake.notify_all();
    if (_watch.joinable())
        _watch.join();
}

// The frame reader for the media's kinds, the first that matches.
std::unique_ptr<CReceiverFReader> KorvoReceiver::MakeFrameReader(const KorvoReceiverMedia& media)
{
    if (BeginsWith(media.strSourceKind, "MXF"))
        return std::make_unique<CReceiverOP1AReader>();
    if (BeginsWith(media.strDataKind, "IMX"))
        return std::make_unique<CReceiverKorvoIMXReader>(media.strSourceKind, media.nBlockSize, media.bHighFrameRate,
                                                         _nInstance, media.nFirstServerField);
    if (BeginsWith(media.strDataKind, "Hydrel"))
        return std::make_unique<CReceiverKorvoVC3Reader>(media.strSourceKind, media.nBlockSize, media.bHighFrameRate,
                                                         _nInstance, media.nFirstServerField);
    if (BeginsWith(media.strDataKind, "DVCPro"))
        return std::make_unique<CReceiverKorvoDVCProReader>(media.strSourceKind, media.nBlockSize, media.bHighFrameRate,
                                                            _nInstance, media.nFirstServerField);
    return nullptr;
}
