#include "fs/layout.h"
#include "fs/allocation_table.h"
#include "fs/text_folding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quarrow {
namespace {

TEST(BigEndian, ReadsAndWritesMostSignificantByteFirst) {
    const uint8_t a[] = {0x12, 0x34};
    EXPECT_EQ(read_be16(a), 4660u);
    const uint8_t b[] = {0x80, 0x00, 0x00, 0x01};
    EXPECT_EQ(read_be32(b), 2147483649u);
    uint8_t out[4];
    EXPECT_EQ(write_be32(out, 0xA1B2C3D4), 0xA1B2C3D4u);
    EXPECT_EQ(out[0], 0xA1);
    EXPECT_EQ(out[3], 0xD4);
    write_be16(out, 0xBFFF);
    EXPECT_EQ(out[0], 0xBF);
    EXPECT_EQ(out[1], 0xFF);
}

TEST(NextCluster, FollowsLinksAndStopsAtEndsFreeEntriesAndTheTableEdge) {
    std::vector<uint8_t> table(FAT_BYTES, 0);
    write_be16(&table[0], 0x8005);
    write_be16(&table[2], 0xBFFF);
    write_be16(&table[4], 0x0006);
    write_be16(&table[6], 0xFFFF);
    EXPECT_EQ(next_cluster(table.data(), 0xFFFF), 0xFFFF);
    EXPECT_EQ(next_cluster(table.data(), 0), 5);
    EXPECT_EQ(next_cluster(table.data(), 1), 0xFFFF);
    EXPECT_EQ(next_cluster(table.data(), 2), 0xFFFF);
    EXPECT_EQ(next_cluster(table.data(), 3), 0x7FFF);
    // 0x7FFF lies outside the 16384-entry table: the walk stops instead of reading past it.
    EXPECT_EQ(next_cluster(table.data(), 0x7FFF), NO_CLUSTER);
    EXPECT_EQ(next_cluster(table.data(), 16384), NO_CLUSTER);
}

TEST(FatChecksum, ParityFoldOfTwoEntriesAndZeroResidueWhenConsistent) {
    std::vector<uint8_t> table(FAT_BYTES, 0);
    write_be16(&table[0], 0x8001);
    write_be16(&table[2], 0xBFFF);
    uint8_t zero[4] = {0, 0, 0, 0}, p[4];
    fat_checksum_fold(table.data(), zero, p, 1);
    EXPECT_EQ(read_be32(p), 0x8001BFFFu);
    memcpy(&table[4], p, 4);
    uint8_t r[4];
    fat_checksum_residue(table.data(), r, 1);
    EXPECT_EQ(read_be32(r), 0u);
}

TEST(FatChecksum, ResidueIsKeptAcrossAChangeWhateverTheCountsParity) {
    for (uint16_t last : {uint16_t(4), uint16_t(5), uint16_t(16381)}) {
        std::vector<uint8_t> table(FAT_BYTES, 0);
        for (uint32_t c = 0; c <= last; ++c)
            write_be16(&table[2 * c], c + 1);
        write_be32(&table[2 * (last + 1)], 0xDEADBEEF);  // an inconsistent stored checksum
        uint8_t before[4];
        fat_checksum_residue(table.data(), before, last);
        // Unchanged entries give back the stored checksum exactly.
        uint8_t s[4];
        fat_checksum_fold(table.data(), before, s, last);
        EXPECT_EQ(read_be32(s), 0xDEADBEEFu) << "last " << last;
        // After a change the new checksum keeps the residue.
        write_be16(&table[2], 0x8003);
        write_be16(&table[6], 0xBFFF);
        fat_checksum_fold(table.data(), before, s, last);
        memcpy(&table[2 * (last + 1)], s, 4);
        uint8_t after[4];
        fat_checksum_residue(table.data(), after, last);
        EXPECT_EQ(read_be32(after), read_be32(before)) << "last " << last;
    }
}

TEST(FoldToAscii, AccentsBecomePlainLettersAndControlCodesSpaces) {
    char text[] = "Caf\xe9 No\xebl";
    fold_to_ascii(text);
    EXPECT_STREQ(text, "Cafe Noel");
    char times[] =
        "1\xd7"
        "2";
    fold_to_ascii(times);
    EXPECT_STREQ(times, "1X2");
    char tab[] = "a\tb\xc6\xe6\xf7\xdf\xde\xff\xa9";
    fold_to_ascii(tab);
    EXPECT_STREQ(tab,
                 "a b\xc6\xe6\xf7"
                 "bay ");
}

// Every one of the 255 codes against the receiver's folding table, range by range.
TEST(FoldToAscii, EveryCodeFoldsAsTheTableSays) {
    auto expected = [](int c) -> int {
        if (c < 32) return ' ';
        if (c < 128) return c;
        if (c < 192) return ' ';
        if (c <= 197) return 'A';
        if (c == 198 || c == 230 || c == 247) return c;
        if (c == 199) return 'C';
        if (c <= 203) return 'E';
        if (c <= 207) return 'I';
        if (c == 208) return 'D';
        if (c == 209) return 'N';
        if (c == 215) return 'X';
        if (c <= 216) return 'O';
        if (c <= 220) return 'U';
        if (c == 221) return 'Y';
        if (c == 222 || c == 254) return 'a';
        if (c == 223) return 'b';
        if (c <= 229) return 'a';
        if (c == 231) return 'c';
        if (c <= 235) return 'e';
        if (c <= 239) return 'i';
        if (c == 241) return 'n';
        if (c <= 248) return 'o';
        if (c <= 252) return 'u';
        return 'y';  // 253, 255
    };
    for (int c = 1; c < 256; ++c) {
        char text[3] = {static_cast<char>(c), 'z', 0};
        fold_to_ascii(text);
        EXPECT_EQ(static_cast<unsigned char>(text[0]), expected(c)) << "code " << c;
        EXPECT_EQ(text[1], 'z') << "code " << c;
        EXPECT_EQ(text[2], 0);
    }
}

TEST(StreamBlocks, MatchOnlyTheirOwnMagic) {
    uint8_t sector[512] = {0x74, 0, 0, 0, 0, 0, 0, 0x01};
    write_be16(sector + 10, 200);
    write_be32(sector + 12, 102345);
    uint32_t bytes = 1;
    uint16_t sectors = 1;
    EXPECT_EQ(match_video_block(sector, &bytes, &sectors), 1);
    EXPECT_EQ(bytes, 102345u);
    EXPECT_EQ(sectors, 200);
    bytes = 99;
    EXPECT_EQ(match_audio_block(sector, &bytes, &sectors), 0);
    EXPECT_EQ(bytes, 99u) << "outputs stay untouched on a mismatch";
    sector[3] = 1;
    EXPECT_EQ(match_video_block(sector, &bytes, &sectors), 0);
}

TEST(Latin1, RoundTripsThroughUtf8AndRefusesWhatLatin1CannotHold) {
    char utf[64];
    latin1_to_utf8("Caf\xe9", utf, sizeof utf);
    EXPECT_STREQ(utf, "Caf\xc3\xa9");
    char back[64];
    EXPECT_TRUE(utf8_to_latin1(utf, back, sizeof back));
    EXPECT_STREQ(back, "Caf\xe9");
    EXPECT_FALSE(utf8_to_latin1("\xe2\x82\xac", back, sizeof back));  // the euro sign
    EXPECT_FALSE(utf8_to_latin1("abc", back, 3));                     // does not fit
    char small[4];
    latin1_to_utf8("\xe9\xe9", small, sizeof small);
    EXPECT_STREQ(small, "\xc3\xa9") << "cut at a whole character";
}

}  // namespace
}  // namespace quarrow
