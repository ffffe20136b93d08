#include "automation/Host.h"

#include <new>

#include "automation/_Host.h"

namespace MirelQla
{

Host::Host() = default;

Host::Host(const Host&) {}

Host::~Host() = default;

Host& Host::operator=(const Host&)
{
    return *this;
}

Host* Host::NewHost()
{
    return new (std::nothrow) _Host();
}

AutomationAPI::AutomationAPI() = default;

AutomationAPI::AutomationAPI(const AutomationAPI&) {}

AutomationAPI::~AutomationAPI() = default;

AutomationAPI& AutomationAPI::operator=(const AutomationAPI&)
{
    return *this;
}

}  // namespace MirelQla
