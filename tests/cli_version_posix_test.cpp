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

// Every help text fits 80 columns when it is not shown on a terminal, names no type of the
// argument library ("SOURCE TEXT REQUIRED"), and each command's says what its exit statuses mean.
TEST(CliHelp, WrappedPlainAndWithEachCommandsExitStatuses) {
    const char* commands[] = {"",     "list", "extract", "backup", "restore", "delete",   "edit",
                              "move", "dump", "drives",  "erase",  "recover", "diagnose", "rescue"};
    for (const char* command : commands) {
        ProgramResult r =
            run_program(shell_quote(QUARROW_CLI_PATH) + " " + command + " --help </dev/null");
        EXPECT_EQ(r.status, 0) << command;
        size_t from = 0;
        while (from < r.out.size()) {
            size_t end = r.out.find('\n', from);
            if (end == std::string::npos) end = r.out.size();
            std::string line = r.out.substr(from, end - from);
            size_t columns = 0;
            for (unsigned char c : line)
                columns += (c & 0xC0) != 0x80;
            EXPECT_LE(columns, 80u) << command << ": " << line;
            from = end + 1;
        }
        for (const char* notation : {" TEXT", "REQUIRED", " INT", " UINT", "INT in ["})
            EXPECT_EQ(r.out.find(notation), std::string::npos) << command << ": " << notation;
        EXPECT_NE(r.out.find("Exit status: 0 "), std::string::npos) << command;
        // A command's statuses only, not the program's general paragraph besides.
        if (*command) {
            EXPECT_EQ(r.out.find("Exit status: 0 ", r.out.find("Exit status: 0 ") + 1),
                      std::string::npos)
                << command;
        }
    }
}

// The command line decides exit statuses and notices from the core's result fields: a line of
// src/cli that compares a text with a message-like literal would make a rewording change what a
// script sees.
TEST(CliSource, ComparesNoMessageText) {
    ProgramResult r = run_program(
        "grep -rnE '(strn?cmp|strstr|find|compare|starts_with)\\([^;]*\"[A-Z][a-z]+ |(==|!=) "
        "*\"[A-Z][a-z]+ |\"[A-Z][a-z]+ [^\"]*\" *(==|!=)' " +
        shell_quote(std::string(QUARROW_SOURCE_DIR) + "/src/cli"));
    EXPECT_EQ(r.out, "");
}
