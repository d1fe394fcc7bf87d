// Windows output names: a backslash joins folder and prefix, and the ANSI calls take the Latin-1
// text as it is.
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
    append("\\");
    append(prefix);
    append(extension);
    out[n] = 0;
}

size_t max_output_name_bytes() {
    return MAX_OUTPUT_NAME;
}

// Backslash and colon belong to Windows paths; '/' is refused as the ANSI file calls would
// misread it.
bool path_char_allowed(unsigned char c) {
    return c != 0xA6 && !strchr("/*?<>|\"", c);
}

// 0xA6 is the broken bar in Latin-1 and in the ANSI code page.
bool prefix_char_allowed(unsigned char c) {
    return c != 0 && c != 0xA6 && !strchr("\\/:*?<>|\"", c);
}

// The ANSI file calls take the Latin-1 bytes as they are.
std::string disk_text_file_name(const std::string& latin1) {
    return latin1;
}

// "CON.m2v" would be the console, not a file: the file calls ignore the extension.
std::string safe_title_prefix(const std::string& prefix) {
    return names_reserved_device(prefix.c_str()) ? prefix + "_" : prefix;
}

}  // namespace quarrow
