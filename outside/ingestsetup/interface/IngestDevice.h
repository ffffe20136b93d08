#pragma once

#include <string>

// The device object an ingest setup library makes, as this library calls it. Operations stand in the
// order of the library's table; those never called hold their places as UnusedN.
class IngestDevice
{
public:
    virtual int Unused0() = 0;
    virtual int Unused1() = 0;
    virtual void FreeText(char* text) = 0;  // 2: a text the device handed out
    virtual void Release() = 0;             // 3: the device is done with
    virtual int Unused4() = 0;
    virtual void SetCompositionKind(int kind) = 0;  // 5: 0 AAF, 1 OMF
    // 6: prepares the ingest and hands out its composition (freed by FreeText) and that composition's size;
    // 0 or an ingest error 1 to 15.
    virtual int PrepareIngest(const std::string& deviceName, const std::string& text3, char** composition,
                              int* size) = 0;

protected:
    ~IngestDevice() = default;
};

// The setup library's entries, taken by name.
using IngestCheckVersionFn = int (*)(const char* version);
using IngestCreateFn = IngestDevice* (*)();
using IngestDeleteFn = void (*)(IngestDevice* device);
