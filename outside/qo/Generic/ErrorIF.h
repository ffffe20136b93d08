#pragma once

#include <cstdint>
#include <string>

#include "outside/qo/Generic/Export.h"

namespace Qo::Generic
{

// The error the helper library's classes throw; plug-ins throw it too (5: out of memory).
class QO_GENERIC_API ErrorIF
{
public:
    explicit ErrorIF(int32_t code);
    ErrorIF(int32_t code, const char* text);
    virtual ~ErrorIF();

    int32_t GetCode() const { return _nCode; }
    const char* GetMsgText() const { return _strText.c_str(); }

private:
    int32_t _nCode;
    std::string _strText;
};

}  // namespace Qo::Generic
