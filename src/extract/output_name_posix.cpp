// POSIX output names: '/' joins folder and prefix, and the Latin-1 text becomes UTF-8, the
// encoding file names have on these systems.
#include <cstring>

#include "extract/extraction_engine.h"
#include "extract/output_name.h"
#include "fs/layout.h"

namespace quarrow {

void build_output_name(const char* path, const char* prefix, const char* extension, char* out) {
    char latin1[OUTPUT_NAME_BUFFER];
    size_t n = 0;
    auto append = [&](const char* s) {
        for (; s && *s && n + 1 < sizeof latin1; ++s)
            latin1[n++] = *s;
    };
    append(path);
    append("/");
    append(prefix);
    append(extension);
    latin1[n] = 0;
    latin1_to_utf8(latin1, out, OUTPUT_NAME_BUFFER);
}

// '/' is the separator here, so a folder path holds it; the other characters stay refused, as
// on Windows, so that a name made here can be copied there.
bool path_char_allowed(unsigned char c) {
    return c != 0xA6 && !strchr("*?<>|\"", c);
}

}  // namespace quarrow
