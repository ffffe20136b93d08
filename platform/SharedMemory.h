#pragma once

#include <cstddef>
#include <string>

namespace platform
{

// A named block of memory shared by every process that opens the same name (shm_open).
// Names are scoped by RuntimeDir(), so separate installations and test runs never meet.
// The object outlives its openers until Remove(); a new object reads as zeros.
class SharedMemory
{
public:
    SharedMemory() = default;
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Opens the named object, creating it when it does not exist, and maps size bytes read/write.
    bool Open(const std::string& name, size_t size);
    void Close();
    bool IsOpen() const { return _data != nullptr; }
    // True when this Open made the object.
    bool Created() const { return _created; }
    void* Data() const { return _data; }
    size_t Size() const { return _size; }
    // errno of the last failure.
    int LastError() const { return _error; }

    static bool Remove(const std::string& name);
    // The shm_open name a system name maps to.
    static std::string ObjectName(const std::string& name);

private:
    void* _data = nullptr;
    size_t _size = 0;
    bool _created = false;
    int _error = 0;
};

}  // namespace platform
