#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace MirelQla
{

// Composition work over the editing system's helper library. Each step answers 0 on success and 11
// (the client library's "bad OMF") on any failure.
constexpr int kCompositionOk = 0;
constexpr int kCompositionFailed = 11;

struct ProxyComposition {
    bool aaf = false;  // AAF, else OMF
    std::string tapeName;
    std::vector<int> tracks;  // 0 video, 1 to 8 audio, ascending
    int rate = 25;
    bool drop = false;
    int hours = 0, minutes = 0, seconds = 0, frames = 0;
    std::string videoCompression;
    std::string fileName;
};

// Whether every file mob of the composition has its media where it can be read; false when the
// contents are no composition.
bool AllMediaOnline(const char* contents, size_t size);

// Writes the proxy composition file and gives the first master mob's identifier as "%ld.%ld.%ld"
// (mobIdText may be null).
int WriteProxyComposition(const ProxyComposition& proxy, char* mobIdText);

// Sets an attribute on the first composition mob of a file (its tape id for "TapeID"), or on the first
// master mob when there is no composition mob, and writes the file back.
int SetCompositionAttribute(const std::string& fileName, const std::string& name, const std::string& value,
                            const std::string& category);

}  // namespace MirelQla
