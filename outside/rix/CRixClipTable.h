#pragma once

// The clip-table XML text that the server keeps beside each clip ("QVCLIPTABLE"): an ordered list of
// elements, each one value as text, written one element per line.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rixsim
{

class CRixClipTable
{
public:
    // A typical entry: a finished PAL SD IMX 50 clip with four audio channels, recorded from field nIn up to
    // nOut, one past its last field (OUT = first field + duration, as every out point of the system), on
    // camera 'A', with the given clip number and sequence.
    static CRixClipTable ForClip(const std::string& szClipName, uint32_t nIn, uint32_t nOut, uint32_t nClipNumber = 1,
                                 uint16_t nSequence = 1);

    // Sets the element's value, replacing an earlier one or appending it at the end.
    CRixClipTable& Set(const std::string& szElement, const std::string& szValue);
    CRixClipTable& Set(const std::string& szElement, int64_t nValue);
    CRixClipTable& Remove(const std::string& szElement);

    std::string ToXml() const;

private:
    std::vector<std::pair<std::string, std::string>> _vElements;
};

}  // namespace rixsim
