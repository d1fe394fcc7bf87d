#include "disk/drive_list.h"
#include "disk/ata_identify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fs/disk_detection.h"
#include "support/disk_builder.h"
#include "support/drive_env.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

namespace fs = std::filesystem;

// The 40-byte model field as a drive stores it: two characters per word, the first in the
// high byte, so each pair appears swapped in memory.
std::vector<uint8_t> model_field(const std::string& text) {
    std::string padded = text;
    padded.resize(40, ' ');
    std::vector<uint8_t> field(40);
    for (int i = 0; i < 40; i += 2) {
        field[i] = static_cast<uint8_t>(padded[i + 1]);
        field[i + 1] = static_cast<uint8_t>(padded[i]);
    }
    return field;
}

std::string ata(const std::vector<uint8_t>& field) {
    char out[MODEL_TEXT_SIZE];
    memset(out, 'X', sizeof out);
    ata_text(field.data(), out);
    return out;
}

TEST(AtaText, SwapsEachWordsBytesAndTrimsSpacesOnBothSides) {
    // 15 characters and 25 spaces.
    EXPECT_EQ(ata(model_field("Maxtor 6Y080L0 ")), "Maxtor 6Y080L0");
    EXPECT_EQ(ata(model_field("IC35L040AVVN07-0")), "IC35L040AVVN07-0");
    EXPECT_EQ(ata(model_field("       ST340016A")), "ST340016A");
    EXPECT_EQ(ata(model_field("")), "");
    // All 40 characters used: nothing cut, the text ends after 40.
    std::string full = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    EXPECT_EQ(ata(model_field(full)), full);
    // A NUL inside ends the text; spaces before it are trimmed too.
    std::vector<uint8_t> nul = model_field("WDC WD400  ");
    nul[10] = 0;  // swapped position of character 11
    EXPECT_EQ(ata(nul), "WDC WD400");
}

TEST(IdentifyRequest, RegistersFollowTheDriveNumberAndTheAtapiMap) {
    uint8_t in[IDENTIFY_IN_SIZE];
    memset(in, 0x55, sizeof in);
    fill_identify_request(in, 0, ATA_IDENTIFY_DEVICE);
    EXPECT_EQ(in[SENDCMD_BUFFER_SIZE], 0x00);  // 512, little-endian
    EXPECT_EQ(in[SENDCMD_BUFFER_SIZE + 1], 0x02);
    EXPECT_EQ(in[SENDCMD_FEATURES], 0);
    EXPECT_EQ(in[SENDCMD_SECTOR_COUNT], 1);
    EXPECT_EQ(in[SENDCMD_SECTOR_NUMBER], 1);
    EXPECT_EQ(in[SENDCMD_CYL_LOW], 0);
    EXPECT_EQ(in[SENDCMD_CYL_HIGH], 0);
    EXPECT_EQ(in[SENDCMD_DRIVE_HEAD], 0xA0);
    EXPECT_EQ(in[SENDCMD_COMMAND], 0xEC);
    EXPECT_EQ(in[SENDCMD_DRIVE_NUMBER], 0);
    for (size_t i = SENDCMD_DRIVE_NUMBER + 1; i < IDENTIFY_IN_SIZE; ++i)
        EXPECT_EQ(in[i], 0) << "byte " << i << " must be zero-filled";

    fill_identify_request(in, 1, ATA_IDENTIFY_PACKET_DEVICE);
    EXPECT_EQ(in[SENDCMD_DRIVE_HEAD], 0xB0);
    EXPECT_EQ(in[SENDCMD_COMMAND], 0xA1);
    EXPECT_EQ(in[SENDCMD_DRIVE_NUMBER], 1);
    fill_identify_request(in, 2, ATA_IDENTIFY_DEVICE);
    EXPECT_EQ(in[SENDCMD_DRIVE_HEAD], 0xA0);
    fill_identify_request(in, 3, ATA_IDENTIFY_DEVICE);
    EXPECT_EQ(in[SENDCMD_DRIVE_HEAD], 0xB0);

    // Bit drive + 4 of the map marks an ATAPI device.
    EXPECT_EQ(identify_command(0x21, 1), 0xA1);  // drive 1 ATAPI (bit 5), drive 0 ATA
    EXPECT_EQ(identify_command(0x21, 0), 0xEC);
    EXPECT_EQ(identify_command(0x10, 0), 0xA1);
    EXPECT_EQ(identify_command(0x0F, 3), 0xEC);
    EXPECT_EQ(identify_command(0x80, 3), 0xA1);
    // Numbers the map cannot describe are plain ATA, not a shift past the byte.
    EXPECT_EQ(identify_command(0xFF, 4), 0xEC);
    EXPECT_EQ(identify_command(0xFF, 40), 0xEC);
}

