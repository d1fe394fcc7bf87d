#include <io.h>

#include <cstdio>

#include "cli/cli_common.h"

namespace quarrow::cli {

bool stdin_is_terminal() {
    return _isatty(_fileno(stdin)) != 0;
}
bool stderr_is_terminal() {
    return _isatty(_fileno(stderr)) != 0;
}

// Windows hands the program its arguments in the ANSI code page, the Latin-1 of the disk's texts.
bool typed_to_latin1(const std::string& typed, std::string* latin1) {
    *latin1 = typed;
    return true;
}

}  // namespace quarrow::cli
