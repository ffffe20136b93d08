#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/Paths.h"

namespace platform
{
namespace
{
// FNV-1a of the runtime folder: a short, stable scope for names.
uint32_t ScopeHash()
{
    uint32_t h = 2166136261u;
    for (unsigned char c : RuntimeDir().string()) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}
}  // namespace

SharedMemory::~SharedMemory()
{
    Close();
}

std::string SharedMemory::ObjectName(const std::string& name)
{
    char scope[16];
    std::snprintf(scope, sizeof scope, "%08x", ScopeHash());
    std::string out = "/korvo-";
    out += scope;
    out += '-';
    for (char c : name)
        out += (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
    return out;
}

bool SharedMemory::Open(const std::string& name, size_t size)
{
    Close();
    if (size == 0) {
        _error = EINVAL;
        return false;
    }
    const std::string objectName = ObjectName(name);
    _created = false;
    int fd = shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        _created = true;
    else if (errno == EEXIST)
        fd = shm_open(objectName.c_str(), O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        _error = errno;
        return false;
    }
    // Every opener grows the object to the size it needs: growing is idempotent and zero-fills, so an
    // opener never maps past the end of an object whose creator has not sized it yet.
    struct stat st {
    };
    if (fstat(fd, &st) != 0 ||
        (static_cast<uint64_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        _error = errno;
        close(fd);
        return false;
    }
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    _error = p == MAP_FAILED ? errno : 0;
    close(fd);
    if (p == MAP_FAILED)
        return false;
    _data = p;
    _size = size;
    return true;
}

void SharedMemory::Close()
{
    if (_data)
        munmap(_data, _size);
    _data = nullptr;
    _size = 0;
}

bool SharedMemory::Remove(const std::string& name)
{
    return shm_unlink(ObjectName(name).c_str()) == 0;
}

}  // namespace platform
