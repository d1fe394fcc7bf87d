#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/cli_common.h"
#include "extract/output_name.h"

namespace quarrow::cli {

bool stdin_is_terminal() {
    return isatty(0) == 1;
}
bool stderr_is_terminal() {
    return isatty(2) == 1;
}

int terminal_columns() {
    struct winsize size {};
    if (isatty(1) == 1 && ioctl(1, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string allow_writing_command(const std::string& path) {
    return "chmod u+w '" + path + "'";
}

// File names here are UTF-8.
std::string disk_text_as_name(const std::string& latin1) {
    return disk_text_file_name(latin1);
}

std::string safe_default_prefix(const std::string& prefix) {
    return safe_title_prefix(prefix);
}

}  // namespace quarrow::cli
