#include "platform/Registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/Paths.h"

namespace platform
{

namespace
{

struct Key {
    std::string path;
    std::vector<RegValue> values;
};
using Hive = std::vector<Key>;

const char* HiveName(RegHive hive)
{
    return hive == RegHive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string NormalizeKey(const std::string& key)
{
    std::string out;
    for (char c : key) {
        if (c == '/')
            c = '\\';
        if (c == '\\' && (out.empty() || out.back() == '\\'))
            continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    return out;
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// "a\b" is a descendant of "a" (and of "", the hive's root).
bool IsUnder(const std::string& path, const std::string& parent)
{
    if (parent.empty())
        return !path.empty();
    return path.size() > parent.size() && path[parent.size()] == '\\' &&
           SameName(path.substr(0, parent.size()), parent);
}

Key* FindKey(Hive& hive, const std::string& path)
{
    for (Key& k : hive)
        if (SameName(k.path, path))
            return &k;
    return nullptr;
}

RegValue* FindValue(Key& key, const std::string& name)
{
    for (RegValue& v : key.values)
        if (SameName(v.name, name))
            return &v;
    return nullptr;
}

// Text escaping for names and string values: quotes, backslashes and control bytes are escaped;
// other bytes (UTF-8 or code-page text) are written as they are.
std::string Quote(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Reads a quoted text at pos; pos moves past the closing quote.
bool Unquote(const std::string& line, size_t& pos, std::string& out)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++pos >= line.size())
            return false;
        if (line[pos] == 'x') {
            if (pos + 2 >= line.size() || !std::isxdigit(static_cast<unsigned char>(line[pos + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(line[pos + 2])))
                return false;
            out += static_cast<char>(std::stoi(line.substr(pos + 1, 2), nullptr, 16));
            pos += 2;
        } else {
            out += line[pos];
        }
    }
    return false;
}

std::string Hex(const std::vector<uint8_t>& data)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < data.size(); ++i) {
        snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", data[i]);
        out += buf;
    }
    return out;
}

uint64_t LittleEndian(const std::vector<uint8_t>& data)
{
    uint64_t v = 0;
    for (size_t i = data.size(); i-- > 0;)
        v = (v << 8) | data[i];
    return v;
}

std::vector<uint8_t> ToLittleEndian(uint64_t v, size_t bytes)
{
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * i));
    return out;
}

std::string FormatHive(const Hive& hive)
{
    std::ostringstream out;
    out << "; Korvo registry hive; edit only while no program runs\n";
    for (const Key& k : hive) {
        out << "\n[" << k.path << "]\n";
        for (const RegValue& v : k.values) {
            out << Quote(v.name) << '=';
            char buf[32];
            switch (v.type) {
                case RegType::String:
                    out << "sz:" << Quote(std::string(v.data.begin(), v.data.end()));
                    break;
                case RegType::Dword:
                    snprintf(buf, sizeof buf, "dword:%08x", static_cast<uint32_t>(LittleEndian(v.data)));
                    out << buf;
                    break;
                case RegType::Qword:
                    snprintf(buf, sizeof buf, "qword:%016llx", static_cast<unsigned long long>(LittleEndian(v.data)));
                    out << buf;
                    break;
                case RegType::Binary:
                    out << "hex:" << Hex(v.data);
                    break;
            }
            out << '\n';
        }
    }
    return out.str();
}

// Lines that cannot be read are skipped: a hand-edited mistake must not lose the rest of the hive.
bool ParseValue(const std::string& line, RegValue& v)
{
    size_t pos = 0;
    if (!Unquote(line, pos, v.name) || pos >= line.size() || line[pos] != '=')
        return false;
    std::string rest = line.substr(pos + 1);
    try {
        if (rest.rfind("sz:", 0) == 0) {
            size_t p = 3;
            std::string s;
            if (!Unquote(rest, p, s))
                return false;
            v.type = RegType::String;
            v.data.assign(s.begin(), s.end());
        } else if (rest.rfind("dword:", 0) == 0) {
            v.type = RegType::Dword;
            v.data = ToLittleEndian(std::stoul(rest.substr(6), nullptr, 16), 4);
        } else if (rest.rfind("qword:", 0) == 0) {
            v.type = RegType::Qword;
            v.data = ToLittleEndian(std::stoull(rest.substr(6), nullptr, 16), 8);
        } else if (rest.rfind("hex:", 0) == 0) {
            v.type = RegType::Binary;
            v.data.clear();
            std::istringstream in(rest.substr(4));
            std::string byte;
            while (std::getline(in, byte, ','))
                if (!byte.empty())
                    v.data.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
        } else {
            return false;
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

std::filesystem::path HivePath(RegHive hive)
{
    return RegistryRoot() / (std::string(HiveName(hive)) + ".reg");
}

Key& EnsureKey(Hive& hive, const std::string& path)
{
    if (Key* k = FindKey(hive, path))
        return *k;
    // Parents exist as keys of their own, as they do on Windows.
    size_t cut = path.rfind('\\');
    if (cut != std::string::npos)
        EnsureKey(hive, path.substr(0, cut));
    hive.push_back({path, {}});
    return hive.back();
}

Hive LoadHive(RegHive hive)
{
    Hive out;
    std::ifstream in(HivePath(hive), std::ios::binary);
    std::string line;
    Key* current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[' && line.back() == ']') {
            // A file written by hand may list a key without its parents; they exist all the same.
            current = &EnsureKey(out, NormalizeKey(line.substr(1, line.size() - 2)));
            continue;
        }
        RegValue v;
        if (current && ParseValue(line, v)) {
            if (RegValue* existing = FindValue(*current, v.name))
                *existing = v;
            else
                current->values.push_back(v);
        }
    }
    return out;
}

// Holds the hive's cross-process write lock (an OFD lock, so threads of one process exclude each other too).
class HiveLock
{
public:
    explicit HiveLock(RegHive hive)
    {
        std::string path = (RegistryRoot() / (std::string(HiveName(hive)) + ".lock")).string();
        _fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (_fd < 0)
            return;
        struct flock fl {
        };
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        while (fcntl(_fd, F_OFD_SETLKW, &fl) != 0) {
            if (errno != EINTR) {
                close(_fd);
                _fd = -1;
                return;
            }
        }
    }
    ~HiveLock()
    {
        if (_fd >= 0)
            close(_fd);
    }
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;
    bool Held() const { return _fd >= 0; }

private:
    int _fd = -1;
};

bool SaveHive(RegHive hive, const Hive& data)
{
    std::filesystem::path path = HivePath(hive);
    std::filesystem::path tmp = path;
    tmp += ".tmp";
    std::string text = FormatHive(data);
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            unlink(tmp.c_str());
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    bool ok = fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok)
        unlink(tmp.c_str());
    return ok;
}

// Runs one change on the hive under its lock; the change returns whether it altered anything.
bool Modify(RegHive hive, const std::function<bool(Hive&)>& change, bool saveIfUnchanged = false)
{
    HiveLock lock(hive);
    if (!lock.Held())
        return false;
    Hive data = LoadHive(hive);
    bool changed = change(data);
    if (!changed && !saveIfUnchanged)
        return false;
    return SaveHive(hive, data) && changed;
}

}  // namespace

