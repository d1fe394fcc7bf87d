// Runs a program through the shell and captures its output and exit status (POSIX tests of the
// command-line front end and of loop devices).
#pragma once

#include <string>

namespace quarrow::test {

struct ProgramResult {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs command (a shell command line) with stdout and stderr captured separately.
ProgramResult run_program(const std::string& command);

// Quotes one argument for the shell.
std::string shell_quote(const std::string& argument);

}  // namespace quarrow::test
