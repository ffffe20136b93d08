#include "reading/source/CLocalFileReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "common/CLogManager.h"
#include "common/CSlowCallWatch.h"
#include "platform/Paths.h"

namespace
{
constexpr int32_t kSlowFileCallMs = 400;
}

CLocalFileReader::~CLocalFileReader()
{
    Close();
}

int32_t CLocalFileReader::Open(const char* name, uint32_t, uint32_t)
{
    if (_file.IsOpen())
        Close();
    const std::string path = name ? name : "";
    if (path.empty() || !_file.Open(platform::ToLocalPath(path), platform::File::Access::Read,
                                    platform::File::Disposition::OpenExisting)) {
        const int err = path.empty() ? ENOENT : _file.LastError();
        theLogManager.LogTo(_szLogName, "CLocalFileReader CreateFile [%s] FAILED: %s", path.c_str(),
                            platform::ErrorText(err).c_str());
        return 1;
    }
    _nPosition = 0;
    _szName = path;
    _bHasName = true;
    _bOpen = true;
    return 0;
}

void CLocalFileReader::Close()
{
    _bOpen = false;
    _file.Close();
    _szName.clear();
    _bHasName = false;
}

bool CLocalFileReader::IsAtEnd()
{
    const int64_t size = GetSize();
    return size < 0 || _nPosition >= static_cast<uint64_t>(size);
}

int32_t CLocalFileReader::Read(uint8_t* buffer, uint32_t size, uint32_t* read)
{
    if (read)
        *read = 0;
    if (!_file.IsOpen())
        return -1;
    int64_t count = 0;
    {
        CSlowCallWatch watch("Read File", kSlowFileCallMs, _szLogName);
        count = buffer || size == 0 ? _file.Read(buffer, size) : -1;
    }
    if (count < 0) {
        _bOpen = false;
        return 1;
    }
    _nPosition += static_cast<uint64_t>(count);
    if (read)
        *read = static_cast<uint32_t>(count);
    return 0;
}

int32_t CLocalFileReader::SetPosition(int64_t position, const char* watchName)
{
    bool ok = false;
    {
        CSlowCallWatch watch(watchName, kSlowFileCallMs, _szLogName);
        ok = position >= 0 && _file.Seek(static_cast<uint64_t>(position));
    }
    if (!ok) {
        _bOpen = false;
        return 1;
    }
    _nPosition = static_cast<uint64_t>(position);
    return 0;
}

int32_t CLocalFileReader::Seek(uint64_t* position)
{
    if (!_file.IsOpen() || !position)
        return -1;
    // Every 64-bit position is valid, whatever its low half; only a position beyond the signed range fails.
    if (*position > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        _bOpen = false;
        return 1;
    }
    const int32_t result = SetPosition(static_cast<int64_t>(*position), "Set File Pointer");
    if (result == 0)
        *position = _nPosition;
    return result;
}

int32_t CLocalFileReader::Move(int64_t delta)
{
    if (!_file.IsOpen())
        return -1;
    const uint64_t max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    // Checked before adding, so that no target wraps.
    const bool before = delta < 0 && static_cast<uint64_t>(-(delta + 1)) + 1 > _nPosition;
    const bool beyond = delta > 0 && static_cast<uint64_t>(delta) > max - std::min(_nPosition, max);
    if (before || beyond) {
        _bOpen = false;
        return 1;
    }
    return SetPosition(static_cast<int64_t>(_nPosition) + delta, "Move File Pointer");
}

int64_t CLocalFileReader::GetSize()
{
    if (!_file.IsOpen())
        return -1;
    const auto size = _file.Size();
    return size ? static_cast<int64_t>(*size) : -1;
}

void CLocalFileReader::GetName(std::string& name)
{
    name = _szName;
}

int32_t CLocalFileReader::GetPath(char* buffer, uint32_t capacity)
{
    if (!_bHasName)
        return -1;
    if (!buffer || _szName.size() >= capacity)
        return -2;
    std::memcpy(buffer, _szName.c_str(), _szName.size() + 1);
    return static_cast<int32_t>(_szName.size());
}
