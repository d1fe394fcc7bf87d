// The disk session: why an open is refused (as a status, not a text), the outputs it turns away,
// and the writes of a disk kept open between commands.
#include "fs/disk_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/disk_builder.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

struct Images {
    test::TempDir dir;
    std::string good = dir.file("good.hex");
    Images() {
        test::TestDisk disk;
        disk.cluster_count = 3;
        test::TestRecording r;
        r.default_title = "One";
        r.clusters = {0};
        r.data.assign(4096, 0x55);
        disk.recordings = {r};
        DiskHandle out = create_output_file(good.c_str());
        EXPECT_TRUE(out && test::write_test_disk(disk, out));
        close_disk(out);
        EXPECT_TRUE(test::write_file(dir.file("plain.bin"), std::vector<uint8_t>(70000, 0x20)));
    }
};

TEST(DiskSession, OpensWithTheTableOrSaysWhyNotByItsStatus) {
    Images images;
    struct Case {
        std::string source;
        bool for_writing;
        SessionStatus status;
        int count;
    } cases[] = {
        {images.good, false, SESSION_OPEN, 1},
        {images.good, true, SESSION_OPEN, 1},
        {images.dir.file("missing.hex"), false, SESSION_CANNOT_OPEN, 0},
        {images.dir.file("plain.bin"), false, SESSION_NOT_MEDIAMASTER, 0},
    };
    for (const Case& c : cases) {
        DiskSession s;
        EXPECT_EQ(open_session(&s, c.source.c_str(), c.for_writing), c.status == SESSION_OPEN)
            << c.source;
        EXPECT_EQ(s.status, c.status) << c.source;
        EXPECT_EQ(s.count, c.count) << c.source;
        // Only a session open for writing hands out the disk the maintenance operations take.
        EXPECT_EQ(bool(s.writable()), c.status == SESSION_OPEN && c.for_writing) << c.source;
    }
}

TEST(DiskSession, OneWriterExcludesEveryOtherSessionAndWritesOfAKeptDisk) {
    Images images;
    const char* path = images.good.c_str();
    DiskSession writer;
    ASSERT_TRUE(open_session(&writer, path, true));
    DiskSession reader;
    EXPECT_FALSE(open_session(&reader, path, false));
    EXPECT_EQ(reader.status, SESSION_IN_USE);
    EXPECT_STREQ(reader.message, DISK_IN_USE_MESSAGE);

    // A disk kept open (as the Windows program keeps it) takes the lock for each write.
    UniqueDisk kept(open_image_file(path, true));
    WritableDisk w;
    char message[MESSAGE_SIZE] = "";
    EXPECT_FALSE(begin_disk_write(kept.get(), &w, message));
    EXPECT_STREQ(message, DISK_IN_USE_MESSAGE);
    EXPECT_TRUE(commit_session(&writer));
    ASSERT_TRUE(begin_disk_write(kept.get(), &w, message));
    EXPECT_EQ(w.handle(), kept.get());
    EXPECT_FALSE(open_session(&reader, path, false));  // held for the write ...
    EXPECT_TRUE(end_disk_write(&w));
    EXPECT_FALSE(w);
    EXPECT_TRUE(open_session(&reader, path, false));  // ... and given up after it

    UniqueDisk read_only(open_image_file(path, false));
    EXPECT_FALSE(begin_disk_write(read_only.get(), &w, message));
    EXPECT_STREQ(message, "The disk is not open for writing.");
}

TEST(DiskSession, AnOutputThatIsTheSourceOrNoRegularFileIsRefused) {
    Images images;
    DiskSession s;
    ASSERT_TRUE(open_session(&s, images.good.c_str(), false));
    struct Case {
        std::string path;
        OutputCheck expected;
    } cases[] = {
        {images.good, OUTPUT_IS_SOURCE},
        {images.dir.path + "/./good.hex", OUTPUT_IS_SOURCE},
        {images.dir.file("plain.bin"), OUTPUT_USABLE},
        {images.dir.file("new.hex"), OUTPUT_USABLE},
#if !defined(_WIN32)
        {"/dev/null", OUTPUT_NOT_REGULAR},
#endif
    };
    for (const Case& c : cases)
        EXPECT_EQ(check_output(s, c.path.c_str()), c.expected) << c.path;
}

// The rescue opens a source whose system area may not read and an image that starts empty: the
// session asks for no table there, but still keeps the lock and never lets the image be the source.
TEST(DiskSession, TheRescueOpensAnyDiskButNeverWritesItsSourceOrPastALock) {
    Images images;
    const std::string plain = images.dir.file("plain.bin");
    DiskSession source;
    ASSERT_TRUE(open_rescue_source(&source, plain.c_str())) << source.message;
    EXPECT_EQ(source.count, 0);
    EXPECT_FALSE(source.writable()) << "no WritableDisk without the table";

    struct Case {
        std::string image;
        SessionStatus status;
    } cases[] = {
        {plain, SESSION_IS_SOURCE},
        {images.dir.path + "/./plain.bin", SESSION_IS_SOURCE},
        {images.dir.path, SESSION_NOT_A_FILE},
        {images.dir.file("no/such/folder.img"), SESSION_CANNOT_OPEN},
        {images.good, SESSION_OPEN},  // an existing image is continued, not cut
        {images.dir.file("new.img"), SESSION_OPEN},
    };
    for (const Case& c : cases) {
        const int64_t before = test::file_size(c.image);
        DiskSession image;
        EXPECT_EQ(open_rescue_image(&image, source.disk, c.image.c_str(), 70000),
                  c.status == SESSION_OPEN)
            << c.image;
        EXPECT_EQ(image.status, c.status) << c.image;
        EXPECT_FALSE(image.writable()) << c.image;
        const int64_t after = c.status == SESSION_OPEN ? std::max<int64_t>(before, 70000) : before;
        EXPECT_EQ(test::file_size(c.image), after) << c.image;
    }
    EXPECT_EQ(test::read_file_at(plain, 0, 70000), std::vector<uint8_t>(70000, 0x20));

    // A writer on the source or on the image keeps the rescue out.
    DiskSession writer;
    ASSERT_TRUE(open_session(&writer, images.good.c_str(), true));
    DiskSession locked;
    EXPECT_FALSE(open_rescue_source(&locked, images.good.c_str()));
    EXPECT_EQ(locked.status, SESSION_IN_USE);
    const int64_t size = test::file_size(images.good);
    EXPECT_FALSE(open_rescue_image(&locked, source.disk, images.good.c_str(), size + 4096));
    EXPECT_EQ(locked.status, SESSION_IN_USE);
    EXPECT_EQ(test::file_size(images.good), size) << "not grown under another's lock";
}

}  // namespace
}  // namespace quarrow
