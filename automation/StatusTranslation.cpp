#include "automation/StatusTranslation.h"

namespace MirelQla
{

StatusCode QlmCodeToStatus(int code)
{
    if (code == 0)
        return kSuccess;
    if (code >= 1 && code <= 25)
        return static_cast<StatusCode>(kQlmErrorNotSupported + (code - 1));
    if (code == 26)
        return kQlmErrorNoToken;
    return kQlaUnrecognizedServerError;
}

StatusCode IngestCodeToStatus(int code)
{
    if (code >= 1 && code <= 15)
        return static_cast<StatusCode>(kIngestErrorUnimplemented + (code - 1));
    return kQlaUnrecognizedIngestError;
}

QlaStatus StatusFromQlmCode(int code)
{
    return QlaStatus(QlmCodeToStatus(code), nullptr, nullptr);
}

}  // namespace MirelQla
