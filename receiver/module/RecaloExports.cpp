// The entry points of libRecalo.so. No exception leaves them.
#include <new>

#include "outside/qo/Generic/HbzManager.h"
#include "outside/qo/Ingest/Receiver.h"
#include "receiver/KorvoReceiver.h"

#define RECALO_EXPORT extern "C" __attribute__((visibility("default")))

RECALO_EXPORT int32_t QoCheckAPIVersion(const char* /*version*/)
{
    return 0;
}

RECALO_EXPORT Qo::Ingest::Receiver* QoCreateAPI()
{
    try {
        return new (std::nothrow) KorvoReceiver();
    } catch (...) {
        return nullptr;
    }
}

RECALO_EXPORT void QoDeleteAPI(Qo::Ingest::Receiver* receiver)
{
    if (!receiver)
        return;
    try {
        receiver->Delete();
    } catch (...) {
    }
}

// The same bodies under the short names.
RECALO_EXPORT int32_t CheckVersion(const char* version) __attribute__((alias("QoCheckAPIVersion")));
RECALO_EXPORT Qo::Ingest::Receiver* Create() __attribute__((alias("QoCreateAPI")));
RECALO_EXPORT void Delete(Qo::Ingest::Receiver* receiver) __attribute__((alias("QoDeleteAPI")));

RECALO_EXPORT int32_t* GetReceiverVersion(int32_t* version)
{
    if (version)
        *version = Qo::Ingest::kReceiverVersion;
    return version;
}

// The host SDK's assignment, which the host expects every plug-in module to carry.
Qo::Generic::HbzManager& Qo::Generic::HbzManager::operator=(const Qo::Generic::HbzManager&) = default;
