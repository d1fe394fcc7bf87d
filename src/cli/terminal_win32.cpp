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

}  // namespace quarrow::cli
