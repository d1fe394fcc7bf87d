#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/cli_common.h"
#include "extract/output_name.h"

namespace quarrow::cli {

bool stdin_is_terminal() {
    return _isatty(_fileno(stdin)) != 0;
}
bool stderr_is_terminal() {
    return _isatty(_fileno(stderr)) != 0;
}

int terminal_columns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (_isatty(_fileno(stdout)) &&
        GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

std::string allow_writing_command(const std::string& path) {
    return "attrib -r \"" + path + "\"";
}

std::string disk_text_as_name(const std::string& latin1) {
    return disk_text_file_name(latin1);
}

std::string safe_default_prefix(const std::string& prefix) {
    return safe_title_prefix(prefix);
}

}  // namespace quarrow::cli
