#include "writers/parvex/KorvoMXFIdGen.h"

#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "platform/NamedMutex.h"
#include "platform/Registry.h"

namespace
{

constexpr char kMutexName[] = "KorvoMXFIdGenMutex_";
constexpr char kIdGenKey[] = "SOFTWARE\\Brennhall\\KorvoMXF IdGen";
constexpr char kCommonKey[] = "SOFTWARE\\Brennhall\\Common";
constexpr char kPrevId[] = "PrevIdStr";
constexpr char kSerialNumber[] = "Global Serial Number";
constexpr uint32_t kMutexWaitMs = 5000;
constexpr char kRegistryFailed[] = "the registry cannot be written";
constexpr auto kHive = platform::RegHive::LocalMachine;

// Decodes the previous id, computes the next fields and encodes them: false when they do not fit the type.
template <typename Id>
bool NextId(const std::string& previous, uint32_t serial, int64_t now, char* out)
{
    Id prev;
    prev.Parse(previous.c_str());
    int64_t seconds = now;
    uint32_t counter = 0;
    if (!previous.empty() && prev.GetSerial() == serial && int64_t{prev.GetSeconds()} >= now) {
        seconds = prev.GetSeconds();
        counter = prev.GetCounter() + 1;
        if (prev.GetCounter() >= Id::kMaxCounter) {
            seconds += 1;
            counter = 0;
        }
    }
    if (serial > Id::kMaxSerial || seconds < 0 || seconds > Id::kMaxSeconds)
        return false;
    Id next;
    next.SetSerial(serial);
    next.SetSeconds(static_cast<uint32_t>(seconds));
    next.SetCounter(counter);
    next.Format(out);
    return std::strlen(out) == 8;
}

}  // namespace

KorvoMXFIdGen::KorvoMXFIdGen() = default;
KorvoMXFIdGen::~KorvoMXFIdGen() = default;

int64_t KorvoMXFIdGen::LocalSecondsNow() const
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<int64_t>(timegm(&local));
}

KorvoMXFResult KorvoMXFIdGen::GenerateId(char* buffer)
{
    if (!buffer)
        return KORVOMXF_ERR_INVALID_PARAMETER;
    buffer[0] = '\0';
    if (_nIdType != 1 && _nIdType != 2)
        return KORVOMXF_ERR_NOT_SUPPORTED;
    if (!_pMutex) {
        _pMutex.reset(new (std::nothrow) platform::NamedMutex(kMutexName));
        if (!_pMutex || !_pMutex->IsValid()) {
            Log("(KorvoMXFIdGen::GenerateId) CreateMutex failed: (0x%.08X) %s", 0u, "the lock file cannot be opened");
            _pMutex.reset();
            return KORVOMXF_ERR_MUTEX;
        }
    }
    if (_pMutex->Lock(kMutexWaitMs) != platform::kWaitObject0) {
        Log("(KorvoMXFIdGen::GenerateId) WaitForSingleObject failed: mutex not obtained within %u ms", kMutexWaitMs);
        return KORVOMXF_ERR_MUTEX;
    }
    const KorvoMXFResult result = Generate(buffer);
    _pMutex->Unlock();
    return result;
}

KorvoMXFResult KorvoMXFIdGen::ReadSerial(uint32_t* serial)
{
    if (_nSerial != 0) {
        *serial = _nSerial;
        return KORVOMXF_OK;
    }
    const auto value = platform::Registry::Query(kHive, kCommonKey, kSerialNumber);
    if (!value) {
        Log("(KorvoMXFIdGen::GenerateId) RegQueryValueEx (SerNb) failed: (0x%.08X) %s", 0u, "no such value");
        return KORVOMXF_ERR_REGISTRY;
    }
    if (value->type != platform::RegType::Dword || value->data.size() != 4) {
        Log("(KorvoMXFIdGen::GenerateId) RegSetValueEx (SerNb) - Unexpected type");
        return KORVOMXF_ERR_REGISTRY;
    }
    const uint32_t number = *platform::Registry::GetDword(kHive, kCommonKey, kSerialNumber);
    if (number % 10 != 0)
        return KORVOMXF_ERR_SERIAL_NUMBER;
    *serial = number / 10;
    return KORVOMXF_OK;
}

KorvoMXFResult KorvoMXFIdGen::Generate(char* buffer)
{
    if (!platform::Registry::CreateKey(kHive, kIdGenKey)) {
        Log("(KorvoMXFIdGen::GenerateId) RegCreateKeyEx (PrevId) failed: (0x%.08X) %s", 0u, kRegistryFailed);
        return KORVOMXF_ERR_REGISTRY;
    }
    std::string previous;
    const auto value = platform::Registry::Query(kHive, kIdGenKey, kPrevId);
    if (!value) {
        if (!platform::Registry::SetString(kHive, kIdGenKey, kPrevId, "")) {
            Log("(KorvoMXFIdGen::GenerateId) RegSetValueEx (PrevId - 1) failed: (0x%.08X) %s", 0u, kRegistryFailed);
            return KORVOMXF_ERR_REGISTRY;
        }
    } else if (value->type != platform::RegType::String) {
        Log("(KorvoMXFIdGen::GenerateId) RegSetValueEx (PrevId) - Unexpected type");
        return KORVOMXF_ERR_REGISTRY;
    } else {
        previous.assign(value->data.begin(), value->data.begin() + std::min<size_t>(value->data.size(), 8));
    }
    uint32_t serial = 0;
    if (KorvoMXFResult rc = ReadSerial(&serial); rc != KORVOMXF_OK)
        return rc;

    char id[9] = {};
    const bool made = _nIdType == 1 ? NextId<MXFIdType1>(previous, serial, LocalSecondsNow() - MXFIdType1::kEpoch, id)
                                    : NextId<MXFIdType2>(previous, serial, LocalSecondsNow() - MXFIdType2::kEpoch, id);
    // Serial or time out of the id's range: no duplicate or empty id is handed out.
    if (!made) {
        Log("(KorvoMXFIdGen::GenerateId) serial number %u or time out of range for an id of type %u", serial, _nIdType);
        return serial > (_nIdType == 1 ? MXFIdType1::kMaxSerial : MXFIdType2::kMaxSerial) ? KORVOMXF_ERR_SERIAL_NUMBER
                                                                                          : KORVOMXF_ERR_INVALID_DATA;
    }
    if (!platform::Registry::SetString(kHive, kIdGenKey, kPrevId, id)) {
        Log("(KorvoMXFIdGen::GenerateId) RegSetValueEx (PrevId - 2) failed: (0x%.08X) %s", 0u, kRegistryFailed);
        return KORVOMXF_ERR_REGISTRY;
    }
    std::memcpy(buffer, id, 9);
    return KORVOMXF_OK;
}
