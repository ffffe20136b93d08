#include "receiver/CKorvoBlockReader.h"

#include <limits>
#include <optional>

#include "common/CLogManager.h"

bool CKorvoBlockReader::IsFieldInBlock(int32_t element)
{
    return _pBlockData && _pBlockData->HasElement(element);
}

int CKorvoBlockReader::ReadNextBlock(uint32_t* elementsPerField)
{
    if (_nRefused != 0) {
        if (elementsPerField)
            *elementsPerField = 0;
        return _nRefused;
    }
    // Whatever block is current, read in order or found by a search, the next one continues it.
    std::optional<uint32_t> endField;
    if (_pBlockData && _pBlockData->IsValid())
        endField = _pBlockData->GetEndField();
    const int rc = LoadNextBlock(elementsPerField);
    if (rc != 0 || !endField || !_pBlockData || _pBlockData->GetFirstField() == *endField)
        return rc;
    const uint32_t first = _pBlockData->GetFirstField();
    theLogManager.Log(
        "CKorvoBlockReader: block out of order [ starts at field %u, the previous block ended at field %u ]", first,
        *endField);
    SetFailure("a block out of order: it starts at field " + std::to_string(first) +
               ", the previous block ended at field " + std::to_string(*endField));
    // Nothing of the refused block is handed out.
    _pBlockData->Clear();
    if (elementsPerField)
        *elementsPerField = 0;
    _nRefused = kReadOutOfOrder;
    return _nRefused;
}

int CKorvoBlockReader::LoadNextBlock(uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = 0;
    return -1;
}

std::string CKorvoBlockReader::GetFailure() const
{
    std::lock_guard lock(_failureLock);
    return _strFailure;
}

void CKorvoBlockReader::SetFailure(const std::string& text)
{
    std::lock_guard lock(_failureLock);
    if (_strFailure.empty())
        _strFailure = text;
}

const uint8_t* CKorvoBlockReader::GetVideo(int32_t element, int32_t* size)
{
    if (_pBlockData)
        return _pBlockData->GetVideo(element, size);
    if (size)
        *size = -1;
    return nullptr;
}

const uint8_t* CKorvoBlockReader::GetAudio(int32_t unit, int32_t* size)
{
    if (_pBlockData)
        return _pBlockData->GetAudio(unit, size);
    if (size)
        *size = -1;
    return nullptr;
}

const uint8_t* CKorvoBlockReader::DataEnd()
{
    return _pBlockData ? _pBlockData->DataEnd() : nullptr;
}

int32_t CKorvoBlockReader::StartFieldOffset(int32_t, uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = 0;
    return -1;
}

int32_t CKorvoBlockReader::SetFirstField(uint32_t, uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = 0;
    return -1;
}

int CKorvoBlockReader::FieldParity(uint32_t field)
{
    if (!_pBlockData || _pBlockData->Flag())
        return 0;
    return static_cast<int>((_pBlockData->GetFirstField() + field) & 1);
}

void CKorvoBlockReader::Cancel()
{
    _bCancelled = true;
    _cancelEvent.Set();
}

int32_t CKorvoBlockReader::ElementOf(uint32_t field, uint32_t elementsPerField) const
{
    const int64_t element = (int64_t{field} - int64_t{_pBlockData->GetFirstField()}) * elementsPerField;
    if (element > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (element < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(element);
}

int32_t CKorvoBlockReader::ReadForwardToField(uint32_t serverField, uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = 0;
    if (!_pBlockData)
        return 0;
    if (!_pBlockData->IsValid() && ReadNextBlock(elementsPerField) != 0)
        return 0;
    while (serverField >= _pBlockData->GetEndField()) {
        if (ReadNextBlock(elementsPerField) != 0)
            return 0;
    }
    if (elementsPerField)
        *elementsPerField = _pBlockData->ElementsPerField();
    return ElementOf(serverField, _pBlockData->ElementsPerField());
}

bool CKorvoBlockReader::Sleep(uint32_t ms) const
{
    return _cancelEvent.Wait(ms) != platform::kWaitObject0;
}
