// The disk's texts are Latin-1: folding them to plain ASCII for the dialogs, and turning them
// into UTF-8 and back wherever they meet a POSIX file name, terminal or JSON.
#pragma once

#include <cstddef>

namespace quarrow {

// Replaces accented Latin-1 letters with plain ones and control and symbol codes with spaces,
// in place; the length stays.
void fold_to_ascii(char* text);

// Latin-1 text to UTF-8, for file names, the terminal and JSON; the result is NUL-terminated and
// cut at a whole character to fit out_size.
void latin1_to_utf8(const char* latin1, char* out, size_t out_size);
// UTF-8 text to Latin-1; false when a character has no Latin-1 code or the input is not UTF-8,
// or when it does not fit out_size.
bool utf8_to_latin1(const char* utf8, char* out, size_t out_size);

}  // namespace quarrow