std::optional<RegValue> Registry::Query(RegHive hive, const std::string& key, const std::string& name)
{
    Hive data = LoadHive(hive);
    Key* k = FindKey(data, NormalizeKey(key));
    if (!k)
        return std::nullopt;
    RegValue* v = FindValue(*k, name);
    if (!v)
        return std::nullopt;
    return *v;
}

std::optional<std::string> Registry::GetString(RegHive hive, const std::string& key, const std::string& name)
{
    auto v = Query(hive, key, name);
    if (!v || v->type != RegType::String)
        return std::nullopt;
    return std::string(v->data.begin(), v->data.end());
}

std::optional<uint32_t> Registry::GetDword(RegHive hive, const std::string& key, const std::string& name)
{
    auto v = Query(hive, key, name);
    if (!v || v->type != RegType::Dword || v->data.size() != 4)
        return std::nullopt;
    return static_cast<uint32_t>(LittleEndian(v->data));
}

std::optional<uint64_t> Registry::GetQword(RegHive hive, const std::string& key, const std::string& name)
{
    auto v = Query(hive, key, name);
    if (!v || v->type != RegType::Qword || v->data.size() != 8)
        return std::nullopt;
    return LittleEndian(v->data);
}

std::optional<std::vector<uint8_t>> Registry::GetBinary(RegHive hive, const std::string& key, const std::string& name)
{
    auto v = Query(hive, key, name);
    if (!v || v->type != RegType::Binary)
        return std::nullopt;
    return v->data;
}

