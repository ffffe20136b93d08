#include "outside/rix/CRixClipTable.h"

#include <algorithm>

namespace rixsim
{

CRixClipTable CRixClipTable::ForClip(const std::string& szClipName, uint32_t nIn, uint32_t nOut, uint32_t nClipNumber,
                                     uint16_t nSequence)
{
    CRixClipTable table;
    table.Set("XML_FLAG", 1)
        .Set("CLIPNAME", szClipName)
        .Set("NUMCLIPLenmark", nClipNumber)
        .Set("CAMERA", "A")
        .Set("STATUS", 0)
        .Set("IN", nIn)
        .Set("OUT", nOut)
        .Set("SHORTIN", nIn)
        .Set("SHORTOUT", nOut)
        .Set("OFFSETREF", 0)
        .Set("OFFSETTC", 0)
        .Set("VIDEOCOMPRESSIONTYPE", 3)
        .Set("VIDEOCOMPRESSIONRATE", 50)
        .Set("VIDEOFORMAT", 9)
        .Set("ASPECTRATIO", 1)
        .Set("AUDIOMODE", 3)
        .Set("NBCHANNELAV", 1)
        .Set("UNICODEFLAG", 0)
        .Set("TC_USR_SOURCE", "0000000000000000")
        .Set("TC_TOD_SOURCE", "0000000000000000")
        .Set("TC_USR_CURRENT", "0000000000000000")
        .Set("TC_TOD_CURRENT", "0000000000000000")
        .Set("CURRENT_PRIMARY_TC", 0)
        .Set("SEQ", nSequence);
    return table;
}

CRixClipTable& CRixClipTable::Set(const std::string& szElement, const std::string& szValue)
{
    auto it = std::find_if(_vElements.begin(), _vElements.end(), [&](const auto& e) { return e.first == szElement; });
    if (it != _vElements.end())
        it->second = szValue;
    else
        _vElements.emplace_back(szElement, szValue);
    return *this;
}

CRixClipTable& CRixClipTable::Set(const std::string& szElement, int64_t nValue)
{
    return Set(szElement, std::to_string(nValue));
}

CRixClipTable& CRixClipTable::Remove(const std::string& szElement)
{
    std::erase_if(_vElements, [&](const auto& e) { return e.first == szElement; });
    return *this;
}

std::string CRixClipTable::ToXml() const
{
    std::string szXml = "<?xml version=\"1.0\"?>\n<QVCLIPTABLE>\n";
    for (const auto& [szName, szValue] : _vElements) {
        szXml += "<" + szName + ">";
        for (char c : szValue) {
            switch (c) {
                case '&':
                    szXml += "&amp;";
                    break;
                case '<':
                    szXml += "&lt;";
                    break;
                case '>':
                    szXml += "&gt;";
                    break;
                default:
                    szXml += c;
            }
        }
        szXml += "</" + szName + ">\n";
    }
    return szXml + "</QVCLIPTABLE>\n";
}

}  // namespace rixsim
