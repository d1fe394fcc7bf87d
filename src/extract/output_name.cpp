// The portable half of the output names: the check made before anything is created and the
// names one request writes.
#include "extract/output_name.h"

#include <cstdio>
#include <cstring>

#include "disk/sector_access.h"
#include "extract/extraction_engine.h"

namespace quarrow {

int check_output_names(const char* path, const char* prefix, char* message, NameCheck* check) {
    if (!path) path = "";
    if (!prefix) prefix = "";
    NameCheck ignored;
    if (!check) check = &ignored;
    *check = NameCheck();
    // 5: the separator and the four-character extension.
    check->bytes = strlen(path) + strlen(prefix) + 5;
    if (check->bytes > max_output_name_bytes()) {
        check->refusal = NameRefusal::too_long;
        put_message(message, "Invalid Path or Prefix (too long).");
        return 0;
    }
    for (const char* p = path; *p; ++p)
        if (!path_char_allowed(static_cast<unsigned char>(*p))) {
            check->refusal = NameRefusal::path_character;
            check->character = static_cast<unsigned char>(*p);
            put_message(message, "Path contains invalid characters.");
            return 0;
        }
    for (const char* p = prefix; *p; ++p)
        if (!prefix_char_allowed(static_cast<unsigned char>(*p))) {
            check->refusal = NameRefusal::prefix_character;
            check->character = static_cast<unsigned char>(*p);
            put_message(message, "File Prefix contains invalid characters.");
            return 0;
        }
    return 1;
}

std::string output_name(const char* path, const char* prefix, const char* extension) {
    char name[OUTPUT_NAME_BUFFER];
    build_output_name(path, prefix, extension, name);
    return name;
}

std::string program_stream_part_name(const char* path, const char* prefix, int part) {
    char suffix[32];
    if (part == 0)
        snprintf(suffix, sizeof suffix, ".mpg");
    else
        snprintf(suffix, sizeof suffix, "-%03d.mpg", part);
    return output_name(path, prefix, suffix);
}

std::vector<std::string> planned_output_names(const ExtractionRequest& r) {
    const char* path = r.path ? r.path : "";
    const char* prefix = r.prefix ? r.prefix : "";
    std::vector<std::string> names;
    if (r.mux && r.split_bytes > 0) {
        for (int part = 1; part <= PLANNED_SPLIT_PARTS; ++part)
            names.push_back(program_stream_part_name(path, prefix, part));
    } else if (r.mux && r.matroska) {
        names.push_back(output_name(path, prefix, ".mkv"));
    } else if (r.mux) {
        names.push_back(program_stream_part_name(path, prefix, 0));
    } else {
        if (!r.no_video) names.push_back(output_name(path, prefix, ".m2v"));
        names.push_back(
            output_name(path, prefix, r.audio_type == AUDIO_TYPE_MPG ? ".mpg" : ".mp2"));
    }
    return names;
}

}  // namespace quarrow
