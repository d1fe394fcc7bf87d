// The names of an extraction's output files, in one place for the engine and both front ends:
// which characters a folder and a prefix may hold, how long a whole name may be, the check made
// before anything is created, how folder, separator, prefix and extension are joined, and the
// list of files one request will write.
//
// Names are in the encoding the platform's file calls take: on Windows the ANSI calls take
// Latin-1 text and names of at most 260 bytes; on POSIX names are UTF-8 bytes, as the system has
// them, up to the system's own limit. The platform halves live in output_name_*.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quarrow {

struct ExtractionRequest;  // extract/extraction_engine.h

// The longest output name on Windows, in bytes: path + separator + prefix + 4-byte extension
// (MAX_PATH of the ANSI calls).
constexpr int MAX_OUTPUT_NAME = 260;

// Room for the longest name on either platform (POSIX's PATH_MAX of 4096 and a little).
constexpr size_t OUTPUT_NAME_BUFFER = 4096 + 8;

// The longest output name, in bytes, that check_output_names lets through: MAX_OUTPUT_NAME on
// Windows, PATH_MAX less its terminating zero on POSIX.
size_t max_output_name_bytes();

// The character rules. A prefix may not hold \ / : * ? < > | ", nor on Windows the byte 0xA6
// (broken bar in Latin-1 and the ANSI code page; on POSIX it is part of a UTF-8 character). A
// path may not hold * ? < > | ", nor on Windows / and 0xA6; on POSIX '/' is the separator.
bool prefix_char_allowed(unsigned char c);
bool path_char_allowed(unsigned char c);

// Which check refused a folder and prefix, and on what: the first refused character, or the
// whole name's length in bytes against the limit.
enum class NameRefusal { none, too_long, path_character, prefix_character };
struct NameCheck {
    NameRefusal refusal = NameRefusal::none;
    unsigned char character = 0;  // the first refused character
    size_t bytes = 0;             // the longest name: path, separator, prefix and extension
};

// The checks made before anything is created, in their order: combined length, path
// characters, prefix characters. 1 when the names may be used, else 0 with the message
// ("File Prefix contains invalid characters."); check (may be null) says which and on what.
int check_output_names(const char* path, const char* prefix, char* message,
                       NameCheck* check = nullptr);

// Joins path, separator, prefix and extension (".m2v") into out (OUTPUT_NAME_BUFFER bytes). The
// separator is always inserted, also after a path that already ends with one; the file system
// takes the doubled separator as one.
void build_output_name(const char* path, const char* prefix, const char* extension, char* out);
std::string output_name(const char* path, const char* prefix, const char* extension);

// Part n of a split program stream ("-001.mpg"), or the only one for part 0 (".mpg").
std::string program_stream_part_name(const char* path, const char* prefix, int part);

// A split program stream's parts are made as the walk goes; a disk among the first this many
// would be one of them.
constexpr int PLANNED_SPLIT_PARTS = 999;

// The files the request's extraction writes, in order: the video (unless left out) and the
// audio; with mux the one program stream, or when split its parts from 001 on.
std::vector<std::string> planned_output_names(const ExtractionRequest& request);

// Whether Windows takes a file named prefix plus any extension for a device: CON, PRN, AUX, NUL,
// COM1 to COM9 and LPT1 to LPT9 in any case, also with an extension or trailing spaces ("con.m2v",
// "NUL "). Portable so that it is tested everywhere; the front ends ask it on Windows only.
bool names_reserved_device(const char* prefix);

// Disk text (folded to ASCII or not) as a file name of this platform: UTF-8 on POSIX, the
// Latin-1 bytes for the ANSI calls on Windows.
std::string disk_text_file_name(const std::string& latin1);
// A prefix made from a title, made safe for the platform's file calls: on Windows a device name
// (CON, NUL, COM1, ...) gets "_" appended; elsewhere it stays.
std::string safe_title_prefix(const std::string& prefix);

}  // namespace quarrow
