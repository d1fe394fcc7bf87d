#include <unistd.h>

#include <vector>

#include "cli/cli_common.h"
#include "fs/layout.h"

namespace quarrow::cli {

bool stdin_is_terminal() {
    return isatty(0) == 1;
}
bool stderr_is_terminal() {
    return isatty(2) == 1;
}

bool typed_to_latin1(const std::string& typed, std::string* latin1) {
    std::vector<char> out(typed.size() + 1);
    if (!utf8_to_latin1(typed.c_str(), out.data(), out.size())) return false;
    *latin1 = out.data();
    return true;
}

}  // namespace quarrow::cli
