// quarrow --version and -V: the project's version on stdout and exit 0, before any command is
// required.
#include <gtest/gtest.h>

#include <string>

#include "quarrow_version.h"
#include "support/run_program_posix.h"

using namespace quarrow::test;

TEST(CliVersion, PrintsTheProjectVersionAndExitsZero) {
    for (const char* flag : {"--version", "-V"}) {
        ProgramResult r = run_program(shell_quote(QUARROW_CLI_PATH) + " " + flag);
        EXPECT_EQ(r.status, 0) << flag << ": " << r.err;
        EXPECT_EQ(r.out, std::string("quarrow ") + QUARROW_VERSION + "\n") << flag;
        EXPECT_EQ(r.err, "") << flag;
    }
}
