#include "support/run_program_posix.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/temp_files.h"

namespace quarrow::test {

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

std::string shell_quote(const std::string& argument) {
    std::string quoted = "'";
    for (char c : argument) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

ProgramResult run_program(const std::string& command) {
    TempDir dir;
    std::string out = dir.file("stdout"), err = dir.file("stderr");
    int raw = std::system(
        ("(" + command + ") >" + shell_quote(out) + " 2>" + shell_quote(err) + " </dev/null")
            .c_str());
    ProgramResult r;
    if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

}  // namespace quarrow::test
