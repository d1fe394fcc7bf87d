// Detection among the drives (named through QUARROW_DRIVES by temporary image files), image
// opening and reloading: every status message and what happens to the handle and the count.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fs/disk_detection.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/memory_disk.h"
#include "support/temp_files.h"

using namespace quarrow;
using namespace quarrow::test;

namespace {

// A MediaMaster image file with `count` recordings in its Table of Contents (all naming one
// record), sized to size_mb MiB when that is given.
std::string make_image(const TempDir& dir, const std::string& name, int count, uint64_t size_mb = 0,
                       bool signature = true) {
    TestDisk disk;
    disk.cluster_count = 4;
    disk.signature = signature;
    TestRecording r;
    r.default_title = "Tagesschau";
    r.clusters = {};
    r.length = 1;
    r.record_offset = 4;
    if (count > 0) disk.recordings.push_back(r);
    disk.count_override = count;
    std::string path = dir.file(name);
    EXPECT_TRUE(write_file(path, {}));
    DiskHandle h = open_image_file(path.c_str(), true);
    EXPECT_NE(h, nullptr);
    EXPECT_TRUE(write_test_disk(disk, h));
    if (count > 1) {
        // Every slot names the one record.
        uint8_t toc[TOC_BYTES];
        EXPECT_EQ(read_sectors(h, toc, TOC_SECTOR, TOC_SECTORS, SECTOR_SIZE), TOC_SECTORS);
        for (int j = 0; j < count && TOC_SLOTS_OFFSET + 4 * j + 4 <= TOC_BYTES; ++j)
            write_be16(toc + TOC_SLOTS_OFFSET + 4 * j + 2, 4);
        EXPECT_EQ(write_sectors(h, toc, TOC_SECTOR, TOC_SECTORS, SECTOR_SIZE), TOC_SECTORS);
    }
    close_disk(h);
    if (size_mb) {
        EXPECT_TRUE(resize_file(path, size_mb << 20));
    }
    return path;
}

std::string make_plain_file(const TempDir& dir, const std::string& name, size_t bytes) {
    std::string path = dir.file(name);
    EXPECT_TRUE(write_file(path, std::vector<uint8_t>(bytes, 0)));
    return path;
}

struct Detection {
    DiskHandle disk = nullptr;
    int count = -1;
    std::vector<RecordingEntry> entries = std::vector<RecordingEntry>(MAX_RECORDINGS);
    char message[MESSAGE_SIZE] = "untouched";
    ~Detection() { close_disk(disk); }
};

std::string path_of_missing(const TempDir& dir) {
    return dir.file("not-there.hex");
}

}  // namespace

TEST(DetectDisk, FindsTheDiskOnALaterDriveWithTheDetectionMessage) {
    TempDir dir;
    std::string other = make_plain_file(dir, "system.img", 200 * SECTOR_SIZE);
    std::string mm = make_image(dir, "mm.hex", 12, 38162);
    ScopedEnv drives("QUARROW_DRIVES", drive_list({other, mm}).c_str());
    Detection d;
    d.disk = detect_disk(&d.count, d.entries.data(), false, d.message);
    ASSERT_NE(d.disk, nullptr);
    EXPECT_EQ(d.count, 12);
    EXPECT_STREQ(d.message, "Detected MediaMaster Disk (40 GB) with 12 Recordings.");
    EXPECT_STREQ(d.entries[0].display_title, "Tagesschau");
    EXPECT_FALSE(d.disk->writable) << "writing was not allowed";
    EXPECT_EQ(drive_size_mb(d.disk), 38162u);
}

TEST(DetectDisk, WritingAllowedGivesAWritableHandle) {
    TempDir dir;
    std::string mm = make_image(dir, "mm.hex", 1);
    ScopedEnv drives("QUARROW_DRIVES", drive_list({mm}).c_str());
    Detection d;
    d.disk = detect_disk(&d.count, d.entries.data(), true, d.message);
    ASSERT_NE(d.disk, nullptr);
    EXPECT_TRUE(d.disk->writable);
    EXPECT_STREQ(d.message, "Detected MediaMaster Disk (0 GB) with 1 Recordings.");
}

