#include "browser/ui/ValdrinListing.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "browser/CValdrinSettings.h"
#include "common/FormatText.h"
#include "ftp/CKorvoFtpClient.h"
#include "ftp/FtpConnectText.h"
#include "platform/Paths.h"

namespace valdrinlist
{

namespace
{

constexpr const char* kFtpLog = "ValdrinFtp";
// A listing longer than this is not a folder of clips; it is cut rather than held whole.
constexpr size_t kMaxListingBytes = 8u << 20;

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The FTP client on exactly the configured account.
class CListingFtpClient : public CKorvoFtpClient
{
public:
    explicit CListingFtpClient(const FtpServerEntry& server) : CKorvoFtpClient(kFtpLog) { _servers.push_back(server); }
};

}  // namespace

bool IsClipFileName(const std::string& name)
{
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && Lower(name.substr(dot, 4)) == ".mxf";
}

char SeparatorOf(const std::string& folder)
{
    return !folder.empty() && folder[0] == '/' ? '/' : '\\';
}

std::string WithTrailingSeparator(const std::string& folder)
{
    if (folder.empty() || !IsSeparator(folder.back()))
        return folder + SeparatorOf(folder);
    return folder;
}

std::string ParentFolder(const std::string& folder, bool server)
{
    std::string path = folder;
    if (server) {
        // "\" stays "\": the server's root has no parent.
        if (path.size() > 1) {
            path.pop_back();
            const size_t last = path.find_last_of("\\/");
            path.erase(last == std::string::npos ? 0 : last + 1);
        }
        return path.empty() ? std::string(1, '\\') : path;
    }
    const char separator = SeparatorOf(path);
    if (!path.empty() && IsSeparator(path.back()))
        path.pop_back();
    const size_t last = path.find_last_of("\\/");
    // A Linux root is the first character; a UNC path's first backslash is never cut after.
    if (last != std::string::npos && (last != 0 || separator == '/'))
        path.erase(last + 1);
    if (path.empty() || !IsSeparator(path.back()))
        path += separator;
    return path;
}

std::string ChildFolder(const std::string& folder, const std::string& name)
{
    return WithTrailingSeparator(folder) + name + SeparatorOf(folder);
}

bool ReadLocalFolder(const std::string& folder, std::vector<Entry>& entries)
{
    namespace fs = std::filesystem;
    entries.clear();
    const fs::path local = platform::ToLocalPath(folder);
    std::error_code ec;
    fs::directory_iterator it(local, fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return false;
    std::vector<Entry> found;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        const std::string name = it->path().filename().string();
        std::error_code kindError;
        const bool isFolder = it->is_directory(kindError);
        if (isFolder && name.starts_with("."))
            continue;
        found.push_back({name, isFolder});
    }
    std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
        const std::string la = Lower(a.name), lb = Lower(b.name);
        return la != lb ? la < lb : a.name < b.name;
    });
    // The file system gives no "..", but the walk up goes through it.
    const fs::path canonical = fs::weakly_canonical(local, ec);
    if (!ec && canonical.has_relative_path())
        entries.push_back({"..", true});
    entries.insert(entries.end(), found.begin(), found.end());
    return true;
}

std::vector<Entry> ParseFtpListing(const std::string& text)
{
    std::vector<Entry> entries;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() < 10 || (line[0] != 'd' && line[0] != '-'))
            continue;
        // permissions, links, owner, group, size, month, day, time or year, then the name (blanks allowed).
        size_t at = 0;
        for (int field = 0; field < 8 && at != std::string::npos; ++field) {
            at = line.find_first_not_of(' ', at);
            at = at == std::string::npos ? at : line.find(' ', at);
        }
        if (at == std::string::npos || at + 1 >= line.size())
            continue;
        const std::string name = line.substr(at + 1);
        if (name == "." || name == "..")
            continue;
        entries.push_back({name, line[0] == 'd'});
    }
    return entries;
}

