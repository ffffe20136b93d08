#pragma once
// QuickTime atoms as a tree, for tests that rewrite parts of a movie that ffmpeg made.

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace qtatoms
{

using Bytes = std::vector<uint8_t>;

struct QtAtom {
    std::string type;
    Bytes payload;  // of a leaf
    std::vector<QtAtom> children;
    bool bContainer = false;
};

inline bool IsContainer(const std::string& type)
{
    for (const char* name : {"moov", "trak", "mdia", "minf", "dinf", "stbl", "edts"})
        if (type == name)
            return true;
    return false;
}

inline uint32_t Be32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

inline void PutBe32(Bytes& bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline void AppendBe32(Bytes& bytes, uint32_t v)
{
    bytes.resize(bytes.size() + 4);
    PutBe32(bytes, bytes.size() - 4, v);
}

inline std::vector<QtAtom> Parse(const uint8_t* p, size_t n)
{
    std::vector<QtAtom> atoms;
    for (size_t at = 0; n - at >= 8;) {
        const uint32_t size = Be32(p + at);
        if (size < 8 || size > n - at)
            throw std::runtime_error("atom does not fit");
        QtAtom atom;
        atom.type.assign(reinterpret_cast<const char*>(p + at + 4), 4);
        atom.bContainer = IsContainer(atom.type);
        if (atom.bContainer)
            atom.children = Parse(p + at + 8, size - 8);
        else
            atom.payload.assign(p + at + 8, p + at + size);
        atoms.push_back(std::move(atom));
        at += size;
    }
    return atoms;
}

inline Bytes Serialize(const std::vector<QtAtom>& atoms)
{
    Bytes out;
    for (const QtAtom& atom : atoms) {
        const Bytes body = atom.bContainer ? Serialize(atom.children) : atom.payload;
        AppendBe32(out, static_cast<uint32_t>(body.size() + 8));
        out.insert(out.end(), atom.type.begin(), atom.type.end());
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

// The atom at a path like "moov/trak:1/mdia/minf/stbl/stsd" (":n" picks the n-th of that type, from 0).
inline QtAtom& Find(std::vector<QtAtom>& atoms, const std::string& path)
{
    const size_t slash = path.find('/');
    std::string step = path.substr(0, slash);
    size_t index = 0;
    if (const size_t colon = step.find(':'); colon != std::string::npos) {
        index = std::stoul(step.substr(colon + 1));
        step.resize(colon);
    }
    for (QtAtom& atom : atoms) {
        if (atom.type != step || index-- != 0)
            continue;
        return slash == std::string::npos ? atom : Find(atom.children, path.substr(slash + 1));
    }
    throw std::runtime_error("no atom " + path);
}

inline void Remove(std::vector<QtAtom>& atoms, const std::string& type)
{
    std::erase_if(atoms, [&type](const QtAtom& atom) { return atom.type == type; });
}

}  // namespace qtatoms
