#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform
{

// A file descriptor with the operations the system's file code needs. Paths are local paths
// (see ToLocalPath). Unbuffered files are opened with O_DIRECT: their buffers, offsets and
// lengths must be multiples of the sector size.
class File
{
public:
    enum class Access { Read, Write, ReadWrite };
    enum class Disposition {
        OpenExisting,      // fails when missing
        OpenAlways,        // opens or creates
        CreateAlways,      // creates or truncates
        CreateNew,         // fails when it exists
        TruncateExisting,  // fails when missing
    };

    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    bool Open(const std::string& path, Access access, Disposition disposition, bool unbuffered = false);
    void Close();
    bool IsOpen() const { return _fd >= 0; }
    int Fd() const { return _fd; }
    bool IsUnbuffered() const { return _unbuffered; }
    // errno of the last failed call.
    int LastError() const { return _lastError; }

    // Bytes moved, or -1 on error; a short count only at the end of the file (reads) or on a full disk.
    int64_t ReadAt(void* data, size_t size, uint64_t offset);
    int64_t WriteAt(const void* data, size_t size, uint64_t offset);
    // One read of firstSize + secondSize bytes at offset, the first part into first and the rest into second (both
    // aligned for an unbuffered file): a caller's aligned middle and the sector after it in one request.
    int64_t ReadAtSplit(void* first, size_t firstSize, void* second, size_t secondSize, uint64_t offset);
    // Reads and writes at the file pointer, moving it.
    int64_t Read(void* data, size_t size);
    int64_t Write(const void* data, size_t size);
    bool Seek(uint64_t position);
    std::optional<uint64_t> Tell();

    std::optional<uint64_t> Size();
    // Whether the path still names the file this descriptor has open (same device and inode); false once
    // another process has renamed it away or replaced it.
    bool IsSameFileAs(const std::string& path);
    bool Truncate(uint64_t size);
    enum class Allocation { Done, Unsupported, Failed };
    // Allocates the disk blocks of a range, growing the file to its end when shorter: a write there later cannot
    // fail for want of space. Unsupported where the file system (or the file, a device) keeps no such
    // reservation; Failed (with LastError) when the disk cannot give it, or the file may not grow that far.
    Allocation Allocate(uint64_t offset, uint64_t length);
    bool Sync();
    // Starts writing the range's dirty pages to the disk without waiting, so that a later Sync has less to do.
    void StartWriteBack(uint64_t offset, uint64_t length);

    // Writers hold a write lock on the whole file while they write; readers can ask whether one does.
    // Only regular files are locked.
    bool LockForWriting();
    static bool IsLockedForWriting(const std::string& path);

    // The logical sector size of the device holding the path (its nearest existing folder when the
    // file does not exist yet); 512 when the file system has no block device.
    static std::optional<uint32_t> SectorSize(const std::string& path);
    // Makes SectorSize answer the given size for every path (0 restores the device's), so that tests
    // can run the aligned code at sector sizes the machine's disk does not have. A forced size must be
    // a multiple of the real one, or unbuffered transfers fail.
    static void ForceSectorSize(uint32_t bytes);
    // Whether the path lies on a local disk file system (not a network share, not memory).
    static bool IsLocalDisk(const std::string& path);
    static std::optional<uint64_t> SizeOf(const std::string& path);
    // Makes the entries of a folder (a file renamed into it) last on its disk; false with errno set.
    static bool SyncFolder(const std::string& path);

private:
    bool Fail();
    int _fd = -1;
    bool _unbuffered = false;
    int _lastError = 0;
};

// The system's text for an errno value.
std::string ErrorText(int err);

}  // namespace platform
