#include "automation/CompositionSteps.h"

namespace MirelQla
{

// Without the editing system's helper library no composition can be opened or written.
bool AllMediaOnline(const char*, size_t)
{
    return false;
}

int WriteProxyComposition(const ProxyComposition&, char*)
{
    return kCompositionFailed;
}

int SetCompositionAttribute(const std::string&, const std::string&, const std::string&, const std::string&)
{
    return kCompositionFailed;
}

}  // namespace MirelQla
