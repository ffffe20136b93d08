#pragma once

#include <string>

// What a playback job file tells the production-control system: which clip file to move to which server clip.
struct PlaybackJob {
    std::string szJobPath;       // the job file itself
    std::string szSrcFile;       // the played-out clip file
    std::string szMetadataPath;  // its side-car metadata file
    std::string szReferencingFolder;
    std::string szUserNb;
    std::string szDestId;
    std::string szDestVarId;
    std::string szPage;
    std::string szClipNb;
    std::string szCamera;
    std::string szAddress;
    std::string szPort;
    std::string szLogin;
    std::string szPassword;
    std::string szTapeId;
    std::string szOwner;
};

// The referencing path of a job: a folder ending with '\' gets the job file's name with "_ref.xml" in place of its
// extension; any other text is taken as it is.
std::string JobReferencingPath(const std::string& referencingFolder, const std::string& jobPath);

// Writes the job file; true when it was saved, else the cause in *error. The outcome is logged.
bool CreateXMLJobFile(const PlaybackJob& job, std::string* error = nullptr);
