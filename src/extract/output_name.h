// How an output file's name is made on this platform: the folder, the platform's separator, the
// prefix and the extension, in the encoding the platform's file calls take: on Windows the ANSI
// calls take Latin-1 text and names of at most 260 bytes; on POSIX names are UTF-8 bytes, as the
// system has them, up to the system's own limit.
#pragma once

#include <cstddef>

namespace quarrow {

// Room for the longest name on either platform (POSIX's PATH_MAX of 4096 and a little).
constexpr size_t OUTPUT_NAME_BUFFER = 4096 + 8;

// The longest output name, in bytes, that check_output_names lets through: MAX_OUTPUT_NAME on
// Windows, PATH_MAX less its terminating zero on POSIX.
size_t max_output_name_bytes();

// Joins path, separator, prefix and extension (".m2v") into out (OUTPUT_NAME_BUFFER bytes). The
// separator is always inserted, also after a path that already ends with one; the file system
// takes the doubled separator as one.
void build_output_name(const char* path, const char* prefix, const char* extension, char* out);

// Whether Windows takes a file named prefix plus any extension for a device: CON, PRN, AUX, NUL,
// COM1 to COM9 and LPT1 to LPT9 in any case, also with an extension or trailing spaces ("con.m2v",
// "NUL "). Portable so that it is tested everywhere; the front ends ask it on Windows only.
bool names_reserved_device(const char* prefix);

}  // namespace quarrow
