#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "browser/CValdrinSettings.h"
#include "browser/IMessageSink.h"
#include "browser/IRequestLibrary.h"
#include "browser/ITcpBlockSource.h"
#include "browser/ITransferProgress.h"
#include "browser/IngestJobXml.h"
#include "common/CLogFile.h"
#include "platform/Clock.h"

class CXmlDocument;
class CXmlNode;

// Waits of the browser's logic, in milliseconds; tests shorten them.
struct ValdrinTimings {
    uint32_t nPollMs = 1000;         // status poll, which is also the cancel wait
    uint32_t nTcpConnectMs = 10000;  // for the receiver to connect to the TCP block server
    uint32_t nTableRetryMs = 250;    // between two tries to open a clip table
    uint32_t nRpcReplyMs = 1000;     // reply time-out of the server's side channel
    uint32_t nFtpControlMs = 5000;   // FTP control connect, send and receive
};

// What the browser's list view knows and does without a window: its settings, its log, the description of a local
// or server clip as an ingest job, and the transfer request with its status loop. The window program shows the
// list and the dialogs; message boxes go to the sink. Nothing here touches a window, so the descriptions run on the
// transfer worker thread as well as on the window's thread.
class CValdrinViewCore
{
public:
    static constexpr size_t kMaxClipTableBytes = 16384;

    explicit CValdrinViewCore(IMessageSink& sink);
    virtual ~CValdrinViewCore();
    CValdrinViewCore(const CValdrinViewCore&) = delete;
    CValdrinViewCore& operator=(const CValdrinViewCore&) = delete;

    // Start-up: reads the settings (writing the defaults so marked) and opens the view's log.
    void InitialUpdate();
    void OpenLog();

    CValdrinSettings& Settings() { return _settings; }
    CLogFile& Log() { return _log; }
    void SetTimings(const ValdrinTimings& timings) { _timings = timings; }
    // The local wall clock of the job's backup time; tests fix it.
    void SetClock(std::function<platform::LocalTime()> clock) { _clock = std::move(clock); }
    // The request library and the TCP block server the transfer request uses.
    void SetRequestLibrary(std::shared_ptr<IRequestLibrary> library) { _pLibrary = std::move(library); }
    void SetTcpSourceFactory(std::function<std::unique_ptr<ITcpBlockSource>()> factory)
    {
        _tcpFactory = std::move(factory);
    }
    // Where the job's copy goes (the fixed file by default).
    void SetFixedCopyPath(const std::string& path) { _szFixedCopyPath = path; }

    // The ingest job of a clip file of the current folder. 0 done; -1 type not supported; -2 no video reader;
    // -3 no audio reader; 1 a foreign MXF file asked for a TCP transfer. tcpAddress null: no TCP transfer asked.
    int GetFileInfos(const std::string& fileName, std::string& job, const char* tcpAddress);
    // The ingest job of a server clip (its base name). 0 done; 1 server not reached or clip table not read;
    // -1 codec not supported; -2 clip table not well-formed.
    int GetFTPInfos(const std::string& clipName, std::string& job);
    void AddFTPKeywords(CXmlDocument& table, CXmlNode& clip, uint32_t unicodeFlags);

    // The whole request of one listed item: job, copy, request, TCP service, status loop, closing message.
    void DoTransfer(const std::string& itemName, ITransferProgress& progress);

protected:
    // The job of a listed item: the local or the server description by the source in use.
    virtual int BuildJob(const std::string& itemName, const std::string& tcpAddress, std::string& job);
    void Message(const std::string& text, const std::string& caption, MessageIcon icon);
    platform::LocalTime Now() const { return _clock ? _clock() : platform::LocalNow(); }
    std::string BackupTimeText() const;
    // The start every clip description shares: the job document with its head, the target taken from the settings.
    // Returns the private part, or nullptr when the document cannot be made. The caller names itself in the log.
    std::unique_ptr<CXmlNode> StartClipJob(CXmlDocument& doc, const char* caller, ingestjob::JobHead head);
    // The end every clip description shares: the clip node's id source and fill-and-key elements, then the job's
    // text and the closing log line of the caller (its name as logged). Returns 0.
    int FinishClipJob(CXmlDocument& doc, CXmlNode* clip, const std::string& idSource, int64_t fillAndKeyType,
                      const std::string& fillAndKey, const char* caller, std::string& job);
    // Reads the clip table of a server clip: 0 with the text, or 1 after telling why.
    int ReadClipTable(const std::string& clipName, std::string& text);
    // The primary timecode of a recording train's in field from the side channel; -1 when it is not known.
    int64_t AskTrainTimecode(const std::string& clipName, uint8_t tcSource, char camera, uint32_t field);

    IMessageSink& _sink;
    CValdrinSettings _settings;
    CLogFile _log;
    ValdrinTimings _timings;
    std::function<platform::LocalTime()> _clock;
    std::shared_ptr<IRequestLibrary> _pLibrary;
    std::function<std::unique_ptr<ITcpBlockSource>()> _tcpFactory;
    std::string _szFixedCopyPath;
};
