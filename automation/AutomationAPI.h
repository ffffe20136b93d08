#pragma once

#include "automation/AutomationTransaction.h"
#include "automation/DravikExport.h"
#include "automation/QlaStatus.h"
#include "automation/QoString.h"

namespace MirelQla
{

// Which tracks a proxy composition gets: 0 video, 1 to 8 audio.
struct ProxyTrackFlags {
    bool track[9];
};

// The requests a client program makes of the transfer service. Every accepted request hands out a
// transaction in *out (when out is given), which the caller gives back with AutomationTransaction::release.
class DRAVIK_API AutomationAPI
{
public:
    virtual ~AutomationAPI();
    virtual QlaStatus GetWorkGroupInfo(Qo::QoString& text) = 0;
    virtual QlaStatus GetIngestInfo(Qo::QoString& text) = 0;
    virtual QlaStatus GetZeltInfo(Qo::QoString& text) = 0;
    virtual QlaStatus GetPlaybackInfo(Qo::QoString& text) = 0;
    virtual QlaStatus RequestPriorityTransfer(Qo::QoString text1, Qo::QoString fileName, Qo::QoString text3,
                                              int& priority, AutomationTransaction** out, int option) = 0;
    virtual QlaStatus RequestTransfer(Qo::QoString text1, Qo::QoString fileName, Qo::QoString text3, Qo::QoString text4,
                                      AutomationTransaction** out) = 0;
    virtual QlaStatus RequestFileTransfer(Qo::QoString text1, Qo::QoString text2, Qo::QoString fileName,
                                          Qo::QoString text4, AutomationTransaction** out) = 0;
    virtual QlaStatus RequestIngest(Qo::QoString text1, Qo::QoString deviceName, Qo::QoString text3, Qo::QoString text4,
                                    bool tagAsGantrel, AutomationTransaction** out) = 0;
    virtual QlaStatus RequestIngest(Qo::QoString text1, Qo::QoString deviceName, Qo::QoString text3, Qo::QoString text4,
                                    AutomationTransaction** out) = 0;
    virtual QlaStatus RequestTransferXML(Qo::QoString text1, Qo::QoString text2, Qo::QoString fileName,
                                         Qo::QoString xml, AutomationTransaction** out) = 0;
    virtual QlaStatus RequestTransferXMLEx(Qo::QoString text1, Qo::QoString text2, Qo::QoString text3,
                                           Qo::QoString fileName, Qo::QoString xml, AutomationTransaction** out) = 0;
    virtual QlaStatus UnimplementedRequest(Qo::QoString a, Qo::QoString b, Qo::QoString c) = 0;
    virtual QlaStatus UnimplementedRequest(Qo::QoString a, Qo::QoString b) = 0;
    virtual QlaStatus GetNamedText(Qo::QoString name, char* buffer, int* size) = 0;
    virtual QlaStatus CreateProxyMob(Qo::QoString tapeName, ProxyTrackFlags tracks, int hours, int minutes, int seconds,
                                     int frames, int rateKind, int nonDrop, int videoCompression, int audioCompression,
                                     Qo::QoString fileName, char* mobIdText) = 0;
    virtual QlaStatus SetMobAttribute(Qo::QoString fileName, Qo::QoString name, Qo::QoString value,
                                      Qo::QoString category) = 0;
    virtual QlaStatus RequestIngestFromFile(Qo::QoString text1, Qo::QoString text2, Qo::QoString fileName,
                                            Qo::QoString text4, bool tagAsGantrel, AutomationTransaction** out) = 0;

protected:
    AutomationAPI();
    AutomationAPI(const AutomationAPI& other);
    AutomationAPI& operator=(const AutomationAPI& other);
};

}  // namespace MirelQla
