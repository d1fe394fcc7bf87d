// How an output file's name is made on this platform: the folder, the platform's separator, the
// prefix and the extension, in the encoding the platform's file calls take.
#pragma once

#include <cstddef>

namespace quarrow {

// Room for the longest name once the Latin-1 bytes have become UTF-8 (two bytes each at most).
constexpr size_t OUTPUT_NAME_BUFFER = 2 * 260 + 8;

// Joins path, separator, prefix and extension (".m2v") into out (OUTPUT_NAME_BUFFER bytes). The
// separator is always inserted, also after a path that already ends with one; the file system
// takes the doubled separator as one.
void build_output_name(const char* path, const char* prefix, const char* extension, char* out);

}  // namespace quarrow
