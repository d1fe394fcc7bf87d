#include <unistd.h>

#include "cli/cli_common.h"

namespace quarrow::cli {

bool stdin_is_terminal() {
    return isatty(0) == 1;
}
bool stderr_is_terminal() {
    return isatty(2) == 1;
}

}  // namespace quarrow::cli
