#pragma once

#include <cstdint>
#include <string>

// The parsed form of a link file: a small XML file (root "RixLink") standing for a clip on a video server,
// naming the gateway, the clip and its points and coding. Numbers a file does not carry stay -1 (unknown).
class CRixLink
{
public:
    // -1 when the file cannot be loaded as XML (nothing changes then), else 0.
    int32_t Parse(const char* path);
    // Whether the link names a finished clip fully enough to be read without asking the server.
    bool IsComplete() const;

    std::string _szAddress;  // the gateway as written: a host, or a host, a colon and a port
    std::string _szHost;
    std::string _szUmID;
    int32_t _nPort = -1;
    int32_t _nRixNumber = -1;
    int32_t _nClipNumber = -1;
    int32_t _nIn = -1;
    int32_t _nOut = -1;
    int32_t _nShortIn = -1;
    int32_t _nShortOut = -1;
    int32_t _nVideoChannels = -1;
    int32_t _nVideoFormat = -1;  // bit 22: progressive
    int32_t _nVideoCodec = -1;
    int32_t _nAudioCodec = -1;
    int32_t _nAudioChannels = -1;
    std::string _szVarID32;  // in the local code page
    char _cCamera = 0;
    int32_t _nGrowingMode = 0;  // non-zero while the clip is being recorded
};
