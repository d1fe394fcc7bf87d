// extract --nfo: the .nfo beside the outputs, read back by an XML parser (python3's).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "disk/sector_access.h"
#include "support/run_program_posix.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

namespace quarrow::test {
namespace {

TEST(NfoCommand, ExtractWritesAWellFormedNfoWithTheRecordsFields) {
    if (run_program("command -v python3").status != 0) GTEST_SKIP() << "python3 is missing";
    TempDir dir;
    std::string image = dir.file("disk.hex");
    ASSERT_TRUE(write_sample_image(image));
    for (const char* mode : {"", " --mux --metadata"}) {
        SCOPED_TRACE(mode);
        ProgramResult r =
            run_program(shell_quote(QUARROW_CLI_PATH) + " extract " + shell_quote(image) +
                        " 4 -q --nfo -o " + shell_quote(dir.path) + mode);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string nfo = dir.file("Cafe Noel.nfo");
        EXPECT_NE(r.out.find(nfo), std::string::npos) << r.out;
        ProgramResult parsed = run_program(
            "python3 -c 'import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1])."
            "getroot(); print(r.tag, *[e.tag + \"=\" + e.text for e in r], sep=\"|\")' " +
            shell_quote(nfo));
        ASSERT_EQ(parsed.status, 0) << parsed.err;
        EXPECT_EQ(parsed.out,
                  "movie|title=Caf\xC3\xA9 No\xC3\xABl|studio=TV5MONDE|premiered=2002-12-24|"
                  "year=2002|dateadded=2002-12-24 18:30:00|runtime=1|tag=Permanent|tag=Locked\n");
        struct stat st;
        ASSERT_EQ(stat(nfo.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 1040754600);  // the recording's start
    }
}

}  // namespace
}  // namespace quarrow::test
