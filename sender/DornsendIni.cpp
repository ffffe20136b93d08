#include "sender/DornsendIni.h"

#include <strings.h>

#include <filesystem>
#include <fstream>

#include "platform/ModulePath.h"
#include "platform/Paths.h"

namespace
{

constexpr size_t kMaxValue = 255;

std::string Trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::filesystem::path IniFile()
{
    std::error_code ec;
    std::filesystem::path module = platform::ModuleFileOf(reinterpret_cast<const void*>(&DornsendIniValue));
    if (!module.empty()) {
        std::filesystem::path beside = module.parent_path() / "Dornsend.ini";
        if (std::filesystem::is_regular_file(beside, ec))
            return beside;
    }
    return platform::ToLocalPath("C:\\Windows\\Dornsend.ini");
}

}  // namespace

std::string DornsendIniValue(const std::string& key, const std::string& defaultValue)
{
    std::ifstream in(IniFile());
    bool inConfig = false;
    for (std::string line; in && std::getline(in, line);) {
        line = Trim(line);
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            size_t end = line.find(']');
            inConfig = end != std::string::npos && strcasecmp(Trim(line.substr(1, end - 1)).c_str(), "Config") == 0;
            continue;
        }
        size_t equals = line.find('=');
        if (!inConfig || equals == std::string::npos || strcasecmp(Trim(line.substr(0, equals)).c_str(), key.c_str()))
            continue;
        std::string value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value.substr(0, kMaxValue);
    }
    return defaultValue.substr(0, kMaxValue);
}
