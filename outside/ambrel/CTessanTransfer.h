#pragma once
// The real backend: the transfer service "tessan ingest" as a child process whose output comes back over a
// pseudo-terminal (so that the service shows its progress line), or a pipe where no terminal can be had. A reader
// thread takes its lines: a percentage ("ingest: 21/50 frames (42%) ...") is the progress, and the service's closing
// report ("tessan: ingest complete: 250 of 250 frames, code 14") tells how it ended. The receiver's final code
// becomes the status word: 14 (end of data) complete, 2 cancelled, 6, 7, 8, a failed open and any other code failed;
// a report that says "cancelled" is a cancel whatever the code, unless the clip had come in whole before the cancel
// (code 14 and the media folder's manifest says complete): then it is complete. A service that ends without a
// report is complete only with exit status 0. The report and the service's last other "tessan: " line are the
// status text.
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "outside/ambrel/CAmbrelTransfer.h"

namespace ambrel
{

class CTessanTransfer : public CAmbrelTransfer
{
public:
    // How long a released transfer that still runs gets after its cancel before it is killed: 5000 ms, or
    // AMBREL_STOP_WAIT_MS.
    static int StopWaitMs();

    ~CTessanTransfer() override;

    // Starts the service on the job with the receiver plug-in (a library path); none when the program cannot be
    // started.
    static std::unique_ptr<CTessanTransfer> Start(const std::string& program, const std::string& receiver,
                                                  const std::string& jobPath, const std::string& outFolder,
                                                  std::string* error);

    int32_t Status(double* progress) override;
    int32_t Cancel() override;
    std::string StatusText() override;

    // Whether the manifest of a media folder records a complete clip.
    static bool ManifestSaysComplete(const std::string& mediaFolder);

    // The service's closing report: the state word it gives and the receiver's last code.
    struct Report {
        std::string state;  // "complete", "cancelled" or "failed"
        int code = -1;
    };
    // The status word of a finished service.
    static int32_t FinalStatus(const std::optional<Report>& report, int exitStatus, bool signalled);
    // What one output line tells: a progress in percent, the closing report.
    static std::optional<double> ParseProgress(const std::string& line);
    static std::optional<Report> ParseReport(const std::string& line);

private:
    CTessanTransfer() = default;
    void ReadOutput();
    // Waits for the child's end (the reader thread, once the output closed).
    void Reap();

    // Takes one whole output line.
    void TakeLine(const std::string& line);

    pid_t _pid = -1;
    int _fdOutput = -1;
    std::string _strMedia;
    std::string _strReportLine;  // the closing report, without "tessan: "
    std::string _strNote;        // the service's last other line of its own
    std::thread _reader;
    std::mutex _mx;
    std::condition_variable _cvEnded;
    double _dProgress = 0;
    std::optional<Report> _report;
    bool _bOutputEnded = false;
    bool _bExited = false;
    int _nExitStatus = 0;
    bool _bSignalled = false;
    bool _bCancelled = false;
};

}  // namespace ambrel
