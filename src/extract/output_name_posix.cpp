// POSIX output names: '/' joins folder and prefix, and the names are taken as the bytes they are:
// file names on these systems are UTF-8, and the front end gives them so.
#include <climits>
#include <cstring>

#include "extract/output_name.h"
#include "fs/text_folding.h"

namespace quarrow {

void build_output_name(const char* path, const char* prefix, const char* extension, char* out) {
    size_t n = 0;
    auto append = [&](const char* s) {
        for (; s && *s && n + 1 < OUTPUT_NAME_BUFFER; ++s)
            out[n++] = *s;
    };
    append(path);
    append("/");
    append(prefix);
    append(extension);
    out[n] = 0;
}

size_t max_output_name_bytes() {
    return PATH_MAX - 1;
}

// '/' is the separator here, so a folder path holds it; the other characters stay refused, as
// on Windows, so that a name made here can be copied there. The byte 0xA6 is allowed: in UTF-8
// it is part of a character ("\xC3\xA6" is "ae" joined).
bool path_char_allowed(unsigned char c) {
    return !strchr("*?<>|\"", c);
}

bool prefix_char_allowed(unsigned char c) {
    return c != 0 && !strchr("\\/:*?<>|\"", c);
}

std::string disk_text_file_name(const std::string& latin1) {
    char buffer[512];
    latin1_to_utf8(latin1.c_str(), buffer, sizeof buffer);
    return buffer;
}

// No name is a device here: /dev holds them.
std::string safe_title_prefix(const std::string& prefix) {
    return prefix;
}

}  // namespace quarrow
