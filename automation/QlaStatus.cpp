#include "automation/QlaStatus.h"

#include <new>

namespace MirelQla
{

namespace
{
struct CodeText {
    StatusCode code;
    const char* text;
};

const CodeText kTexts[] = {
    {kSuccess, "(0) Success"},
    {kUnknownWarning, "(Warning x) Unknown (maximum value) warning"},
    {kUnknownError, "(Error-5000) Unknown (maximum value) error"},
    {kQlaUnrecognizedIngestError, "(QlaAPI) Unrecognized Ingest Error - Need a newer AutoAPI"},
    {kIngestErrorUnimplemented, "(IngestError) Unimplemented"},
    {kIngestErrorCancel, "(IngestError) Cancel"},
    {kIngestErrorDuplicate, "(IngestError) Duplicate"},
    {kIngestErrorNoAddress, "(IngestError) No Address"},
    {kIngestErrorNetwork, "(IngestError) Network"},
    {kIngestErrorInternalError, "(IngestError) Internal Error"},
    {kIngestErrorNoMedia, "(IngestError) No Media"},
    {kIngestErrorOmfError, "(IngestError) OMF Error"},
    {kIngestErrorInvalidXml, "(IngestError) Invalid XML"},
    {kIngestErrorDiskFull, "(IngestError) Disk is Full"},
    {kIngestErrorNotSuspended, "(IngestError) Not Suspended"},
    {kIngestErrorNotRunning, "(IngestError) Not Running"},
    {kIngestErrorNoTransaction, "(IngestError) No Transaction"},
    {kIngestErrorEndOfFile, "(IngestError) End Of File"},
    {kIngestErrorFileNotFound, "(IngestError) File Not Found"},
    {kQlaUnrecognizedServerError, "(QlaAPI) Unrecognized Qlm Server Error - Need a newer AutoAPI"},
    {kQlmErrorNotSupported, "(QlmError) Not Supported"},
    {kQlmErrorBadPri, "(QlmError) Bad Pri"},
    {kQlmErrorCancelled, "(QlmError) Cancelled"},
    {kQlmErrorNoServer, "(QlmError) No Server"},
    {kQlmErrorUnknownDevice, "(QlmError) Unknown Device"},
    {kQlmErrorPwtInUse, "(QlmError) Pwt In Use"},
    {kQlmErrorNoComposition, "(QlmError) No Composition"},
    {kQlmErrorBadComposition, "(QlmError) Bad Composition"},
    {kQlmErrorNotFound, "(QlmError) Not Found"},
    {kQlmErrorNoPermissions, "(QlmError) No Permissions"},
    {kQlmErrorBadOmf, "(QlmError) Bad OMF"},
    {kQlmErrorBadUserName, "(QlmError) Bad User Name"},
    {kQlmErrorBadSource, "(QlmError) Bad Source"},
    {kQlmErrorBadHost, "(QlmError) Bad Host"},
    {kQlmErrorBadDestination, "(QlmError) Bad Destination"},
    {kQlmErrorNoFile, "(QlmError) No File"},
    {kQlmErrorVrelLoginFailure, "(QlmError) Vrel Login Failure"},
    {kQlmErrorBadWorkspace, "(QlmError) Bad Workspace"},
    {kQlmErrorWsSteeringNotSupported, "(QlmError) WS Steering Not Supported"},
    {kQlmErrorNoAmName, "(QlmError) No AMName"},
    {kQlmErrorNoUnauthorizedTransfers, "(QlmError) No Unauthorized Transfers"},
    {kQlmErrorGetWsListFailure, "(QlmError) Get WSList Failure"},
    {kQlmErrorDeniedOnIncoming, "(QlmError) Denied On Incoming"},
    {kQlmErrorInitFileError, "(QlmError) Init File Error"},
    {kQlmErrorServerDidNotRespond, "(QlmError) Server Did Not Resond "},
    {kQlmErrorNoToken, "(QlmError) No Token"},
    {kQlaErrorNotInitialized, "(QlaAPI Error) The QlaStatus object is not yet initialized"},
    {kQlaErrorUninitializedParameter, "(QlaAPI Error) Uninitialized Parameter"},
    {kQlaErrorFileNotFound, "(QlaAPI Error) File not found or unable to open"},
    {kQlaErrorSourceFilenameUnspecified, "(QlaAPI Error) Source filename unspecified"},
    {kQlaErrorXmlBufferUnspecified, "(QlaAPI Error) XML buffer unspecified"},
    {kQlaErrorSourceOrXmlUnspecified, "(QlaAPI Error) Source filename or XML buffer unspecified"},
    {kQlaErrorMediaNotOnline, "(QlaAPI Error) Not all media is online"},
    {kQlaErrorObjectDeleted, "(QlaAPI Error) The QlaStatus object has been deleted"},
    {kQlaErrorCannotLoadLibrary, "(QlaAPI Error) Unable to load tessan library"},
    {kQlaErrorLibraryNotLoaded, "(QlaAPI Error) Tessan library not loaded"},
    {kQlaErrorLibraryVersionIncompatible, "(QlaAPI Error) API version of Qlm library incompatible with server"},
    {kQlaErrorBufferTooSmall, "(QlaAPI Error) Buffer too small"},
    {kQlaErrorTransferInProgress, "(QlaAPI Error) Transfer in progress"},
    {kQlaErrorUnimplementedFunction, "(QlaAPI Error) Unimplemented function"},
    {kQlaErrorIngestDllLoadFailed, "(QlaAPI Error) Failed to Load Ingest DLL"},
    {kQlaErrorProxyMobCreationFailed, "(QlaAPI Error) Failed to Create Proxy Mob"},
    {kQlaErrorIngestInitFileMissing, "(QlaAPI Error) Failed to find Ingest Init File"},
    {kQlaErrorInitFileKeyMissing, "(QlaAPI Error) Failed to find Key in Init File"},
    {kQlaErrorInitFileHostNameMissing, "(QlaAPI Error) Failed to find HostName in Init File"},
    {kQlaErrorInitFileDeviceNameMissing, "(QlaAPI Error) Failed to find Device Name in Init File"},
    {kQlaErrorDefaultIngestInitFilesCreated,
     "(QlaAPI Error) Created default Ingest Init Files - needs to be setup in WINNT folder"},
};

const char* DefaultText(StatusCode code)
{
    for (const CodeText& entry : kTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return code <= 0 ? "Unknown error" : "Unknown warning";
}

// A heap copy of text, or none for a null text (or when memory runs out).
Qo::QoString* NewText(const char* text) noexcept
{
    return text ? new (std::nothrow) Qo::QoString(text) : nullptr;
}
}  // namespace

const Qo::QoString QlaStatus::kNullMsg;

QlaStatus::QlaStatus() : _nCode(kQlaErrorNotInitialized), _pDesc(nullptr), _pTech(nullptr) {}

QlaStatus::QlaStatus(StatusCode code, const char* desc, const char* tech)
    : _nCode(code), _pDesc(NewText(desc ? desc : DefaultText(code))), _pTech(NewText(tech))
{
}

QlaStatus::QlaStatus(const QlaStatus& other) : QlaStatus()
{
    *this = other;
}

QlaStatus::~QlaStatus()
{
    delete _pDesc;
    delete _pTech;
    _pDesc = nullptr;
    _pTech = nullptr;
    _nCode = kQlaErrorObjectDeleted;
}

QlaStatus& QlaStatus::operator=(const QlaStatus& other)
{
    if (this == &other)
        return *this;
    SetStatusCode(other._nCode, false);
    SetTechMessage(other._pTech ? other._pTech->ToCString() : "");
    SetDescMessage(other._pDesc ? other._pDesc->ToCString() : "");
    return *this;
}

const Qo::QoString& QlaStatus::GetTechMessage() const
{
    return _pTech ? *_pTech : kNullMsg;
}

const Qo::QoString& QlaStatus::GetDescMessage() const
{
    return _pDesc ? *_pDesc : kNullMsg;
}

// The new text is copied before the old one goes: the argument may be the old text itself.
void QlaStatus::SetTechMessage(const char* text)
{
    Qo::QoString* copy = NewText(text);
    delete _pTech;
    _pTech = copy;
}

void QlaStatus::SetDescMessage(const char* text)
{
    Qo::QoString* copy = NewText(text);
    delete _pDesc;
    _pDesc = copy;
}

void QlaStatus::SetStatusCode(StatusCode code, bool keepMessages)
{
    _nCode = code;
    if (!keepMessages)
        SetDescMessage(DefaultText(code));
}

void QlaStatus::SetStatus(StatusCode code, const char* desc, const char* tech)
{
    _nCode = code;
    SetDescMessage(desc ? desc : DefaultText(code));
    SetTechMessage(tech);
}

Qo::QoString QlaStatus::GetDefaultTechMessage(StatusCode code)
{
    return Qo::QoString(DefaultText(code));
}

Qo::QoString QlaStatus::ToQoString() const
{
    Qo::QoString text("QlaStatus( code=");
    text.AppendNumber(_nCode);
    text += ": ";
    text += (_pTech && !_pTech->IsEmpty()) ? _pTech->ToCString() : DefaultText(_nCode);
    text += " (";
    text += GetDescMessage();
    text += "))";
    return text;
}

}  // namespace MirelQla
