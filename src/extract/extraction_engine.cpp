#include "extract/extraction_engine.h"

#include <cstring>

#include "extract/output_name.h"

namespace quarrow {

bool prefix_char_allowed(unsigned char c) {
    return c != 0xA6 && !strchr("\\/:*?<>|\"", c);
}

int check_output_names(const char* path, const char* prefix, char* message) {
    if (!path) path = "";
    if (!prefix) prefix = "";
    // 5: the separator and the four-character extension.
    if (strlen(path) + strlen(prefix) + 5 > static_cast<size_t>(MAX_OUTPUT_NAME)) {
        put_message(message, "Invalid Path or Prefix (too long).");
        return 0;
    }
    for (const char* p = path; *p; ++p)
        if (!path_char_allowed(static_cast<unsigned char>(*p))) {
            put_message(message, "Path contains invalid characters.");
            return 0;
        }
    for (const char* p = prefix; *p; ++p)
        if (!prefix_char_allowed(static_cast<unsigned char>(*p))) {
            put_message(message, "File Prefix contains invalid characters.");
            return 0;
        }
    return 1;
}

int walk_recording(DiskHandle, uint16_t, int32_t, int32_t, int, bool, int, bool, DiskHandle,
                   DiskHandle, char* message, const OperationHooks*) {
    put_message(message, "Extraction is not built yet.");
    return 0;
}

int extract_recording(DiskHandle disk, uint16_t first_cluster, int32_t start, int32_t length,
                      int audio_type, bool auto_video_sync, int sync_tuning, bool no_video,
                      const char* path, const char* prefix, char* message,
                      const OperationHooks* hooks) {
    if (!check_output_names(path, prefix, message)) return 0;
    return walk_recording(disk, first_cluster, start, length, audio_type, auto_video_sync,
                          sync_tuning, no_video, nullptr, nullptr, message, hooks);
}

}  // namespace quarrow
