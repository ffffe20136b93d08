// The exports of libDornsend.so, the playout sender plug-in: Create and GetDornVersion, nothing else.
#include <libxml/parser.h>

#include <new>

#include "sender/CDornsend.h"

#define DORNSEND_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{

// The XML parser is readied when the module is loaded. Its clean-up is left to the process: libxml2's global state
// is shared with the host and the other libraries it has loaded.
__attribute__((constructor)) void InitXmlParser()
{
    xmlInitParser();
}

}  // namespace

DORNSEND_EXPORT Qo::Playback::Sender_1* Create()
{
    try {
        return new (std::nothrow) CDornsend();
    } catch (...) {
        return nullptr;
    }
}

DORNSEND_EXPORT int32_t* GetDornVersion(int32_t* version)
{
    if (version)
        *version = Qo::Playback::kSenderVersion;
    return version;
}
