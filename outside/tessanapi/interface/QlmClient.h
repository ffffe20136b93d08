#pragma once

#include <cstddef>
#include <cstdint>

#include "outside/tessanapi/interface/TransferStatusRecord.h"

// The objects of the transfer service's client library (tessanapiVC7), as this library calls them.
// The operations stand in the order of the library's own table; the ones this library never calls
// hold their places as UnusedN. Neither object is deleted through this interface: the API object
// goes back through the library's QoDeleteAPI entry, transactions belong to the library. QoDeleteAPI ends
// the transfers of the object's transactions and frees them, so it comes before the library is unloaded.

class QlmClientTransaction;

// What a client transaction publishes beside its operations, at the offsets its library has always used.
struct QlmTransactionData {
    char reserved1[1032];
    int32_t transferId;
    char reserved2[8];
    char name[1028];  // zero-terminated
    MirelQla::TransferStatusRecord status;
};

static_assert(offsetof(QlmTransactionData, transferId) == 1032);
static_assert(offsetof(QlmTransactionData, name) == 1044);
static_assert(offsetof(QlmTransactionData, status) == 2072);
static_assert(sizeof(QlmTransactionData) == 2072 + 1648);

class QlmClientAPI
{
public:
    virtual int Unused0() = 0;
    virtual int Unused1() = 0;
    virtual int Unused2() = 0;
    virtual int TransferRequest(const char* text1, const char* text3, const char* host, const char* text4, int zero,
                                const char* contents, int size, int zero2, QlmClientTransaction** out) = 0;  // 3
    virtual int Unused4() = 0;
    virtual int Unused5() = 0;
    virtual int Unused6() = 0;
    virtual int FileTransferRequest(const char* text1, const char* text2, const char* contents, int size,
                                    const char* text4, int zero, int zero2, QlmClientTransaction** out) = 0;  // 7
    virtual int CompositionRequest(const char* text1, const char* text2, const char* text4, const char* contents,
                                   int size, QlmClientTransaction** out) = 0;  // 8
    virtual int Unused9() = 0;
    virtual int PriorityRequest(const char* text1, const char* text3, const char* host, const char* contents, int size,
                                int& priority, QlmClientTransaction** out, int option) = 0;  // 10
    virtual int Unused11() = 0;
    // The version text may be rewritten in place (at most 79 characters and the terminator).
    virtual int CheckVersion(char* version) = 0;  // 12
    virtual const char* ServerVersion() = 0;      // 13
    virtual const char* InformationText() = 0;    // 14
    // The two texts belong to the library and stay valid until its next call.
    virtual int QueryNameTexts(const char* name, const char** first, const char** second) = 0;  // 15
    virtual int Unused16() = 0;
    virtual int Unused17() = 0;
    virtual int Unused18() = 0;
    virtual int Unused19() = 0;
    virtual int Unused20() = 0;
    virtual int Unused21() = 0;
    virtual int Unused22() = 0;
    virtual int Unused23() = 0;
    virtual int Unused24() = 0;
    virtual int Unused25() = 0;
    virtual int Unused26() = 0;
    // The text is allocated with malloc; the caller frees it.
    virtual int ModeText(const char* name, char** text) = 0;  // 27
    virtual int Unused28() = 0;
    virtual int Unused29() = 0;
    virtual int Unused30() = 0;
    virtual int Unused31() = 0;
    virtual int Unused32() = 0;
    // Fills two texts of 256 characters each.
    virtual int ContextTexts(char* first, char* second) = 0;  // 33
    virtual int Unused34() = 0;
    virtual int Unused35() = 0;
    virtual int Unused36() = 0;
    virtual int Unused37() = 0;
    virtual int Unused38() = 0;
    virtual int Unused39() = 0;
    virtual int Unused40() = 0;
    virtual int Unused41() = 0;
    virtual int Unused42() = 0;
    virtual int Unused43() = 0;
    virtual int Unused44() = 0;
    virtual int Unused45() = 0;
    virtual int Unused46() = 0;
    virtual int XmlRequest(const char* text1, const char* text2, const char* contents, int size, int zero,
                           const char* xml, QlmClientTransaction** out) = 0;  // 47
    virtual int XmlRequestEx(const char* text1, const char* text2, const char* text3, const char* contents, int size,
                             int zero, const char* xml, QlmClientTransaction** out) = 0;  // 48
    virtual int Unused49() = 0;
    virtual int Unused50() = 0;
    // value has room for *size bytes; *size comes back as the setting's length.
    virtual int Setting(const char* name, char* value, int* size, const char* context) = 0;  // 51
    virtual int Unused52() = 0;
    virtual int Unused53() = 0;
    virtual int Unused54() = 0;
    // size: the buffer's room on the way in, the text's size (with its terminator) on the way out.
    virtual int NamedText(const char* name, char* buffer, int& size) = 0;  // 55

protected:
    ~QlmClientAPI() = default;
};

class QlmClientTransaction
{
public:
    virtual int Refresh(MirelQla::TransferStatusRecord* record) = 0;  // 0
    virtual int Unused1() = 0;
    virtual int Action2(const char* text) = 0;
    virtual int Action3(const char* text) = 0;
    virtual int Action4(const char* text) = 0;
    virtual int Action5(const char* text) = 0;
    virtual int Unused6() = 0;
    virtual int Unused7() = 0;
    virtual int Unused8() = 0;
    virtual int Unused9() = 0;
    virtual int Unused10() = 0;
    // size: the buffer's room on the way in, the size the text needs on the way out.
    virtual int StatusText(char* buffer, int& size) = 0;  // 11

    QlmTransactionData _data;

protected:
    ~QlmClientTransaction() = default;
};

// The client library's entries, taken by name.
using QoCheckAPIVersionFn = int (*)(const char* version);
using QoCreateAPIFn = QlmClientAPI* (*)();
using QoDeleteAPIFn = void (*)(QlmClientAPI* api);
