#include "browser/CValdrinSettings.h"

#include <optional>

#include "platform/Registry.h"

using platform::RegHive;
using platform::Registry;

namespace
{

constexpr size_t kMaxTextBytes = 260;  // the terminator included
constexpr size_t kMaxNumberBytes = 4;

// A value too long for the buffer it is read into counts as missing; its type is not checked.
std::optional<std::string> ReadText(const std::string& key, const char* name)
{
    auto value = Registry::Query(RegHive::CurrentUser, key, name);
    if (!value || value->data.size() + 1 > kMaxTextBytes)
        return std::nullopt;
    std::string text(value->data.begin(), value->data.end());
    // A terminator stored inside the data ends the text, as the C string it is read into.
    if (size_t end = text.find('\0'); end != std::string::npos)
        text.resize(end);
    return text;
}

std::optional<uint32_t> ReadNumber(const std::string& key, const char* name)
{
    auto value = Registry::Query(RegHive::CurrentUser, key, name);
    if (!value || value->data.size() > kMaxNumberBytes)
        return std::nullopt;
    uint32_t number = 0;
    for (size_t i = 0; i < value->data.size(); ++i)
        number |= static_cast<uint32_t>(value->data[i]) << (8 * i);
    return number;
}

// Reads a number, writing the default when it is missing and a default is to be written.
uint32_t NumberOrDefault(const char* name, uint32_t current, std::optional<uint32_t> writeDefault)
{
    if (auto value = ReadNumber(CValdrinSettings::kKey, name))
        return *value;
    if (writeDefault) {
        Registry::SetDword(RegHive::CurrentUser, CValdrinSettings::kKey, name, *writeDefault);
        return *writeDefault;
    }
    return current;
}

}  // namespace

bool CValdrinSettings::Load()
{
    const std::string key = kKey;
    if (!Registry::KeyExists(RegHive::CurrentUser, key)) {
        Registry::CreateKey(RegHive::CurrentUser, key);
        WriteString("Drive", _szCurrentFolder);
        WriteString("SetupDll", _szSetupDll);
        return false;
    }
    if (auto text = ReadText(key, "Drive"))
        _szCurrentFolder = *text;
    if (auto text = ReadText(key, "SetupDll"))
        _szSetupDll = *text;
    else
        WriteString("SetupDll", _szSetupDll);
    if (auto text = ReadText(key, "TargetHost"))
        _szTargetHost = *text;
    _bMxfOnly = NumberOrDefault("MXF Only", _bMxfOnly, 0) != 0;
    _bTcpTransfer = NumberOrDefault("TCP Transfer", _bTcpTransfer, 0) != 0;
    _bOmf = NumberOrDefault("OMF File", _bOmf, 0) == 1;
    _bTrimClip = NumberOrDefault("Trim Clip", _bTrimClip, 0) == 1;
    _nTrimGuardBand = static_cast<int32_t>(NumberOrDefault("Trim GuardBand", _nTrimGuardBand, 0));
    _b24BitsAudio = NumberOrDefault("24 bits Audio", _b24BitsAudio, 0) != 0;
    _bUseRix = NumberOrDefault("Use Rix FTP", _bUseRix, std::nullopt) != 0;
    if (auto text = ReadText(key, "Rix FTP"))
        _szRixAddress = *text;
    if (auto text = ReadText(key, "Rix Port"))
        _szRixPort = *text;
    if (auto text = ReadText(key, "Rix User"))
        _szRixUser = *text;
    if (auto text = ReadText(key, "Rix Pass"))
        _szRixPass = *text;
    _bDropFtpXml = NumberOrDefault("Drop FtpXml", _bDropFtpXml, std::nullopt) != 0;
    _bOnTop = NumberOrDefault("On Top", _bOnTop, std::nullopt) != 0;
    _bTardix = NumberOrDefault("Tardix", _bTardix, 1) != 0;
    return true;
}

void CValdrinSettings::SetTargetHost(const std::string& host)
{
    _szTargetHost = host;
    WriteString("TargetHost", host);
}

void CValdrinSettings::SetTrimGuardBand(int32_t fields)
{
    _nTrimGuardBand = fields;
    WriteDword("Trim GuardBand", static_cast<uint32_t>(fields));
}

void CValdrinSettings::SetCurrentFolder(const std::string& folder)
{
    _szCurrentFolder = folder;
    WriteString("Drive", folder);
}

void CValdrinSettings::SetUseRix(bool on)
{
    _bUseRix = on;
    WriteFlag("Use Rix FTP", on);
}

void CValdrinSettings::SetRixServer(const std::string& address, const std::string& port, const std::string& user,
                                    const std::string& password)
{
    _szRixAddress = address;
    _szRixPort = port;
    _szRixUser = user;
    _szRixPass = password;
    WriteString("Rix FTP", address);
    WriteString("Rix Port", port);
    WriteString("Rix User", user);
    WriteString("Rix Pass", password);
}

void CValdrinSettings::WriteFlag(const char* name, bool on)
{
    WriteDword(name, on ? 1 : 0);
}

// A key that does not open keeps the change in memory only.
void CValdrinSettings::WriteDword(const char* name, uint32_t value)
{
    if (Registry::KeyExists(RegHive::CurrentUser, kKey))
        Registry::SetDword(RegHive::CurrentUser, kKey, name, value);
}

void CValdrinSettings::WriteString(const char* name, const std::string& value)
{
    if (Registry::KeyExists(RegHive::CurrentUser, kKey))
        Registry::SetString(RegHive::CurrentUser, kKey, name, value);
}

CWindowPlacement CWindowPlacement::Load()
{
    CWindowPlacement place;
    auto read = [](const char* name, int32_t fallback) {
        auto value = ReadNumber(kSection, name);
        return value ? static_cast<int32_t>(*value) : fallback;
    };
    place._nX = read("csX", 0);
    place._nY = read("csY", 0);
    place._nWidth = read("cscX", 640);
    place._nHeight = read("cscY", 480);
    if (place._nX < 0 || place._nX > 1500)
        place._nX = 0;
    if (place._nY < 0 || place._nY > 1000)
        place._nY = 0;
    return place;
}

void CWindowPlacement::Save(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    Registry::SetDword(RegHive::CurrentUser, kSection, "csX", static_cast<uint32_t>(left));
    Registry::SetDword(RegHive::CurrentUser, kSection, "csY", static_cast<uint32_t>(top));
    Registry::SetDword(RegHive::CurrentUser, kSection, "cscX", static_cast<uint32_t>(right - left));
    Registry::SetDword(RegHive::CurrentUser, kSection, "cscY", static_cast<uint32_t>(bottom - top));
}
