#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CValdrinSettings;
class IByteSink;
class IByteStream;
struct FtpTimeouts;

// What the list view shows of a folder, apart from the window: the kinds of item, the folder walk, the entries of
// a local folder or of a server's FTP listing, the ftp URL of a dragged server clip.
namespace valdrinlist
{

// The image of an item, which is also how the view tells its kind. Image 2 is not used.
enum ItemImage : int { kImageClip = 0, kImageFile = 1, kImageFolder = 3 };

struct Entry {
    std::string name;
    bool folder = false;
};

// A local file is a clip when its text from the last '.' begins with ".mxf" in any case.
bool IsClipFileName(const std::string& name);

// The separator of a folder text: '/' for a local Linux path, '\' for a drive, UNC or server path.
char SeparatorOf(const std::string& folder);
// The folder text with its separator at the end.
std::string WithTrailingSeparator(const std::string& folder);
// ".." from a folder: the local rule keeps a root ("C:\", "/"); the server rule keeps "\".
std::string ParentFolder(const std::string& folder, bool server);
std::string ChildFolder(const std::string& folder, const std::string& name);

// The entries of a local folder (a Windows-style path is mapped to the local file system): ".." first unless the
// folder is a root, then the rest sorted without regard to case, as the Windows file system enumerates them.
// Hidden folders (a leading '.') are left out, hidden files are kept. False when the folder cannot be read.
bool ReadLocalFolder(const std::string& folder, std::vector<Entry>& entries);

// The entries of an "ls -l" style listing, in its order; "." and ".." and lines that are not entries are dropped.
std::vector<Entry> ParseFtpListing(const std::string& text);

// The server's FTP area under the folder (backslashes allowed), through the system's FTP client. 0 done;
// 1 the server was not reached or refused the log-in; 2 the listing failed. errorText tells why. Replies and data
// are read from the streams given instead of the connections, and commands go to the sink given (fuzz targets
// keep them in memory).
int ReadServerFolder(const CValdrinSettings& settings, const std::string& folder, const FtpTimeouts& timeouts,
                     std::vector<Entry>& entries, std::string& errorText, IByteStream* replies = nullptr,
                     IByteStream* data = nullptr, IByteSink* commands = nullptr);

// The ftp URL of a server clip: "ftp://[user[:password]@]address[:port]" + folder + name + ".CLP".
std::string FtpUrl(const CValdrinSettings& settings, const std::string& folder, const std::string& clipName);

// Whether a local folder lies on a network file system, from the mount table text (/proc/self/mountinfo form).
// A UNC path is on the network by its form.
bool IsNetworkFolder(const std::string& localPath, const std::string& mountInfo);
std::string ReadMountInfo();

}  // namespace valdrinlist
