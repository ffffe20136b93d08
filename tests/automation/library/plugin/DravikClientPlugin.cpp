// A plug-in of some host program that links libDravik.so, as automation clients are built: it connects, starts a
// transfer and tears everything down again, and is loaded and unloaded by its host with dlopen.
#include "automation/Host.h"

#define CLIENT_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{
MirelQla::Host* g_host = nullptr;
MirelQla::AutomationAPI* g_api = nullptr;
MirelQla::AutomationTransaction* g_transaction = nullptr;
}  // namespace

// The status of connecting a new host.
CLIENT_EXPORT int DravikClientConnect()
{
    g_host = MirelQla::Host::NewHost();
    return g_host ? g_host->GetAutomationAPI(&g_api).GetStatusCode() : MirelQla::kUnknownError;
}

// The status of an ingest request of the job.
CLIENT_EXPORT int DravikClientRequest(const char* job)
{
    if (!g_api)
        return MirelQla::kQlaErrorNotInitialized;
    return g_api->RequestTransferXML("ingest", "workspace", "", job, &g_transaction).GetStatusCode();
}

// Lets go of the transaction and the host at once, the host first when asked.
CLIENT_EXPORT void DravikClientTeardown(int hostFirst)
{
    if (hostFirst) {
        delete g_host;
        MirelQla::AutomationTransaction::release(&g_transaction);
    } else {
        MirelQla::AutomationTransaction::release(&g_transaction);
        delete g_host;
    }
    g_host = nullptr;
    g_api = nullptr;
}
