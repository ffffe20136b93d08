#include "snmpagent/ElfVersionNote.h"

#include <elf.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace snmpagent
{
namespace
{
constexpr uint64_t kMaxSections = 4096;
constexpr uint64_t kMaxNoteSection = 64 * 1024;

bool ReadAt(std::ifstream& in, uint64_t offset, void* out, uint64_t size)
{
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
    return in.good() || static_cast<uint64_t>(in.gcount()) == size;
}

uint64_t Align4(uint64_t n)
{
    return (n + 3) & ~uint64_t{3};
}

std::optional<ProductVersion> FindInNotes(const std::vector<uint8_t>& notes)
{
    const uint64_t end = notes.size();
    uint64_t pos = 0;
    while (end - pos >= sizeof(Elf64_Nhdr)) {
        Elf64_Nhdr header;
        std::memcpy(&header, notes.data() + pos, sizeof header);
        pos += sizeof header;
        const uint64_t nameSpan = Align4(header.n_namesz);
        if (nameSpan > end - pos)
            return std::nullopt;
        const uint8_t* name = notes.data() + pos;
        pos += nameSpan;
        const uint64_t descSpan = Align4(header.n_descsz);
        if (descSpan > end - pos)
            return std::nullopt;
        const uint8_t* desc = notes.data() + pos;
        pos += descSpan;
        if (header.n_type == kVersionNoteType && header.n_namesz == sizeof kVersionNoteName &&
            std::memcmp(name, kVersionNoteName, sizeof kVersionNoteName) == 0 && header.n_descsz == 8) {
            ProductVersion version;
            std::memcpy(&version.mostSignificant, desc, 4);
            std::memcpy(&version.leastSignificant, desc + 4, 4);
            return version;
        }
    }
    return std::nullopt;
}
}  // namespace

std::string ProductVersion::Text() const
{
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", mostSignificant >> 16, mostSignificant & 0xFFFF,
                  leastSignificant >> 16, leastSignificant & 0xFFFF);
    return text;
}

std::optional<ProductVersion> ReadElfVersionNote(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    Elf64_Ehdr ehdr;
    if (!in || !ReadAt(in, 0, &ehdr, sizeof ehdr))
        return std::nullopt;
    if (std::memcmp(ehdr.e_ident, ELFMAG, SELFMAG) != 0 || ehdr.e_ident[EI_CLASS] != ELFCLASS64 ||
        ehdr.e_ident[EI_DATA] != ELFDATA2LSB || ehdr.e_shentsize != sizeof(Elf64_Shdr) || ehdr.e_shnum > kMaxSections)
        return std::nullopt;
    for (uint64_t i = 0; i < ehdr.e_shnum; ++i) {
        Elf64_Shdr shdr;
        if (ehdr.e_shoff > UINT64_MAX - i * sizeof shdr ||
            !ReadAt(in, ehdr.e_shoff + i * sizeof shdr, &shdr, sizeof shdr))
            return std::nullopt;
        if (shdr.sh_type != SHT_NOTE || shdr.sh_size == 0 || shdr.sh_size > kMaxNoteSection)
            continue;
        std::vector<uint8_t> notes(shdr.sh_size);
        if (!ReadAt(in, shdr.sh_offset, notes.data(), notes.size()))
            continue;
        if (auto version = FindInNotes(notes))
            return version;
    }
    return std::nullopt;
}

}  // namespace snmpagent
