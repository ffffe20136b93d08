// Any bytes as a server clip table: the values, the hexadecimal texts and the keywords the browser reads from it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "browser/CServerClipTable.h"
#include "xml/CXmlDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The browser reads at most this much of a clip table.
    if (size > 16384)
        return 0;
    CXmlDocument doc;
    if (!doc.LoadXml(std::string(reinterpret_cast<const char*>(data), size)))
        return 0;
    CServerClipTable table;
    table.Read(doc);
    CServerClipTable::ReadVarId(doc);
    for (const char* element : {"CLIPNAME", "CLIPID", "INDEXKEY0", "INDEXKEY4", "TC_TOD_CURRENT"})
        if (auto text = CServerClipTable::ReadText(doc, element))
            CServerClipTable::DecodeUnicodeHex(*text);
    return 0;
}