int ReadServerFolder(const CValdrinSettings& settings, const std::string& folder, const FtpTimeouts& timeouts,
                     std::vector<Entry>& entries, std::string& errorText, IByteStream* replies, IByteStream* data,
                     IByteSink* commands)
{
    entries.clear();
    FtpServerEntry server;
    server.szHost = settings._szRixAddress;
    const int port = std::atoi(settings._szRixPort.c_str());
    server.nPort = static_cast<uint16_t>(port == 0 ? 21 : port);
    server.szUser = settings._szRixUser;
    server.szPassword = settings._szRixPass;
    if (port < 0 || port > 65535) {
        errorText = FormatText("port %s is not a port number", settings._szRixPort.c_str());
        return 1;
    }

    CListingFtpClient ftp(server);
    ftp.SetTimeouts(timeouts);
    ftp.SetReplyStream(replies);
    ftp.SetDataStream(data);
    ftp.SetCommandSink(commands);
    if (const int result = ftp.Connect(); result != 0) {
        errorText = FtpConnectFailureText(server, result, ftp.GetConnectError(), ftp.GetLastReply());
        return 1;
    }
    std::string directory = folder;
    std::replace(directory.begin(), directory.end(), '\\', '/');
    // As the original listing: a folder that cannot be entered lists the one the session is in.
    ftp.SetDirectory(directory, false);
    if (ftp.FtpOpenFile(CKorvoFtpClient::kList, 0, 0) != 0) {
        errorText = FormatText("LIST refused: %s", ftp.GetLastReply().c_str());
        ftp.Close(true, false);
        return 2;
    }
    std::string text;
    constexpr uint32_t kChunk = 65536;
    std::string chunk(kChunk, '\0');
    for (;;) {
        int64_t count = 0;
        const int result = ftp.FtpReadFile(chunk.data(), kChunk, &count, false);
        if (result != 0) {
            errorText = FormatText("listing broken [error %i]", result);
            ftp.Close(true, true);
            return 2;
        }
        text.append(chunk, 0, static_cast<size_t>(count));
        if (count < kChunk)
            break;
        if (text.size() >= kMaxListingBytes) {
            ftp.FtpCloseFile(true);
            break;
        }
    }
    ftp.Close(true, false);
    // The walk up goes through "..", which a Unix-style listing leaves out.
    if (directory.find_first_not_of('/') != std::string::npos)
        entries.push_back({"..", true});
    for (Entry& entry : ParseFtpListing(text))
        entries.push_back(std::move(entry));
    return 0;
}

std::string FtpUrl(const CValdrinSettings& settings, const std::string& folder, const std::string& clipName)
{
    std::string url = "ftp://";
    if (!settings._szRixUser.empty()) {
        url += settings._szRixUser;
        if (!settings._szRixPass.empty())
            url += ":" + settings._szRixPass;
        url += "@";
    }
    url += settings._szRixAddress;
    if (!settings._szRixPort.empty())
        url += ":" + settings._szRixPort;
    return url + folder + clipName + ".CLP";
}

bool IsNetworkFolder(const std::string& localPath, const std::string& mountInfo)
{
    if (localPath.starts_with("\\\\"))
        return true;
    static const char* const kNetworkTypes[] = {"nfs",    "nfs4",       "cifs",  "smb3",      "smbfs",
                                                "ncpfs",  "afs",        "ceph",  "glusterfs", "9p",
                                                "lustre", "fuse.sshfs", "davfs", "gpfs",      "ocfs2"};
    const std::string path = platform::ToLocalPath(localPath);
    std::string bestMount, bestType;
    std::istringstream lines(mountInfo);
    for (std::string line; std::getline(lines, line);) {
        // id parent major:minor root mount-point options [optional fields] - type source super-options
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        fields >> id >> parent >> device >> root >> mountPoint;
        std::string word;
        while (fields >> word && word != "-") {
        }
        std::string type;
        fields >> type;
        if (mountPoint.empty() || type.empty())
            continue;
        const bool under =
            path == mountPoint || mountPoint == "/" ||
            (path.starts_with(mountPoint) && path.size() > mountPoint.size() && path[mountPoint.size()] == '/');
        if (under && mountPoint.size() >= bestMount.size()) {
            bestMount = mountPoint;
            bestType = type;
        }
    }
    return std::any_of(std::begin(kNetworkTypes), std::end(kNetworkTypes),
                       [&](const char* t) { return bestType == t; });
}

std::string ReadMountInfo()
{
    std::ifstream in("/proc/self/mountinfo");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace valdrinlist
