#pragma once

#include <cstdint>

#include "automation/DravikExport.h"
#include "automation/QoString.h"

namespace MirelQla
{

// 0 is success, positive values are warnings, negative values errors.
enum StatusCode : int32_t {
    kSuccess = 0,
    kUnknownWarning = 1,
    kUnknownError = -5000,
    kQlaUnrecognizedIngestError = -400,
    kIngestErrorUnimplemented = -399,
    kIngestErrorCancel = -398,
    kIngestErrorDuplicate = -397,
    kIngestErrorNoAddress = -396,
    kIngestErrorNetwork = -395,
    kIngestErrorInternalError = -394,
    kIngestErrorNoMedia = -393,
    kIngestErrorOmfError = -392,
    kIngestErrorInvalidXml = -391,
    kIngestErrorDiskFull = -390,
    kIngestErrorNotSuspended = -389,
    kIngestErrorNotRunning = -388,
    kIngestErrorNoTransaction = -387,
    kIngestErrorEndOfFile = -386,
    kIngestErrorFileNotFound = -385,
    kQlaUnrecognizedServerError = -300,
    kQlmErrorNotSupported = -299,
    kQlmErrorBadPri = -298,
    kQlmErrorCancelled = -297,
    kQlmErrorNoServer = -296,
    kQlmErrorUnknownDevice = -295,
    kQlmErrorPwtInUse = -294,
    kQlmErrorNoComposition = -293,
    kQlmErrorBadComposition = -292,
    kQlmErrorNotFound = -291,
    kQlmErrorNoPermissions = -290,
    kQlmErrorBadOmf = -289,
    kQlmErrorBadUserName = -288,
    kQlmErrorBadSource = -287,
    kQlmErrorBadHost = -286,
    kQlmErrorBadDestination = -285,
    kQlmErrorNoFile = -284,
    kQlmErrorVrelLoginFailure = -283,
    kQlmErrorBadWorkspace = -282,
    kQlmErrorWsSteeringNotSupported = -281,
    kQlmErrorNoAmName = -280,
    kQlmErrorNoUnauthorizedTransfers = -279,
    kQlmErrorGetWsListFailure = -278,
    kQlmErrorDeniedOnIncoming = -277,
    kQlmErrorInitFileError = -276,
    kQlmErrorServerDidNotRespond = -275,
    kQlmErrorNoToken = -264,
    kQlaErrorNotInitialized = -200,
    kQlaErrorUninitializedParameter = -199,
    kQlaErrorFileNotFound = -198,
    kQlaErrorSourceFilenameUnspecified = -197,
    kQlaErrorXmlBufferUnspecified = -196,
    kQlaErrorSourceOrXmlUnspecified = -195,
    kQlaErrorMediaNotOnline = -194,
    kQlaErrorObjectDeleted = -193,
    kQlaErrorCannotLoadLibrary = -192,
    kQlaErrorLibraryNotLoaded = -191,
    kQlaErrorLibraryVersionIncompatible = -190,
    kQlaErrorBufferTooSmall = -189,
    kQlaErrorTransferInProgress = -188,
    kQlaErrorUnimplementedFunction = -187,
    kQlaErrorIngestDllLoadFailed = -186,
    kQlaErrorProxyMobCreationFailed = -185,
    kQlaErrorIngestInitFileMissing = -184,
    kQlaErrorInitFileKeyMissing = -183,
    kQlaErrorInitFileHostNameMissing = -182,
    kQlaErrorInitFileDeviceNameMissing = -181,
    kQlaErrorDefaultIngestInitFilesCreated = -180,
};

// The status every operation of the library returns: a code, a description and an optional technical text.
class DRAVIK_API QlaStatus
{
public:
    QlaStatus();
    QlaStatus(StatusCode code, const char* desc, const char* tech);
    QlaStatus(const QlaStatus& other);
    virtual ~QlaStatus();
    QlaStatus& operator=(const QlaStatus& other);

    bool operator==(const QlaStatus& other) const { return _nCode == other._nCode; }
    bool operator!=(const QlaStatus& other) const { return _nCode != other._nCode; }
    bool operator==(StatusCode code) const { return _nCode == code; }
    bool operator!=(StatusCode code) const { return _nCode != code; }

    StatusCode GetStatusCode() const { return _nCode; }
    const Qo::QoString& GetTechMessage() const;
    const Qo::QoString& GetDescMessage() const;
    bool IsSuccess() const { return _nCode == kSuccess; }
    bool IsError() const { return _nCode < 0; }

    void SetTechMessage(const char* text);
    void SetDescMessage(const char* text);
    void SetStatusCode(StatusCode code, bool keepMessages);
    void SetStatus(StatusCode code, const char* desc, const char* tech);

    static Qo::QoString GetDefaultTechMessage(StatusCode code);
    virtual Qo::QoString ToQoString() const;

    static const Qo::QoString kNullMsg;

private:
    StatusCode _nCode;
    Qo::QoString* _pDesc;
    Qo::QoString* _pTech;
};

}  // namespace MirelQla
