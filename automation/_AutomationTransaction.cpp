#include "automation/_AutomationTransaction.h"

#include <cstring>
#include <vector>

#include "automation/StatusTranslation.h"
#include "automation/_AutomationAPI.h"

namespace MirelQla
{

namespace
{
constexpr int kStatusTextRoom = 512;
// A client library asking for more than this for one status text is not believed.
constexpr int kMaxStatusText = 1 << 20;

const char kNoClient[] = "no transfer service client transaction";

template <size_t N>
void CopyText(char (&to)[N], const char (&from)[N])
{
    std::strncpy(to, from, N - 1);
    to[N - 1] = 0;
}
}  // namespace

void _AutomationTransaction::CopyRecord(const TransferStatusRecord& from, TransferStatusRecord& to)
{
    CopyText(to.text1, from.text1);
    to.kind = (from.kind >= 0 && from.kind <= 7) ? from.kind : 8;
    CopyText(to.text2, from.text2);
    CopyText(to.text3, from.text3);
    CopyText(to.text4, from.text4);
    to.priority = (from.priority == 0 || from.priority == 1) ? from.priority : 2;
    to.state = (from.state >= 0 && from.state <= 7) ? from.state : 6;
    to.value1 = from.value1;
    to.value2 = from.value2;
    to.value3 = from.value3;
    to.value4 = from.value4;
    to.value5 = from.value5;
    CopyText(to.text5, from.text5);
    CopyText(to.text6, from.text6);
    CopyText(to.text7, from.text7);
}

QlaStatus _AutomationTransaction::Action(int (QlmClientTransaction::*operation)(const char*), const Qo::QoString& text)
{
    if (!_pClient)
        return NotConnected(kNoClient);
    try {
        std::lock_guard lock(_mutex);
        return StatusFromQlmCode((_pClient->*operation)(text.ToCString()));
    } catch (...) {
        return QlaStatus(kUnknownError, nullptr, "client transaction threw");
    }
}

QlaStatus _AutomationTransaction::RequestAction1(Qo::QoString text)
{
    return Action(&QlmClientTransaction::Action2, text);
}

QlaStatus _AutomationTransaction::RequestAction2(Qo::QoString text)
{
    return Action(&QlmClientTransaction::Action3, text);
}

QlaStatus _AutomationTransaction::RequestAction3(Qo::QoString text)
{
    return Action(&QlmClientTransaction::Action4, text);
}

QlaStatus _AutomationTransaction::RequestAction4(Qo::QoString text)
{
    return Action(&QlmClientTransaction::Action5, text);
}

QlaStatus _AutomationTransaction::CheckArguments(const TransferStatusRecord* out) const
{
    if (!out)
        return QlaStatus(kQlaErrorUninitializedParameter, nullptr, nullptr);
    if (!_pClient)
        return NotConnected(kNoClient);
    return QlaStatus(kSuccess, nullptr, nullptr);
}

QlaStatus _AutomationTransaction::GetCachedStatus(TransferStatusRecord* out)
{
    QlaStatus status = CheckArguments(out);
    if (!status.IsSuccess())
        return status;
    std::lock_guard lock(_mutex);
    CopyRecord(_pClient->_data.status, *out);
    return status;
}

QlaStatus _AutomationTransaction::GetStatus(TransferStatusRecord* out)
{
    QlaStatus status = CheckArguments(out);
    if (!status.IsSuccess())
        return status;
    try {
        TransferStatusRecord local{};
        std::lock_guard lock(_mutex);
        status = StatusFromQlmCode(_pClient->Refresh(&local));
        CopyRecord(local, *out);
    } catch (...) {
        status = QlaStatus(kUnknownError, nullptr, "client transaction threw");
    }
    return status;
}

QlaStatus _AutomationTransaction::GetStatusText(Qo::QoString& text)
{
    if (!_pClient)
        return NotConnected(kNoClient);
    try {
        std::lock_guard lock(_mutex);
        std::vector<char> buffer(kStatusTextRoom, 0);
        int size = kStatusTextRoom;
        int result = _pClient->StatusText(buffer.data(), size);
        if (result == 0 && size > kStatusTextRoom) {
            if (size > kMaxStatusText)
                return QlaStatus(kQlaErrorBufferTooSmall, nullptr, "status text size out of range");
            buffer.assign(static_cast<size_t>(size), 0);
            int room = size;
            result = _pClient->StatusText(buffer.data(), room);
        }
        if (result == 0) {
            // The text ends at its terminator or at the end of the buffer, whatever the library said.
            text = std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
        }
        return StatusFromQlmCode(result);
    } catch (...) {
        return QlaStatus(kUnknownError, nullptr, "client transaction threw");
    }
}

bool _AutomationTransaction::IsEqual(const _AutomationTransaction& other) const
{
    if (!_pClient || !other._pClient)
        return _pClient == other._pClient;
    const QlmTransactionData& a = _pClient->_data;
    const QlmTransactionData& b = other._pClient->_data;
    return a.transferId == b.transferId && strncmp(a.name, b.name, sizeof a.name) == 0;
}

}  // namespace MirelQla
