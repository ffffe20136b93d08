// The automation library's text handling on hostile input: the ingest mapping files as a user may have
// edited them, and the string class's encoders and decoders.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "automation/IngestInitFiles.h"
#include "automation/QoString.h"
#include "tests/fuzz/FuzzTempFolder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool placed = [] {
        setenv("KORVO_DRIVE_ROOT", FuzzTempFolder().c_str(), 1);
        return true;
    }();
    if (!placed || FuzzTempFolder().empty())
        return 0;
    std::string text(reinterpret_cast<const char*>(data), size);

    // The same bytes as both mapping files: every key they name must resolve without reading past a line.
    std::filesystem::create_directories(MirelQla::IngestInitFolder());
    for (const char* file : {MirelQla::kHostToDeviceFile, MirelQla::kDeviceToSetupFile})
        std::ofstream(MirelQla::IngestInitFolder() + "/" + file, std::ios::binary) << text;
    std::string setupName;
    MirelQla::LookupIngestSetup(text.substr(0, 16), setupName);
    if (setupName.size() > 262)
        abort();

    // Encoding and decoding give the text back; the other operations stay inside it.
    Qo::QoString original(text);
    Qo::QoString xml(original);
    xml.XmlEncode().XmlDecode();
    if (xml != original)
        abort();
    Qo::QoString url(original);
    url.UrlEncode();
    std::unique_ptr<Qo::QoString> sub(original.NewSubstring(size % 7, size % 5));
    original.Find(Qo::QoString(text.substr(0, 3)), static_cast<long>(size % 11) - 2, -1, size % 2 == 0);
    original.FindADelimiter(text.c_str());
    original.ToLowerCase();
    return 0;
}
