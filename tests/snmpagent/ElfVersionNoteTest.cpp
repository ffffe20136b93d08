#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "snmpagent/ElfVersionNote.h"
#include "tests/snmpagent/SnmpTestKit.h"
#include "tests/support/TestEnv.h"

namespace
{
using snmpagent::ReadElfVersionNote;

TEST(ElfVersionNote, ReadsTheNoteOfABuiltProgramAsReadelfShowsIt)
{
    auto version = ReadElfVersionNote(KORVO_TEST_PRODUCT);
    ASSERT_TRUE(version);
    EXPECT_EQ("3.1.4.1592", version->Text());
    // binutils agrees on the note's owner and bytes.
    const std::string notes = snmptest::RunCommand(std::string("readelf -n ") + KORVO_TEST_PRODUCT);
    EXPECT_NE(std::string::npos, notes.find("Brennhall")) << notes;
    EXPECT_NE(std::string::npos, notes.find("01 00 03 00 38 06 04 00")) << notes;
}

// A smallest ELF64 file: the header, one note section, its section header.
std::vector<uint8_t> ElfWithNote(const std::vector<uint8_t>& note)
{
    Elf64_Ehdr ehdr{};
    std::memcpy(ehdr.e_ident, ELFMAG, SELFMAG);
    ehdr.e_ident[EI_CLASS] = ELFCLASS64;
    ehdr.e_ident[EI_DATA] = ELFDATA2LSB;
    ehdr.e_shentsize = sizeof(Elf64_Shdr);
    ehdr.e_shnum = 1;
    ehdr.e_shoff = sizeof ehdr + note.size();
    Elf64_Shdr shdr{};
    shdr.sh_type = SHT_NOTE;
    shdr.sh_offset = sizeof ehdr;
    shdr.sh_size = note.size();
    std::vector<uint8_t> file(reinterpret_cast<uint8_t*>(&ehdr), reinterpret_cast<uint8_t*>(&ehdr) + sizeof ehdr);
    file.insert(file.end(), note.begin(), note.end());
    file.insert(file.end(), reinterpret_cast<uint8_t*>(&shdr), reinterpret_cast<uint8_t*>(&shdr) + sizeof shdr);
    return file;
}

std::vector<uint8_t> Note(uint32_t nameSize, uint32_t descSize, uint32_t type, const char* name,
                          std::vector<uint8_t> desc)
{
    std::vector<uint8_t> n(12);
    std::memcpy(n.data(), &nameSize, 4);
    std::memcpy(n.data() + 4, &descSize, 4);
    std::memcpy(n.data() + 8, &type, 4);
    std::vector<uint8_t> padded(name, name + std::strlen(name) + 1);
    padded.resize((padded.size() + 3) & ~size_t{3});
    n.insert(n.end(), padded.begin(), padded.end());
    n.insert(n.end(), desc.begin(), desc.end());
    return n;
}

TEST(ElfVersionNote, HandBuiltFilesGiveTheVersionOrNothing)
{
    const std::vector<uint8_t> version = {0x02, 0x00, 0x01, 0x00, 0x07, 0x00, 0x05, 0x00};
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* text;  // nullptr: no version
    };
    std::vector<uint8_t> other = Note(6, 4, 1, "Other", {1, 2, 3, 4});
    std::vector<uint8_t> two = other;
    std::vector<uint8_t> ours = Note(10, 8, 1, "Brennhall", version);
    two.insert(two.end(), ours.begin(), ours.end());
    std::vector<uint8_t> wrongClass = ElfWithNote(ours);
    wrongClass[EI_CLASS] = ELFCLASS32;
    std::vector<uint8_t> farSections = ElfWithNote(ours);
    uint64_t far = UINT64_MAX - 8;
    std::memcpy(farSections.data() + offsetof(Elf64_Ehdr, e_shoff), &far, 8);
    const Case cases[] = {
        {"version note", ElfWithNote(ours), "1.2.5.7"},
        {"after another note", ElfWithNote(two), "1.2.5.7"},
        {"empty file", {}, nullptr},
        {"not ELF", std::vector<uint8_t>(200, 'x'), nullptr},
        {"32-bit class", wrongClass, nullptr},
        {"section headers past the end", farSections, nullptr},
        {"only another owner", ElfWithNote(other), nullptr},
        {"wrong type", ElfWithNote(Note(10, 8, 2, "Brennhall", version)), nullptr},
        {"short description", ElfWithNote(Note(10, 4, 1, "Brennhall", {1, 2, 3, 4})), nullptr},
        {"name longer than the section", ElfWithNote(Note(0x7FFFFFFF, 8, 1, "Brennhall", version)), nullptr},
        {"description longer than the section", ElfWithNote(Note(10, 0xFFFFFFF0, 1, "Brennhall", version)), nullptr},
        {"truncated note", ElfWithNote(std::vector<uint8_t>(ours.begin(), ours.begin() + 20)), nullptr},
    };
    for (const Case& c : cases) {
        const auto path = testsupport::TestRoot() / "note.bin";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(c.bytes.data()), c.bytes.size());
        auto v = ReadElfVersionNote(path.string());
        if (c.text) {
            ASSERT_TRUE(v) << c.what;
            EXPECT_EQ(c.text, v->Text()) << c.what;
        } else {
            EXPECT_FALSE(v) << c.what;
        }
    }
    EXPECT_FALSE(ReadElfVersionNote((testsupport::TestRoot() / "missing").string()));
}

}  // namespace
