#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

namespace platform
{

std::string ErrorText(int err)
{
    char buf[256];
    return strerror_r(err, buf, sizeof buf);
}

File::~File()
{
    Close();
}

File::File(File&& other) noexcept
    : _fd(std::exchange(other._fd, -1)), _unbuffered(other._unbuffered), _lastError(other._lastError)
{
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        Close();
        _fd = std::exchange(other._fd, -1);
        _unbuffered = other._unbuffered;
        _lastError = other._lastError;
    }
    return *this;
}

bool File::Fail()
{
    _lastError = errno;
    return false;
}

bool File::Open(const std::string& path, Access access, Disposition disposition, bool unbuffered)
{
    Close();
    int flags = O_CLOEXEC;
    flags |= access == Access::Read ? O_RDONLY : access == Access::Write ? O_WRONLY : O_RDWR;
    switch (disposition) {
        case Disposition::OpenExisting:
            break;
        case Disposition::OpenAlways:
            flags |= O_CREAT;
            break;
        case Disposition::CreateAlways:
            flags |= O_CREAT | O_TRUNC;
            break;
        case Disposition::CreateNew:
            flags |= O_CREAT | O_EXCL;
            break;
        case Disposition::TruncateExisting:
            flags |= O_TRUNC;
            break;
    }
    if (unbuffered)
        flags |= O_DIRECT;
    do {
        _fd = open(path.c_str(), flags, 0644);
    } while (_fd < 0 && errno == EINTR);
    if (_fd < 0)
        return Fail();
    struct stat st {
    };
    if (fstat(_fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        Close();
        errno = EISDIR;
        return Fail();
    }
    _unbuffered = unbuffered;
    return true;
}

void File::Close()
{
    if (_fd >= 0)
        close(_fd);
    _fd = -1;
}

int64_t File::ReadAt(void* data, size_t size, uint64_t offset)
{
    return ReadAtSplit(data, size, nullptr, 0, offset);
}

int64_t File::ReadAtSplit(void* first, size_t firstSize, void* second, size_t secondSize, uint64_t offset)
{
    const size_t size = firstSize + secondSize;
    size_t done = 0;
    while (done < size) {
        iovec parts[2];
        int count = 0;
        if (done < firstSize)
            parts[count++] = {static_cast<char*>(first) + done, firstSize - done};
        const size_t intoSecond = done > firstSize ? done - firstSize : 0;
        if (secondSize > intoSecond)
            parts[count++] = {static_cast<char*>(second) + intoSecond, secondSize - intoSecond};
        const auto at = static_cast<off_t>(offset + done);
        ssize_t n = count == 1 ? pread(_fd, parts[0].iov_base, parts[0].iov_len, at) : preadv(_fd, parts, count, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(), -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
        if (_unbuffered)  // a direct read comes back short only at the end of the file
            break;
    }
    return static_cast<int64_t>(done);
}

int64_t File::WriteAt(const void* data, size_t size, uint64_t offset)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(_fd, static_cast<const char*>(data) + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return done > 0 ? static_cast<int64_t>(done) : (Fail(), -1);
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t File::Read(void* data, size_t size)
{
    auto pos = Tell();
    if (!pos)
        return -1;
    int64_t n = ReadAt(data, size, *pos);
    if (n > 0)
        Seek(*pos + static_cast<uint64_t>(n));
    return n;
}

int64_t File::Write(const void* data, size_t size)
{
    auto pos = Tell();
    if (!pos)
        return -1;
    int64_t n = WriteAt(data, size, *pos);
    if (n > 0)
        Seek(*pos + static_cast<uint64_t>(n));
    return n;
}

bool File::Seek(uint64_t position)
{
    if (position > static_cast<uint64_t>(INT64_MAX)) {
        _lastError = EINVAL;
        return false;
    }
    return lseek(_fd, static_cast<off_t>(position), SEEK_SET) >= 0 || Fail();
}

std::optional<uint64_t> File::Tell()
{
    off_t pos = lseek(_fd, 0, SEEK_CUR);
    if (pos < 0)
        return Fail(), std::nullopt;
    return static_cast<uint64_t>(pos);
}

std::optional<uint64_t> File::Size()
{
    struct stat st {
    };
    if (fstat(_fd, &st) != 0)
        return Fail(), std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool File::IsSameFileAs(const std::string& path)
{
    struct stat mine {
    };
    struct stat named {
    };
    if (fstat(_fd, &mine) != 0 || stat(path.c_str(), &named) != 0)
        return Fail();
    return mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

bool File::Truncate(uint64_t size)
{
    if (size > static_cast<uint64_t>(INT64_MAX)) {
        _lastError = EINVAL;
        return false;
    }
    return ftruncate(_fd, static_cast<off_t>(size)) == 0 || Fail();
}

File::Allocation File::Allocate(uint64_t offset, uint64_t length)
{
    if (offset > static_cast<uint64_t>(INT64_MAX) || length > static_cast<uint64_t>(INT64_MAX) - offset) {
        _lastError = EINVAL;
        return Allocation::Failed;
    }
    // fallocate itself, not posix_fallocate: the library's fallback for file systems without it writes single
    // bytes, which an unbuffered file refuses.
    int rc;
    do {
        rc = fallocate(_fd, 0, static_cast<off_t>(offset), static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return Allocation::Done;
    _lastError = errno;
    return errno == EOPNOTSUPP || errno == ENOSYS || errno == ENODEV || errno == ESPIPE ? Allocation::Unsupported
                                                                                        : Allocation::Failed;
}

bool File::SyncFolder(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    const int err = errno;
    close(fd);
    errno = err;
    return ok;
}

bool File::Sync()
{
    return fdatasync(_fd) == 0 || Fail();
}

void File::StartWriteBack(uint64_t offset, uint64_t length)
{
    // Only a hint: a failure here shows again at the sync.
    if (_fd >= 0)
        sync_file_range(_fd, static_cast<off64_t>(offset), static_cast<off64_t>(length), SYNC_FILE_RANGE_WRITE);
}

bool File::LockForWriting()
{
    // Devices (/dev/null, /dev/full) are shared by every process: only regular files are locked.
    struct stat st {
    };
    if (fstat(_fd, &st) == 0 && !S_ISREG(st.st_mode))
        return true;
    struct flock fl {
    };
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    return fcntl(_fd, F_OFD_SETLK, &fl) == 0 || Fail();
}

bool File::IsLockedForWriting(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock fl {
    };
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    bool locked = fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type == F_WRLCK;
    close(fd);
    return locked;
}

namespace
{

// The nearest existing path at or above the given one.
std::optional<std::filesystem::path> Existing(const std::string& path)
{
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path.empty() ? "." : path, ec);
    if (ec)
        return std::nullopt;
    while (!std::filesystem::exists(p, ec)) {
        if (!p.has_parent_path() || p.parent_path() == p)
            return std::nullopt;
        p = p.parent_path();
    }
    return p;
}

std::optional<uint32_t> ReadNumber(const std::filesystem::path& file)
{
    std::ifstream in(file);
    uint32_t v = 0;
    if (in >> v && v > 0)
        return v;
    return std::nullopt;
}

std::atomic<uint32_t> g_forcedSectorSize{0};

}  // namespace

void File::ForceSectorSize(uint32_t bytes)
{
    g_forcedSectorSize = bytes;
}

std::optional<uint32_t> File::SectorSize(const std::string& path)
{
    if (uint32_t forced = g_forcedSectorSize)
        return forced;
    auto p = Existing(path);
    struct stat st {
    };
    if (!p || stat(p->c_str(), &st) != 0)
        return std::nullopt;
    std::filesystem::path dev =
        "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    // A partition has no queue of its own; its disk's queue is one folder up.
    for (const char* queue : {"queue/logical_block_size", "../queue/logical_block_size"})
        if (auto v = ReadNumber(dev / queue))
            return v;
    return 512;
}

bool File::IsLocalDisk(const std::string& path)
{
    auto p = Existing(path);
    struct statfs fs {
    };
    if (!p || statfs(p->c_str(), &fs) != 0)
        return false;
    switch (static_cast<uint64_t>(fs.f_type)) {
        case 0xEF53:      // ext2/3/4
        case 0x58465342:  // xfs
        case 0x9123683E:  // btrfs
        case 0xF2F52010:  // f2fs
        case 0x2FC12FC1:  // zfs
        case 0x4D44:      // vfat
        case 0x5346544E:  // ntfs
        case 0x7366746E:  // ntfs3
        case 0x2011BAB0:  // exfat
            return true;
        default:
            return false;
    }
}

std::optional<uint64_t> File::SizeOf(const std::string& path)
{
    struct stat st {
    };
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

}  // namespace platform
