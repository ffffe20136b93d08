#pragma once

#include <cstddef>
#include <cstdint>

// The main object of the shared-file service library (Plumet), as this library calls it. Operations
// stand in the order of the library's table; those never called hold their places as UnusedN.

// What operation 21 fills for a path.
struct PlumetFileRecord {
    char name[256];
    uint32_t attributes;  // the file's attribute word, as GetFileAttributes gives it
    char reserved[68];
};
static_assert(sizeof(PlumetFileRecord) == 328);
static_assert(offsetof(PlumetFileRecord, attributes) == 256);

// What operation 28 gives for one of the service's entries (its shares).
struct PlumetEntryRecord {
    char reserved[32];
    char name[32];  // zero-terminated server name
};
static_assert(sizeof(PlumetEntryRecord) == 64);
static_assert(offsetof(PlumetEntryRecord, name) == 32);

class PlumetMainObject
{
public:
    // Translates a network path into one the service reaches; true on success.
    virtual bool TranslatePath(const char* path, char* out, int outSize) = 0;  // 0
    virtual int Unused1() = 0;
    virtual bool SelectPath(const char* path) = 0;  // 2
    virtual int Unused3() = 0;
    virtual int Unused4() = 0;
    virtual int Unused5() = 0;
    virtual int Unused6() = 0;
    virtual int Unused7() = 0;
    virtual int Unused8() = 0;
    virtual int EntryCount() = 0;  // 9
    virtual int Unused10() = 0;
    virtual int Unused11() = 0;
    virtual int Unused12() = 0;
    virtual int Unused13() = 0;
    virtual int Unused14() = 0;
    virtual int Unused15() = 0;
    virtual int Unused16() = 0;
    virtual int Unused17() = 0;
    virtual int Unused18() = 0;
    virtual int Unused19() = 0;
    virtual int Unused20() = 0;
    // Fills the record of the path chosen by SelectPath.
    virtual bool FileRecord(PlumetFileRecord* record) = 0;  // 21
    virtual int Unused22() = 0;
    virtual int Unused23() = 0;
    virtual int EntryCommand(int index, const char* command, int commandLength, char* reply, int replySize) = 0;  // 24
    virtual int Unused25() = 0;
    virtual int Unused26() = 0;
    virtual int Unused27() = 0;
    virtual bool Entry(PlumetEntryRecord* record, int index) = 0;  // 28

protected:
    ~PlumetMainObject() = default;
};

using GetSharedLibraryMainObjectFn = PlumetMainObject* (*)();
using GetSharedLibraryVersionFn = void (*)(int* first, int* second);
