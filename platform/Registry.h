#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform
{

// The two registry hives the system uses.
enum class RegHive { LocalMachine, CurrentUser };

// Value types, numbered as the Windows registry numbers them.
enum class RegType : uint32_t { String = 1, Binary = 3, Dword = 4, Qword = 11 };

struct RegValue {
    std::string name;
    RegType type = RegType::String;
    std::vector<uint8_t> data;  // strings without terminator; numbers little-endian
};

// A file-backed registry: one human-readable text file per hive under RegistryRoot().
// Key paths are backslash-separated and compared without regard to ASCII case, as on Windows.
// Values and sub-keys enumerate in insertion order. Every change is a read-modify-write of the
// hive file under a cross-process lock, written to a temp file and renamed into place, so
// concurrent writers in several processes lose nothing and readers never see half a file.
// A missing hive file is an empty hive.
class Registry
{
public:
    static std::optional<RegValue> Query(RegHive hive, const std::string& key, const std::string& name);
    static std::optional<std::string> GetString(RegHive hive, const std::string& key, const std::string& name);
    static std::optional<uint32_t> GetDword(RegHive hive, const std::string& key, const std::string& name);
    static std::optional<uint64_t> GetQword(RegHive hive, const std::string& key, const std::string& name);
    static std::optional<std::vector<uint8_t>> GetBinary(RegHive hive, const std::string& key, const std::string& name);

    static bool Set(RegHive hive, const std::string& key, const RegValue& value);
    static bool SetString(RegHive hive, const std::string& key, const std::string& name, const std::string& value);
    static bool SetDword(RegHive hive, const std::string& key, const std::string& name, uint32_t value);
    static bool SetQword(RegHive hive, const std::string& key, const std::string& name, uint64_t value);
    static bool SetBinary(RegHive hive, const std::string& key, const std::string& name,
                          const std::vector<uint8_t>& value);

    static bool CreateKey(RegHive hive, const std::string& key);
    static bool KeyExists(RegHive hive, const std::string& key);
    static bool DeleteValue(RegHive hive, const std::string& key, const std::string& name);
    // Deletes the key with all its sub-keys.
    static bool DeleteKey(RegHive hive, const std::string& key);

    static std::vector<RegValue> EnumValues(RegHive hive, const std::string& key);
    // Names of the immediate sub-keys, in insertion order.
    static std::vector<std::string> EnumSubKeys(RegHive hive, const std::string& key);
};

}  // namespace platform
