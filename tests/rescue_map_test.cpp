// The rescue map in GNU ddrescue's mapfile format: maps as ddrescue writes them (every status),
// the notations it accepts, what is refused, our own text read back, and status changes that
// split and join blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "disk/rescue_map.h"

using namespace quarrow;

namespace {

// A map as ddrescue 1.27 leaves it when stopped while scraping, with every block status.
const char* const DDRESCUE_MAP =
    "# Mapfile. Created by GNU ddrescue version 1.27\n"
    "# Command line: ddrescue -d /dev/sdb disk.img disk.map\n"
    "# Start time:   2026-12-07 12:30:01\n"
    "# Current time: 2026-12-07 12:31:15\n"
    "# Scraping failed blocks... (forwards)\n"
    "# current_pos  current_status  current_pass\n"
    "0x00A00200     /               1\n"
    "#      pos        size  status\n"
    "0x00000000  0x00A00000  +\n"
    "0x00A00000  0x00000200  -\n"
    "0x00A00200  0x00001E00  /\n"
    "0x00A02000  0x00010000  *\n"
    "0x00A12000  0x005EE000  ?\n";

std::string blocks_text(const RescueMap& map) {
    std::string out;
    for (const MapBlock& b : map.blocks)
        out += std::to_string(b.pos) + "+" + std::to_string(b.size) + b.status + " ";
    return out;
}

}  // namespace

TEST(RescueMap, ReadsMapsAsDdrescueWritesThem) {
    struct Case {
        const char* what;
        std::string text;
        int64_t pos;
        char status;
        int pass;
        std::string blocks;
    } cases[] = {
        {"ddrescue while scraping", DDRESCUE_MAP, 0xA00200, '/', 1,
         "0+10485760+ 10485760+512- 10486272+7680/ 10493952+65536* 10559488+6217728? "},
        {"older map without a pass", "# c\n0 + \n0 1024 +\n", 0, '+', 1, "0+1024+ "},
        {"decimal, blank lines, comments between", "\n2048 - 3\n\n# x\n0 512 +\n  512 512 +\n",
         2048, '-', 3, "0+1024+ "},
        {"a gap is not tried", "0 ? 1\n0x200 0x200 -\n", 0, '?', 1, "0+512? 512+512- "},
        {"neighbours of one status join, after a gap too", "0 ? 1\n0x200 0x200 ?\n0x400 1 ?\n", 0,
         '?', 1, "0+1025? "},
        {"filling and generating phases", "0x0 F 2\n0x0 0x400 +\n", 0, 'F', 2, "0+1024+ "},
        {"CR LF line ends", "0 G 1\r\n0 1024 ?\r\n", 0, 'G', 1, "0+1024? "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RescueMap map;
        char message[MESSAGE_SIZE] = {0};
        ASSERT_TRUE(parse_rescue_map(c.text, &map, message)) << message;
        EXPECT_EQ(map.current_pos, c.pos);
        EXPECT_EQ(map.current_status, c.status);
        EXPECT_EQ(map.current_pass, c.pass);
        EXPECT_EQ(blocks_text(map), c.blocks);
    }
}

TEST(RescueMap, RefusesWhatIsNotAMapAndNamesTheLine) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"", "Map file holds no current position: not a rescue map."},
        {"# only comments\n", "Map file holds no current position: not a rescue map."},
        {"0 x 1\n", "Map file line 1: expected the current position and status."},
        {"0 + 1 extra\n", "Map file line 1: unexpected text after the status."},
        {"0 + 1\n0 512 x\n", "Map file line 2: unknown status 'x'."},
        {"0 + 1\n0 512\n", "Map file line 2: expected a block: position, size, status."},
        {"0 + 1\n0 512 +\n256 512 -\n",
         "Map file line 3: the block starts at byte 256, the one before it ends at 512."},
        // ddrescuelog refuses a gap between blocks too; only the first block may start late.
        {"0 + 1\n0 512 +\n1024 512 -\n",
         "Map file line 3: the block starts at byte 1024, the one before it ends at 512."},
        {"0 + 1\n0 0 +\n", "Map file line 2: empty block, or one past the largest size."},
        {"0 + 1\n-512 512 +\n", "Map file line 2: expected a block: position, size, status."},
        {"0 + 1\n0 0x7FFFFFFFFFFFFFFF +\n0x7FFFFFFFFFFFFFFF 1 +\n",
         "Map file line 3: empty block, or one past the largest size."},
    };
    for (const Case& c : cases) {
        RescueMap map;
        char message[MESSAGE_SIZE] = {0};
        EXPECT_FALSE(parse_rescue_map(c.text, &map, message)) << c.text;
        EXPECT_STREQ(message, c.message) << c.text;
    }
}

TEST(RescueMap, OwnTextReadsBackAndFitsTheSource) {
    RescueMap map;
    char message[MESSAGE_SIZE] = {0};
    ASSERT_TRUE(parse_rescue_map(DDRESCUE_MAP, &map, message));
    std::string text = format_rescue_map(map, "Command line: quarrow rescue scan disk.img");
    RescueMap again;
    ASSERT_TRUE(parse_rescue_map(text, &again, message)) << message;
    EXPECT_EQ(blocks_text(again), blocks_text(map));
    EXPECT_EQ(again.current_status, '/');
    EXPECT_NE(text.find("0x00A00000  0x00000200  -\n"), std::string::npos) << text;

    EXPECT_FALSE(fit_rescue_map(&again, 0x1000000 - 512)) << "a map of a larger source";
    ASSERT_TRUE(fit_rescue_map(&again, 0x1000000 + 512));
    EXPECT_EQ(again.blocks.back().size, 0x5EE000 + 512) << "the end joins the untried block";
    ASSERT_TRUE(fit_rescue_map(&map, 0x1000000));
    EXPECT_EQ(map_status_bytes(map, '+'), 0xA00000);
    EXPECT_EQ(map_unfinished_bytes(map, 0x9FFE00, 0xA00400), 0x400);
}

TEST(RescueMap, StatusChangesSplitAndJoinBlocks) {
    struct Step {
        int64_t pos, size;
        char status;
        std::string blocks;
    } steps[] = {
        {0, 1024, '+', "0+1024+ 1024+7168? "},
        {1024, 1024, '+', "0+2048+ 2048+6144? "},
        {4096, 512, '-', "0+2048+ 2048+2048? 4096+512- 4608+3584? "},
        {2048, 2048, '*', "0+2048+ 2048+2048* 4096+512- 4608+3584? "},
        {1536, 4096, '+', "0+5632+ 5632+2560? "},
        {7680, 4096, '-', "0+5632+ 5632+2048? 7680+512- "},
        {0, 8192, '?', "0+8192? "},
    };
    RescueMap map;
    init_rescue_map(&map, 8192);
    for (const Step& s : steps) {
        set_map_status(&map, s.pos, s.size, s.status);
        EXPECT_EQ(blocks_text(map), s.blocks);
    }
    set_map_status(&map, 1024, 512, '-');
    set_map_status(&map, 4096, 1024, '*');
    int64_t pos = 0, size = 0;
    ASSERT_TRUE(find_map_status(map, '*', 0, 8192, &pos, &size));
    EXPECT_EQ(pos, 4096);
    EXPECT_EQ(size, 1024);
    ASSERT_TRUE(find_map_status(map, '?', 1200, 4500, &pos, &size));
    EXPECT_EQ(pos, 1536);
    EXPECT_EQ(size, 4096 - 1536);
    EXPECT_FALSE(find_map_status(map, '+', 0, 8192, &pos, &size));
}
