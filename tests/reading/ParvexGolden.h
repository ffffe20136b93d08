#pragma once
// One Parvex clip file built byte by byte from the layout tables, with the places of its parts, for the reader's
// golden test and its corruption tests.

#include "tests/reading/ParvexFixture.h"

namespace parvextest
{

struct GoldenFile {
    Bytes bytes;
    size_t nFill = 0;
    size_t nPrimer = 0;
    size_t nSet = 0;
    size_t nSignature = 0;
    size_t nFooter = 0;
    size_t nFooterPrimer = 0;
    size_t nFooterSet = 0;
    size_t nBigBlock = 0;  // the index item's tag
};

constexpr uint64_t kGoldenFooter = 0x203000;
constexpr uint32_t kGoldenBlock = 0x1000;
inline const Bytes kThumbInPixels = {1, 2, 3, 4, 5, 6};
inline const Bytes kWideName = {'W', 0, 'i', 0, 'd', 0, 'e', 0};
inline const Bytes kUserTc = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

inline GoldenFile MakeGoldenFile()
{
    GoldenFile g;
    Bytes set;
    Item(set, 0x8102, Text("before the signature"));  // skipped
    Signature(set);
    Item(set, 0x8002, Be(1, 4));
    Item(set, 0x8113, Text("0123ABCD"));
    Item(set, 0x8106, Be(2000, 4));
    Item(set, 0x8107, Be(2300, 4));
    Item(set, 0x810B, Be(2, 4));
    Item(set, 0x810C, Be(0x13033100, 4));
    Item(set, 0x810D, Be(3, 4));
    Item(set, 0x810E, Be(7, 4));
    Item(set, 0x8110, Be(50, 4));
    Item(set, 0x8116, Be(1, 4));
    Item(set, 0x8118, Be(1700000000, 4));
    Item(set, 0x8119, Be(0xFFFFFFFE, 4));
    Item(set, 0x811A, Be(kGoldenBlock, 4));
    Item(set, 0x811B, Be(3, 4));
    Item(set, 0x8124, Be(4, 4));
    Item(set, 0x8135, Be(1, 4));
    // The file's own clip.
    Item(set, 0x8101, Text("0123ABCD"));
    Item(set, 0x8102, Text("First clip   "));
    Item(set, 0x8103, Be(0x00012345, 4));
    Item(set, 0x8104, Text("C"));
    Item(set, 0x8105, Be(5, 1));
    Item(set, 0x8108, Be(2010, 4));
    Item(set, 0x8109, Be(2290, 4));
    Item(set, 0x810A, Be(90000, 4));
    Item(set, 0x810F, Text("D"));
    Item(set, 0x8111, Text("server"));
    Item(set, 0x8114, Be(0x00002C05, 4));  // quality 2, audio type 3, clip status 0x2C05
    Item(set, 0x8132, Be(1, 2));           // replaces the quality
    Item(set, 0x8115, Be(0x00010002, 4));
    Item(set, 0x811D, Be(1, 2));  // a 32-bit item of length 2: read on into the next item's tag
    Item(set, 0x811E, Be(1, 4));
    Item(set, 0x811F, Be(2, 4));
    Item(set, 0x8120, Text("FKpart"));
    Item(set, 0x8121, Text("SRCID001"));
    Item(set, 0x8122, Text("src name"));
    Item(set, 0x8123, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    Item(set, 0x8125, kWideName);
    Item(set, 0x8127, Text("VAR"));
    Item(set, 0x8128, Be(0, 2));
    Item(set, 0x812A, kUserTc);
    Item(set, 0x812F, Be(1, 1));
    Item(set, 0x8201, Pack({"k1", "k2 ", "k3", "k4", "k5", "k6", "k7"}));
    Bytes wideKeywords = Be(0, 2);
    Append(wideKeywords, Be(12, 2));
    Append(wideKeywords, Bytes{'w', 0, 'k', 0, 'w', 0, '2', 0, 0, 0, 0, 0});
    Item(set, 0x8202, wideKeywords);
    // A sub-clip: its items write it, not the file.
    Item(set, 0x8101, Text("SUB00002"));
    Item(set, 0x8102, Text("second"));
    Item(set, 0x8108, Be(3000, 4));
    Item(set, 0x8109, Be(3100, 4));
    // Session.
    Item(set, 0x8301, Be(1600000000, 4));
    Item(set, 0x8302, Text("1 May 2020"));
    Item(set, 0x8309, Text("sess"));
    Item(set, 0x8303, Text("sport"));
    Item(set, 0x8307, Text("team A"));
    Item(set, 0x8310, Be(1650000000, 4));
    Item(set, 0x8401, Pack({"s1", "s2", "s3", "s4", "s5"}));
    Item(set, 0x8501, BigBlock(1, 2, {{1, 0}}));  // footer items are ignored in the header

    Bytes& b = g.bytes;
    Append(b, Klv(kHeaderKey, PartitionValue(0, kGoldenFooter), 3));
    g.nFill = b.size();
    Append(b, Klv(kFillKey, Bytes(10, 0), 0));
    g.nPrimer = b.size();
    Append(b, Klv(kPrimerKey, PrimerValue({0x8001, 0x8101}), 2));
    g.nSet = b.size();
    g.nSignature = g.nSet + 16 + 4 + 4 + 20;
    Append(b, Klv(kSetKey, set, 3));
    b.resize(0x200000, 0);
    for (uint32_t i = 0; i < 3 * kGoldenBlock; ++i)
        b.push_back(static_cast<uint8_t>(i * 7));

    Bytes footerSet;
    Signature(footerSet);
    Item(footerSet, 0x8102, Text("header items are ignored here"));
    const size_t bigBlockInSet = footerSet.size();
    Item(footerSet, 0x8501, BigBlock(2000, 2300, {{2000, 0x200000}, {2100, 0x201000}, {2200, 0x202000}}, 16));
    Item(footerSet, 0x8600, Be(2, 1));
    Item(footerSet, 0x8601, Be(1, 1));
    Item(footerSet, 0x8602, kThumbInPixels);
    Item(footerSet, 0x8603, Be(2010, 4));
    Item(footerSet, 0x8620, Be(1, 1));
    Item(footerSet, 0x8621, Be(1, 1));
    Item(footerSet, 0x8622, Bytes{9, 8, 7});
    Item(footerSet, 0x8623, Be(2290, 4));
    g.nFooter = b.size();
    Append(b, Klv(kFooterKey, PartitionValue(kGoldenFooter, kGoldenFooter), 4));
    g.nFooterPrimer = b.size();
    // A footer is read only when it has at least 672 bytes: the primer lists the clip tags as the writer's does.
    Append(b, Klv(kPrimerKey,
                  PrimerValue({0x8101, 0x8102, 0x8103, 0x8104, 0x8105, 0x8106, 0x8107, 0x8108, 0x8109, 0x810A,
                               0x810B, 0x810C, 0x810D, 0x810E, 0x810F, 0x8110, 0x8111, 0x8112, 0x8113, 0x8114,
                               0x8115, 0x8116, 0x8117, 0x8118, 0x8119, 0x811A, 0x811B, 0x811C, 0x811D, 0x811E,
                               0x811F, 0x8120, 0x8121, 0x8122, 0x8123, 0x8124, 0x8125, 0x8126, 0x8127, 0x8501}),
                  3));
    g.nFooterSet = b.size();
    g.nBigBlock = g.nFooterSet + 16 + 5 + bigBlockInSet;
    Append(b, Klv(kSetKey, footerSet, 4));
    return g;
}

}  // namespace parvextest
