// Ingest requests: the device's setup library prepares the composition, the client library transfers it.
#include "automation/IngestInitFiles.h"
#include "automation/StatusTranslation.h"
#include "automation/_AutomationAPI.h"
#include "outside/ingestsetup/interface/IngestDevice.h"
#include "platform/SharedLibrary.h"

namespace MirelQla
{

namespace
{
const char kSetupVersion[] = "1.2";

// The device a setup library makes, given back (its text freed, the device released) when the request ends.
class PreparedDevice
{
public:
    explicit PreparedDevice(IngestDevice* device) : _pDevice(device) {}
    ~PreparedDevice()
    {
        try {
            if (_pComposition)
                _pDevice->FreeText(_pComposition);
            _pDevice->Release();
        } catch (...) {
        }
    }
    PreparedDevice(const PreparedDevice&) = delete;
    PreparedDevice& operator=(const PreparedDevice&) = delete;

    IngestDevice* operator->() const { return _pDevice; }
    char** CompositionOut() { return &_pComposition; }
    const char* Composition() const { return _pComposition; }

private:
    IngestDevice* _pDevice;
    char* _pComposition = nullptr;
};
}  // namespace

QlaStatus _AutomationAPI::RequestIngest(Qo::QoString text1, Qo::QoString deviceName, Qo::QoString text3,
                                        Qo::QoString text4, bool /*tagAsGantrel*/, AutomationTransaction** out)
{
    if (!_pClient)
        return NotConnected("offline automation API: no transfer service client");
    try {
        std::string setupName;
        QlaStatus status = LookupIngestSetup(deviceName.ToCString(), setupName);
        if (!status.IsSuccess())
            return status;

        platform::SharedLibrary library;
        IngestCreateFn create = nullptr;
        if (library.Open(setupName)) {
            auto check = reinterpret_cast<IngestCheckVersionFn>(library.Symbol("CheckVersion"));
            if (check && check(kSetupVersion) == 0)
                create = reinterpret_cast<IngestCreateFn>(library.Symbol("Create"));
        }
        IngestDevice* made = create ? create() : nullptr;
        if (!made)
            return QlaStatus(kQlaErrorIngestDllLoadFailed, nullptr, setupName.c_str());

        PreparedDevice device(made);
        std::string mediaType;
        if (!ReadMediaType(mediaType))
            return QlaStatus(kQlaErrorNotInitialized, nullptr,
                             "the client library's qlmmediatype setting cannot be read");
        device->SetCompositionKind(mediaType == "AAF" ? 0 : 1);

        int size = 0;
        int prepared = device->PrepareIngest(deviceName.ToCString(), text3.ToCString(), device.CompositionOut(), &size);
        if (prepared != 0)
            return QlaStatus(IngestCodeToStatus(prepared), nullptr, nullptr);
        if (!device.Composition() || size < 0)
            return QlaStatus(IngestCodeToStatus(0), nullptr, "the device handed out no composition");

        // Tagging the composition as "Gantrel" is not done: which composition and attribute it should
        // address was never settled.
        QlmClientTransaction* client = nullptr;
        int result = _pClient->CompositionRequest(text1.ToCString(), deviceName.ToCString(), text4.ToCString(),
                                                  device.Composition(), size, &client);
        return TransactionResult(result, client, out);
    } catch (...) {
        return QlaStatus(kQlaUnrecognizedIngestError, nullptr, "ingest device threw");
    }
}

}  // namespace MirelQla