bool Registry::Set(RegHive hive, const std::string& key, const RegValue& value)
{
    std::string path = NormalizeKey(key);
    if (path.empty())
        return false;
    return Modify(hive, [&](Hive& data) {
        Key& k = EnsureKey(data, path);
        if (RegValue* existing = FindValue(k, value.name))
            *existing = value;
        else
            k.values.push_back(value);
        return true;
    });
}

bool Registry::SetString(RegHive hive, const std::string& key, const std::string& name, const std::string& value)
{
    return Set(hive, key, {name, RegType::String, std::vector<uint8_t>(value.begin(), value.end())});
}

bool Registry::SetDword(RegHive hive, const std::string& key, const std::string& name, uint32_t value)
{
    return Set(hive, key, {name, RegType::Dword, ToLittleEndian(value, 4)});
}

bool Registry::SetQword(RegHive hive, const std::string& key, const std::string& name, uint64_t value)
{
    return Set(hive, key, {name, RegType::Qword, ToLittleEndian(value, 8)});
}

bool Registry::SetBinary(RegHive hive, const std::string& key, const std::string& name,
                         const std::vector<uint8_t>& value)
{
    return Set(hive, key, {name, RegType::Binary, value});
}

bool Registry::CreateKey(RegHive hive, const std::string& key)
{
    std::string path = NormalizeKey(key);
    if (path.empty())
        return false;
    if (KeyExists(hive, path))
        return true;
    Modify(hive, [&](Hive& data) {
        EnsureKey(data, path);
        return true;
    });
    return KeyExists(hive, path);
}

bool Registry::KeyExists(RegHive hive, const std::string& key)
{
    Hive data = LoadHive(hive);
    return FindKey(data, NormalizeKey(key)) != nullptr;
}

bool Registry::DeleteValue(RegHive hive, const std::string& key, const std::string& name)
{
    std::string path = NormalizeKey(key);
    return Modify(hive, [&](Hive& data) {
        Key* k = FindKey(data, path);
        if (!k)
            return false;
        for (auto it = k->values.begin(); it != k->values.end(); ++it) {
            if (SameName(it->name, name)) {
                k->values.erase(it);
                return true;
            }
        }
        return false;
    });
}

bool Registry::DeleteKey(RegHive hive, const std::string& key)
{
    std::string path = NormalizeKey(key);
    if (path.empty())
        return false;
    return Modify(hive, [&](Hive& data) {
        size_t before = data.size();
        std::erase_if(data, [&](const Key& k) { return SameName(k.path, path) || IsUnder(k.path, path); });
        return data.size() != before;
    });
}

std::vector<RegValue> Registry::EnumValues(RegHive hive, const std::string& key)
{
    Hive data = LoadHive(hive);
    Key* k = FindKey(data, NormalizeKey(key));
    return k ? k->values : std::vector<RegValue>{};
}

std::vector<std::string> Registry::EnumSubKeys(RegHive hive, const std::string& key)
{
    std::string parent = NormalizeKey(key);
    std::vector<std::string> out;
    for (const Key& k : LoadHive(hive)) {
        if (!IsUnder(k.path, parent))
            continue;
        std::string rest = k.path.substr(parent.empty() ? 0 : parent.size() + 1);
        if (rest.find('\\') == std::string::npos)
            out.push_back(rest);
    }
    return out;
}

}  // namespace platform
