// The program's four settings, values under HKEY_LOCAL_MACHINE "SOFTWARE\Quarrow\":
//   "DefaultPath"    REG_SZ stored as a 260-byte block, default "C:\" (the panel's destination)
//   "AudioType"      REG_DWORD, default AUDIO_TYPE_MP2 (headers removed, ".mp2"); AUDIO_TYPE_MPG
//                    for the audio PES packets (".mpg")
//   "AllowDiskWrite" REG_DWORD, default 0 (1 checks "Allow Writing to MediaMaster Disk")
//   "AllowDiskErase" REG_DWORD, default 0 (1 checks "Allow Disk Erase Feature"; never written)
// Beside them, the Extras menu's toggles, REG_DWORD, default 0 (1 checks the item):
//   "OnePlayableFile" "Matroska" "SplitAt4GB" "WriteMetadata" "SkipBadSectors"
// Each operation opens the key for its one access and closes it again. Failures are silent:
// reads fall back to the defaults, writes report only through their results.
#pragma once

#include <windows.h>

namespace quarrow::ui {

constexpr int PATH_SIZE = 260;

extern const char* const SETTING_DEFAULT_PATH;
extern const char* const SETTING_AUDIO_TYPE;
extern const char* const SETTING_ALLOW_DISK_WRITE;
extern const char* const SETTING_ALLOW_DISK_ERASE;
extern const char* const SETTING_ONE_PLAYABLE_FILE;
extern const char* const SETTING_MATROSKA;
extern const char* const SETTING_SPLIT_4GB;
extern const char* const SETTING_WRITE_METADATA;
extern const char* const SETTING_SKIP_BAD;

// 1 when the value was read, else 0 with "C:\" in the buffer. The text is always terminated,
// even when the stored block fills the buffer.
int read_default_path(char* buffer, DWORD buffer_size);
// Stores the text as a zero-padded block of buffer_size bytes (260).
int write_default_path(const char* text, DWORD buffer_size);
// 1 when read, else 0 with out = 0. Takes at most 4 bytes whatever the stored type.
int read_setting(DWORD* out, const char* name);
int write_setting(DWORD value, const char* name);

// The key under HKEY_LOCAL_MACHINE; tests point it at a key of their own so that no test touches
// the user's settings.
const char* settings_key();
void set_settings_key(const char* key);

}  // namespace quarrow::ui
