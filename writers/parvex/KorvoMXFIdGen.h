#pragma once

#include <cstdint>
#include <memory>

#include "parvex/MXFId.h"
#include "writers/parvex/KorvoMXFLog.h"
#include "writers/parvex/KorvoMXFResult.h"

namespace platform
{
class NamedMutex;
}

// Makes material identifiers unique across the processes of a machine: a named mutex serialises generation and
// the registry keeps the last identifier between runs.
class KorvoMXFIdGen : public KorvoMXFLog
{
public:
    KorvoMXFIdGen();
    ~KorvoMXFIdGen() override;

    // Writes the new identifier and a NUL into a buffer of at least 9 bytes.
    KorvoMXFResult GenerateId(char* buffer);
    // The machine's serial number divided by 10; 0 reads "Global Serial Number" each time.
    void SetSerialNumber(uint32_t serialDiv10) { _nSerial = serialDiv10; }
    // 1 or 2 (2 at construction).
    void SetIdType(uint32_t type) { _nIdType = type; }

protected:
    // The local wall-clock time counted as seconds since 1970 as if it were UTC.
    virtual int64_t LocalSecondsNow() const;

private:
    KorvoMXFResult Generate(char* buffer);
    KorvoMXFResult ReadSerial(uint32_t* serial);

    std::unique_ptr<platform::NamedMutex> _pMutex;
    uint32_t _nSerial = 0;
    uint32_t _nIdType = 2;
};

// The identifier checks of the clip files, under the writers' names.
inline int CheckMaterialId(const char* text, int* type = nullptr)
{
    return CheckMXFId(text, type);
}
inline int64_t MaterialIdToTime(const char* text)
{
    return MXFIdToTime(text);
}