TEST(DetectDisk, TheScanStopsAtTheFirstDriveThatDoesNotOpen) {
    TempDir dir;
    std::string other = make_plain_file(dir, "system.img", 200 * SECTOR_SIZE);
    std::string mm = make_image(dir, "mm.hex", 3);
    // Drive 1 is missing, the MediaMaster disk is drive 2.
    for (const std::string& list :
         {drive_list({other, path_of_missing(dir), mm}), drive_list({other, "", mm})}) {
        ScopedEnv drives("QUARROW_DRIVES", list.c_str());
        EXPECT_EQ(scan_physical_drives(false), nullptr);
        Detection d;
        d.disk = detect_disk(&d.count, d.entries.data(), false, d.message);
        EXPECT_EQ(d.disk, nullptr);
        EXPECT_EQ(d.count, 0);
        EXPECT_STREQ(d.message, "Could not find MediaMaster Disk.");
    }
}

TEST(DetectDisk, NoDrivesOrNoSignatureIsCouldNotFind) {
    TempDir dir;
    std::string other = make_plain_file(dir, "system.img", 200 * SECTOR_SIZE);
    std::string unsigned_disk = make_image(dir, "nosig.hex", 2, 0, false);
    for (const std::string& list : {no_drives(), drive_list({other, unsigned_disk})}) {
        ScopedEnv drives("QUARROW_DRIVES", list.c_str());
        Detection d;
        d.disk = detect_disk(&d.count, d.entries.data(), false, d.message);
        EXPECT_EQ(d.disk, nullptr);
        EXPECT_EQ(d.count, 0);
        EXPECT_STREQ(d.message, "Could not find MediaMaster Disk.");
    }
}

TEST(DetectDisk, AnEmptyTableKeepsTheDiskOpen) {
    TempDir dir;
    std::string mm = make_image(dir, "empty.hex", 0);
    ScopedEnv drives("QUARROW_DRIVES", drive_list({mm}).c_str());
    Detection d;
    d.disk = detect_disk(&d.count, d.entries.data(), false, d.message);
    EXPECT_NE(d.disk, nullptr);
    EXPECT_EQ(d.count, 0);
    EXPECT_STREQ(d.message, "No Recordings found on this disk.");
}

TEST(DetectDisk, FourHundredFortyEightAreAcceptedAndMoreRefused) {
    TempDir dir;
    std::string full = make_image(dir, "full.hex", 448);
    std::string over = make_image(dir, "over.hex", 449);
    {
        ScopedEnv drives("QUARROW_DRIVES", drive_list({full}).c_str());
        Detection d;
        d.disk = detect_disk(&d.count, d.entries.data(), false, d.message);
        EXPECT_NE(d.disk, nullptr);
        EXPECT_EQ(d.count, 448);
        EXPECT_STREQ(d.message, "Detected MediaMaster Disk (0 GB) with 448 Recordings.");
    }
    {
        ScopedEnv drives("QUARROW_DRIVES", drive_list({over}).c_str());
        Detection d;
        d.disk = detect_disk(&d.count, d.entries.data(), false, d.message);
        EXPECT_EQ(d.disk, nullptr);
        EXPECT_EQ(d.count, 0);
        EXPECT_STREQ(d.message, "Too many recordings on this disk.");
    }
}

TEST(OpenDiskImage, EveryOutcomeAndItsMessage) {
    TempDir dir;
    struct Case {
        std::string path;
        bool opens;
        int count;
        const char* message;
    } cases[] = {
        {path_of_missing(dir), false, 0, "Invalid image file."},
        {std::string(), false, 0, "Invalid image file."},
        {make_plain_file(dir, "zeros.hex", 300 * SECTOR_SIZE), false, 0, "Invalid image file."},
        {make_image(dir, "nosig.hex", 2, 0, false), false, 0, "Invalid image file."},
        {make_image(dir, "empty.hex", 0), true, 0, "No Recordings found in this image."},
        {make_image(dir, "over.hex", 449), false, 0, "Too many recordings in this image."},
        {make_image(dir, "five.hex", 5, 392), true, 5,
         "MediaMaster Disk Image with 5 Recordings (392 MB)."},
        {make_image(dir, "full.hex", 448, 8), true, 448,
         "MediaMaster Disk Image with 448 Recordings (8 MB)."},
    };
    for (const Case& c : cases) {
        Detection d;
        d.disk = open_disk_image(&d.count, d.entries.data(), false, d.message, c.path.c_str());
        EXPECT_EQ(d.disk != nullptr, c.opens) << c.path;
        EXPECT_EQ(d.count, c.count) << c.path;
        EXPECT_STREQ(d.message, c.message) << c.path;
    }
}

