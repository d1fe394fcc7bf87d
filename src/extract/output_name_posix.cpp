// POSIX output names: '/' joins folder and prefix, and the names are taken as the bytes they are:
// file names on these systems are UTF-8, and the front end gives them so.
#include <climits>
#include <cstring>

#include "extract/output_name.h"

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

}  // namespace quarrow