TEST(DriveSizeGb, ThreeTruncatingStepsInWideArithmetic) {
    EXPECT_EQ(drive_size_gb(38166), 40u);
    EXPECT_EQ(drive_size_gb(38162), 40u);
    EXPECT_EQ(drive_size_gb(76319), 80u);
    EXPECT_EQ(drive_size_gb(0), 0u);
    EXPECT_EQ(drive_size_gb(954), 0u);  // 976, then 999, then 0: truncated at each step
    EXPECT_EQ(drive_size_gb(955), 1u);  // 977, then 1000, then 1
    EXPECT_EQ(drive_size_gb(8024), 8u);
    // 4 TiB and 8 TiB: size × 1024 passes 2^32 and must not wrap.
    EXPECT_EQ(drive_size_gb(4194304), 4398u);
    EXPECT_EQ(drive_size_gb(8388608), 8796u);
    EXPECT_EQ(drive_size_gb(0xFFFFFFFFu), 4503599u);
}

TEST(DriveLine, TabsSizeAndTheRightMark) {
    char line[DRIVE_LINE_SIZE];
    format_drive_line(line, sizeof line, 0, "Maxtor 6Y080L0", 80, false);
    EXPECT_STREQ(line, "Drive 0:\t\tMaxtor 6Y080L0\t(80 GB)\t---- Protected (System)");
    // The MediaMaster mark wins over the system mark on drive 0.
    format_drive_line(line, sizeof line, 0, "Maxtor 6Y080L0", 80, true);
    EXPECT_STREQ(line, "Drive 0:\t\tMaxtor 6Y080L0\t(80 GB)\t---- MediaMaster Disk");
    format_drive_line(line, sizeof line, 2, "[unknown]", 40, true);
    EXPECT_STREQ(line, "Drive 2:\t\t[unknown]\t(40 GB)\t---- MediaMaster Disk");
    format_drive_line(line, sizeof line, 12, "ST340016A", 40, false);
    EXPECT_STREQ(line, "Drive 12:\t\tST340016A\t(40 GB)");
    // The longest model with the longest mark fits.
    std::string model(40, 'M');
    format_drive_line(line, sizeof line, 2147483647, model.c_str(), 4294967295u, false);
    EXPECT_EQ(std::string(line), "Drive 2147483647:\t\t" + model + "\t(4294967295 GB)");
}

struct DriveFiles {
    test::TempDir dir;
    // A plain file of the given size, filled with one byte value.
    std::string blank(const std::string& name, size_t bytes, char fill = 0) {
        std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << std::string(bytes, fill);
        return path;
    }
    // A small MediaMaster disk.
    std::string mediamaster(const std::string& name) {
        std::string path = blank(name, 0);
        DiskHandle out = open_image_file(path.c_str(), true);
        test::TestDisk disk;
        disk.cluster_count = 4;
        test::TestRecording r;
        r.default_title = "News";
        r.data.assign(4096, 0x47);
        disk.recordings.push_back(r);
        EXPECT_TRUE(write_test_disk(disk, out));
        close_disk(out);
        return path;
    }
};

void collect(void* context, const DriveEntry* entry) {
    static_cast<std::vector<DriveEntry>*>(context)->push_back(*entry);
}

std::vector<DriveEntry> listed() {
    std::vector<DriveEntry> drives;
    DriveSink sink{&drives, collect};
    list_physical_drives(&sink);
    return drives;
}

TEST(ListPhysicalDrives, EachDriveWithItsMarkUntilOneDoesNotOpen) {
    DriveFiles files;
    std::string blank = files.blank("blank.img", 3 << 20);
    std::string mm = files.mediamaster("mm.img");
    std::string missing = files.dir.file("missing.img");
    test::ScopedDrives drives({blank, mm, blank, missing, mm});
    std::vector<DriveEntry> list = listed();
    // The missing third entry ends the list: the drive behind it is hidden.
    ASSERT_EQ(list.size(), 3u);
    EXPECT_STREQ(list[0].line, "Drive 0:\t\t[unknown]\t(0 GB)\t---- Protected (System)");
    EXPECT_TRUE(list[0].system);
    EXPECT_FALSE(list[0].mediamaster);
    EXPECT_EQ(list[0].size_mb, 3u);
    EXPECT_STREQ(list[1].line, "Drive 1:\t\t[unknown]\t(0 GB)\t---- MediaMaster Disk");
    EXPECT_TRUE(list[1].mediamaster);
    EXPECT_FALSE(list[1].system);
    EXPECT_STREQ(list[2].line, "Drive 2:\t\t[unknown]\t(0 GB)");
    EXPECT_EQ(list[2].number, 2);
}

TEST(ListPhysicalDrives, AMediaMasterDiskOnDriveZeroShowsTheMediaMasterMark) {
    DriveFiles files;
    test::ScopedDrives drives({files.mediamaster("mm.img")});
    std::vector<DriveEntry> list = listed();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_STREQ(list[0].line, "Drive 0:\t\t[unknown]\t(0 GB)\t---- MediaMaster Disk");
    EXPECT_TRUE(list[0].system);
}

TEST(ListPhysicalDrives, AnEmptyTableListsNothingAndAFileHasNoModel) {
    DriveFiles files;
    {
        test::ScopedDrives drives({});
        EXPECT_TRUE(listed().empty());
    }
    test::ScopedDrives drives({files.blank("a.img", 512)});
    char model[MODEL_TEXT_SIZE];
    drive_model_name(model, sizeof model, 0);
    EXPECT_STREQ(model, "[unknown]");
    drive_model_name(model, sizeof model, 1);
    EXPECT_STREQ(model, "[unknown]");
}

}  // namespace
}  // namespace quarrow
