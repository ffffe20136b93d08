#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace testsupport
{

// A folder on a tmpfs of its own, mounted with the options given ("size=64k", "ro,size=1m"): a disk the test can
// fill or one that takes no writes. Mounting needs root; Mounted() says whether it worked. Unmounted at the end.
class SmallFolder
{
public:
    SmallFolder(const std::filesystem::path& folder, const std::string& options) : _folder(folder)
    {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        const std::string command =
            "mount -t tmpfs -o " + options + " korvo-test '" + folder.string() + "' 2>/dev/null";
        _bMounted = std::system(command.c_str()) == 0;
        if (!_bMounted)
            _strError = "mount -t tmpfs failed";
    }
    ~SmallFolder()
    {
        if (_bMounted)
            std::system(("umount '" + _folder.string() + "' 2>/dev/null").c_str());
    }
    SmallFolder(const SmallFolder&) = delete;
    SmallFolder& operator=(const SmallFolder&) = delete;

    bool Mounted() const { return _bMounted; }
    // Only an ordinary user may go without the folder: as root the mount must work.
    static bool MayBeMissing() { return geteuid() != 0; }
    const std::string& Error() const { return _strError; }
    // Writes a file until the disk is full.
    void Fill() const
    {
        std::ofstream out(_folder / "filler", std::ios::binary);
        const std::string chunk(4096, 'x');
        while (out.write(chunk.data(), static_cast<std::streamsize>(chunk.size())) && out.flush()) {
        }
    }

private:
    std::filesystem::path _folder;
    bool _bMounted = false;
    std::string _strError;
};

}  // namespace testsupport