TEST(OpenDiskImage, AnImageEndingBeforeSector130IsInvalid) {
    TempDir dir;
    std::string path = make_image(dir, "cut.hex", 1);
    for (uint64_t bytes : {uint64_t(130 * SECTOR_SIZE), uint64_t(130 * SECTOR_SIZE + 100)}) {
        ASSERT_TRUE(resize_file(path, bytes));
        Detection d;
        d.disk = open_disk_image(&d.count, d.entries.data(), false, d.message, path.c_str());
        EXPECT_EQ(d.disk, nullptr);
        EXPECT_STREQ(d.message, "Invalid image file.");
    }
    // With sector 130 but not the rest of the table: signed, but the table cannot be read.
    path = make_image(dir, "cut131.hex", 1);
    ASSERT_TRUE(resize_file(path, 131 * SECTOR_SIZE));
    Detection d;
    d.disk = open_disk_image(&d.count, d.entries.data(), false, d.message, path.c_str());
    EXPECT_NE(d.disk, nullptr);
    EXPECT_EQ(d.count, 0);
    EXPECT_STREQ(d.message, "No Recordings found in this image.");
}

TEST(OpenDiskImage, WantWriteIsPassedThrough) {
    TempDir dir;
    std::string path = make_image(dir, "rw.hex", 1);
    for (bool want_write : {false, true}) {
        Detection d;
        d.disk = open_disk_image(&d.count, d.entries.data(), want_write, d.message, path.c_str());
        ASSERT_NE(d.disk, nullptr);
        EXPECT_EQ(d.disk->writable, want_write);
    }
}

TEST(ReloadRecordingTable, EveryOutcomeAndItsMessage) {
    Detection none;
    EXPECT_EQ(reload_recording_table(&none.disk, &none.count, none.entries.data(), none.message),
              0);
    EXPECT_EQ(none.count, 0);
    EXPECT_STREQ(none.message, "Could not find MediaMaster Disk.");

    TestDisk disk;
    disk.cluster_count = 4;
    TestRecording r;
    r.default_title = "Sport";
    disk.recordings = {r, r};
    MemoryDisk image;
    DiskHandle h = open_memory_disk(&image);
    ASSERT_TRUE(write_test_disk(disk, h));

    Detection d;
    EXPECT_EQ(reload_recording_table(&h, &d.count, d.entries.data(), d.message), 1);
    EXPECT_EQ(d.count, 2);
    EXPECT_STREQ(d.message, "2 Recordings found.");

    uint8_t* toc = image.bytes.data() + TOC_SECTOR * SECTOR_SIZE;
    write_be16(toc + TOC_COUNT_OFFSET, 0);
    EXPECT_EQ(reload_recording_table(&h, &d.count, d.entries.data(), d.message), 1);
    EXPECT_EQ(d.count, 0);
    EXPECT_STREQ(d.message, "No Recordings found.");

    write_be16(toc + TOC_COUNT_OFFSET, 449);
    // The refused disk is closed by the reload, which also drops the caller's handle.
    EXPECT_EQ(reload_recording_table(&h, &d.count, d.entries.data(), d.message), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(d.count, 0);
    EXPECT_STREQ(d.message, "Too many recordings.");
}

TEST(IsMediaMasterDisk, TheSignatureIsVideoAndItsNul) {
    struct Case {
        const char bytes[6];
        int expected;
    } cases[] = {
        {{'V', 'i', 'd', 'e', 'o', 0}, 1},
        {{'V', 'i', 'd', 'e', 'o', '1'}, 0},
        {{'v', 'i', 'd', 'e', 'o', 0}, 0},
        {{'V', 'i', 'd', 'e', 0, 0}, 0},
    };
    for (const Case& c : cases) {
        MemoryDisk image;
        image.bytes.resize(134 * SECTOR_SIZE);
        memcpy(image.bytes.data() + TOC_SECTOR * SECTOR_SIZE + 4, c.bytes, 6);
        DiskHandle h = open_memory_disk(&image);
        EXPECT_EQ(is_mediamaster_disk(h), c.expected) << std::string(c.bytes, 6);
        close_disk(h);
    }
}
