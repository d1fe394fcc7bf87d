// quarrow rescue as a program, where no failing drive is needed: a clean image copied whole with
// its map, a rerun that finds nothing left to read, and the outputs it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_program_posix.h"
#include "support/temp_files.h"

using namespace quarrow::test;

namespace {

const std::string kCli = QUARROW_CLI_PATH;

ProgramResult rescue(const std::string& args) {
    return run_program(shell_quote(kCli) + " rescue " + args + " </dev/null");
}

}  // namespace

TEST(RescueCli, CopiesACleanImageAndRefusesUnsafeOutputs) {
    TempDir dir;
    std::string source = dir.file("source.hex"), image = dir.file("image.hex");
    std::vector<uint8_t> bytes(3 * 1024 * 1024 + 1000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + i / 512);
    ASSERT_TRUE(write_file(source, bytes));

    ProgramResult first = rescue(shell_quote(source) + " " + shell_quote(image));
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(read_file_at(image, 0, bytes.size()), bytes) << "a partial last sector too";
    EXPECT_EQ(file_size(image), int64_t(bytes.size()));
    ProgramResult again = rescue(shell_quote(source) + " " + shell_quote(image));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("Resuming from"), std::string::npos) << again.err;

    std::string link = dir.file("link.hex");
    ASSERT_EQ(symlink(source.c_str(), link.c_str()), 0);
    std::string small = dir.file("small.hex");
    ASSERT_TRUE(write_file(small, std::vector<uint8_t>(4096, 1)));
    struct Case {
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {shell_quote(source) + " " + shell_quote(link) + " --force", 2,
         "is the disk being rescued"},
        {shell_quote(source) + " " + shell_quote(dir.file("x.hex")) + " --map " + shell_quote(link),
         2, "is the disk being rescued"},
        {shell_quote(source) + " " + shell_quote(dir.path), 2, "is not a regular file"},
        {shell_quote(source) + " " + shell_quote(small), 2, "add --force"},
        {shell_quote(source) + " " + shell_quote(dir.file("y.hex")) + " --retries 0", 2,
         "--retries must be from 1 to 1000."},
        {shell_quote(small) + " " + shell_quote(dir.file("z.hex")) + " --map " +
             shell_quote(image + ".map"),
         1, "belongs to another disk"},
        {shell_quote(dir.file("missing.hex")) + " " + shell_quote(dir.file("w.hex")), 1,
         "Could not open"},
    };
    for (const Case& c : cases) {
        ProgramResult r = rescue(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_EQ(read_file_at(small, 0, 4096), std::vector<uint8_t>(4096, 1)) << "left alone";
}
