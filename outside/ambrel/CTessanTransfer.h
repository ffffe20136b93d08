#pragma once
// The real backend: the transfer service "tessan ingest" as a child process whose output comes back over a pipe.
// A reader thread takes its lines: a percentage ("42%") is the progress, a line naming the receiver's final code
// ("... code 14") is the end. The receiver's codes become status words: 14 (end of data) complete, 2 cancelled,
// 6, 7, 8 and any other failed; a service that ends without naming a code is complete only with exit status 0.
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

    // Starts the service on the job; none when the program cannot be started.
    static std::unique_ptr<CTessanTransfer> Start(const std::string& program, const std::string& jobPath,
                                                  const std::string& outFolder, std::string* error);

    int32_t Status(double* progress) override;
    int32_t Cancel() override;

    // The status word of a finished service.
    static int32_t FinalStatus(std::optional<int> receiverCode, int exitStatus, bool signalled);
    // What one output line tells: a progress in percent, a receiver code.
    static std::optional<double> ParseProgress(const std::string& line);
    static std::optional<int> ParseFinalCode(const std::string& line);

private:
    CTessanTransfer() = default;
    void ReadOutput();
    // Waits for the child's end (the reader thread, once the output closed).
    void Reap();

    pid_t _pid = -1;
    int _fdOutput = -1;
    std::thread _reader;
    std::mutex _mx;
    std::condition_variable _cvEnded;
    double _dProgress = 0;
    std::optional<int> _nReceiverCode;
    bool _bOutputEnded = false;
    bool _bExited = false;
    int _nExitStatus = 0;
    bool _bSignalled = false;
    bool _bCancelled = false;
};

}  // namespace ambrel
