// The window-free decisions of the Windows program's main window and extraction panel.
#include "ui/panel_rules.h"

#include <gtest/gtest.h>

namespace quarrow::ui {
namespace {

TEST(ScrollTarget, LineAndPageStepsStopAtTheEndsOfTheRange) {
    int pos = -7;
    EXPECT_TRUE(scroll_target(SCROLL_LINE_RIGHT, 5, 0, 9, 0, &pos));
    EXPECT_EQ(pos, 6);
    EXPECT_TRUE(scroll_target(SCROLL_LINE_RIGHT, 9, 0, 9, 0, &pos));
    EXPECT_EQ(pos, 9);
    EXPECT_TRUE(scroll_target(SCROLL_LINE_LEFT, 1, 1, 9, 0, &pos));
    EXPECT_EQ(pos, 1);
    EXPECT_TRUE(scroll_target(SCROLL_PAGE_RIGHT, 100, 0, 5000, 0, &pos));
    EXPECT_EQ(pos, 1124);
    EXPECT_TRUE(scroll_target(SCROLL_PAGE_RIGHT, 4000, 0, 5000, 0, &pos));
    EXPECT_EQ(pos, 5000);
    EXPECT_TRUE(scroll_target(SCROLL_PAGE_LEFT, 1000, 1, 5000, 0, &pos));
    EXPECT_EQ(pos, 1);
    // No overflow at the ends of int.
    EXPECT_TRUE(scroll_target(SCROLL_PAGE_RIGHT, 2147483000, 0, 2147483647, 0, &pos));
    EXPECT_EQ(pos, 2147483647);
}

TEST(ScrollTarget, ThumbTrackTakesTheTrackingPositionAndOtherCodesAreNotHandled) {
    int pos = -7;
    EXPECT_TRUE(scroll_target(SCROLL_THUMB_TRACK, 5, 0, 9, 8, &pos));
    EXPECT_EQ(pos, 8);
    pos = -7;
    for (int code : {4, 6, 7, 8})  // thumb position, top, bottom, end of scroll
        EXPECT_FALSE(scroll_target(code, 5, 0, 9, 8, &pos)) << code;
    EXPECT_EQ(pos, -7);
}

TEST(RangeBars, StartCoversTheFirst16384SectorsAndTheLengthWhatIsLeft) {
    EXPECT_EQ(start_scroll_max(10000), 9999);
    EXPECT_EQ(start_scroll_max(16384), 16383);
    EXPECT_EQ(start_scroll_max(16385), 16383);
    EXPECT_EQ(start_scroll_max(200000), 16383);
    EXPECT_EQ(length_scroll_max(10000, 16, 16), 10000);
    EXPECT_EQ(length_scroll_max(10000, 16, 17), 9999);
    EXPECT_EQ(length_scroll_max(10000, 0, 1024), 8976);
    EXPECT_EQ(length_scroll_max(0xFFFFFFFFu, 0xFFFFFFFFu, 0), 2147483647);
}

TEST(StoredSettings, AudioButtonAndSwitchesFromStoredValues) {
    EXPECT_EQ(audio_button_for_setting(0), IDC_AUDIO_MP2);
    EXPECT_EQ(audio_button_for_setting(2), IDC_AUDIO_MP2);
    EXPECT_EQ(audio_button_for_setting(1), IDC_AUDIO_MPG);
    EXPECT_EQ(audio_button_for_setting(7), IDC_AUDIO_MPG);
    EXPECT_EQ(audio_type_for_button(true), 1);
    EXPECT_EQ(audio_type_for_button(false), 2);
    EXPECT_TRUE(switch_is_on(1));
    EXPECT_FALSE(switch_is_on(0));
    EXPECT_FALSE(switch_is_on(2));
    EXPECT_FALSE(switch_is_on(0xFFFFFFFFu));
}

TEST(CommandGate, RawDrivePlatformFirstThenTheOpenDisk) {
    for (int command : {IDM_MANAGE_RECORDINGS, IDM_DIAGNOSTICS, IDM_DUMP_DISK}) {
        // On Windows 95/98/Me only the NT-only note, even with an image open.
        EXPECT_EQ(command_gate(command, false, true), CommandGate::NtOnly) << command;
        EXPECT_EQ(command_gate(command, true, false), CommandGate::NeedsDisk) << command;
        EXPECT_EQ(command_gate(command, true, true), CommandGate::Run) << command;
    }
    EXPECT_EQ(command_gate(IDM_ERASE_DISK, false, true), CommandGate::NtOnly);
    EXPECT_EQ(command_gate(IDM_ERASE_DISK, true, false), CommandGate::Run);
    for (int command : {IDM_ABOUT, IDM_OPEN_IMAGE, IDM_SCAN_DISK})
        EXPECT_EQ(command_gate(command, false, false), CommandGate::Run) << command;
}

}  // namespace
}  // namespace quarrow::ui
