// Cut lists as a user types them: what is read, what is refused and why, and the stretches kept
// from a --cut or --drop list within --from and --to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "disk/sector_access.h"
#include "extract/cut_list.h"

namespace quarrow {
namespace {

struct ListCase {
    const char* text;
    std::vector<int64_t> ms;   // begin, end, ... as read; empty: refused
    const char* refusal = "";  // part of the message
};

const ListCase LIST_CASES[] = {
    {"00:00:03-00:00:08", {3000, 8000}},
    {"00:00:03.5-00:00:08.25,01:02:03.004-10:00:00", {3500, 8250, 3723004, 36000000}},
    {"00:00:03-00:00:08,00:00:08-00:00:09", {3000, 8000, 8000, 9000}},  // touching stretches
    {"", {}, "HH:MM:SS"},
    {"00:00:03", {}, "HH:MM:SS"},
    {"00:00:03-", {}, "HH:MM:SS"},
    {"00:00:03-00:00:08,", {}, "HH:MM:SS"},
    {"0:00:03-00:00:08", {}, "\"0:00:03-00:00:08\""},
    {"00:00:03 -00:00:08", {}, "HH:MM:SS"},
    {"+0:00:03-00:00:08", {}, "HH:MM:SS"},
    {"00:60:00-01:00:00", {}, "HH:MM:SS"},
    {"00:00:03.1234-00:00:08", {}, "HH:MM:SS"},
    {"00:00:08-00:00:03", {}, "empty"},
    {"00:00:08-00:00:08", {}, "empty"},
    {"00:00:03-00:00:08,00:00:07-00:00:09", {}, "overlap"},
    {"00:00:10-00:00:12,00:00:03-00:00:08", {}, "in order"},
};

TEST(CutList, ListsAreReadOrRefusedWithTheEntryNamed) {
    for (const ListCase& c : LIST_CASES) {
        std::vector<TimeStretch> out;
        char message[MESSAGE_SIZE] = "";
        bool ok = parse_cut_list(c.text, &out, message);
        ASSERT_EQ(ok, !c.ms.empty()) << c.text << ": " << message;
        std::vector<int64_t> read;
        for (const TimeStretch& s : out)
            read.insert(read.end(), {s.begin_ms, s.end_ms});
        if (ok) {
            EXPECT_EQ(read, c.ms) << c.text;
        }
        EXPECT_NE(std::string(message).find(c.refusal), std::string::npos) << c.text << message;
    }
}

struct KeepCase {
    const char* text;
    bool drop;
    int64_t from_ms, to_ms, recording_ms;
    std::vector<int64_t> keep;  // begin, end (-1: to the end), ...; empty: refused
    const char* refusal = "";
    bool first_begins_after = false;  // the first stretch starts as --from does
};

const KeepCase KEEP_CASES[] = {
    {"00:00:03-00:00:08", false, -1, -1, 60000, {3000, 8000}},
    {"00:00:03-00:00:08", true, -1, -1, 60000, {0, 3000, 8000, -1}},
    {"00:00:00-00:00:08", true, -1, -1, 60000, {8000, -1}},
    {"00:00:03-00:00:08,00:00:20-00:01:00", true, -1, -1, 60000, {0, 3000, 8000, 20000}},
    {"00:00:03-00:00:08", true, 1000, 30000, 60000, {1000, 3000, 8000, 30000}, "", true},
    {"00:00:01-00:00:08", true, 1000, 8000, 60000, {}, "nothing"},
    {"00:00:03-00:00:08", false, 1000, 30000, 60000, {3000, 8000}},
    {"00:00:03-00:00:08", false, 4000, -1, 60000, {}, "--from and --to"},
    {"00:00:03-00:00:08", true, -1, 6000, 60000, {}, "--from and --to"},
    {"00:01:00-00:01:30", false, -1, -1, 60000, {}, "past the recording's end (00:01:00.000)"},
    {"00:00:30-00:01:30", true, -1, -1, 60000, {}, "past the recording's end"},
    {"00:00:30-00:01:00.900", false, -1, -1, 60000, {30000, 60900}},  // the record's rounding
    {"00:00:30-00:01:30", false, -1, -1, 0, {30000, 90000}},          // length unknown
};

TEST(CutList, StretchesKeptFromCutOrDropWithinFromAndTo) {
    for (const KeepCase& c : KEEP_CASES) {
        std::vector<TimeStretch> list, keep;
        char message[MESSAGE_SIZE] = "";
        ASSERT_TRUE(parse_cut_list(c.text, &list, message)) << c.text;
        bool ok =
            stretches_to_keep(list, c.drop, c.from_ms, c.to_ms, c.recording_ms, &keep, message);
        ASSERT_EQ(ok, !c.keep.empty()) << c.text << ": " << message;
        std::vector<int64_t> kept;
        for (const TimeStretch& s : keep)
            kept.insert(kept.end(), {s.begin_ms, s.end_ms});
        EXPECT_EQ(kept, c.keep) << c.text;
        EXPECT_NE(std::string(message).find(c.refusal), std::string::npos) << c.text << message;
        if (ok) {
            EXPECT_EQ(keep[0].begin_after, c.first_begins_after) << c.text;
        }
        for (size_t i = 1; i < keep.size(); ++i)
            EXPECT_FALSE(keep[i].begin_after) << c.text;
    }
}

TEST(CutList, ChapterIntervalsAndClockTimes) {
    const std::pair<const char*, int64_t> intervals[] = {
        {"10m", 600000}, {"10", 600000}, {"90s", 90000},  {"1h", 3600000}, {"2min", 120000},
        {"10s", 10000},  {"9s", -1},     {"0", -1},       {"m", -1},       {"10x", -1},
        {"-5m", -1},     {"", -1},       {"1234567m", -1}};
    for (const auto& [text, ms] : intervals)
        EXPECT_EQ(parse_chapter_interval(text), ms) << text;
    EXPECT_EQ(clock_time_text(3723004), "01:02:03.004");
    EXPECT_EQ(parse_clock_time(clock_time_text(45296789)), 45296789);
}

}  // namespace
}  // namespace quarrow
