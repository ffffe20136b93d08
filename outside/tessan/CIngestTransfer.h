#pragma once

#include <string>

#include "outside/qo/Ingest/Receiver.h"
#include "outside/tessan/CIngestJob.h"
#include "outside/tessan/CTransfer.h"

namespace tessan
{

// One ingest: the receiver plug-in opened on the job's composition, pulled frame by frame into a
// media folder.
class CIngestTransfer : public CTransfer
{
public:
    CIngestTransfer(CIngestJob job, std::string outFolder);

    // Runs the transfer on the calling thread.
    TransferResult Run();

    // The version text the service hands to the plug-in's check.
    static constexpr const char* kApiVersion = "1.0";

protected:
    void PluginPause() override { _receiver->Pause(); }
    void PluginResume() override { _receiver->Resume(); }
    void PluginCancel() override { _receiver->Cancel(); }

private:
    void Pull(TransferResult& result);

    CIngestJob _job;
    std::string _strOut;
    Qo::Ingest::Receiver* _receiver = nullptr;
};

}  // namespace tessan
