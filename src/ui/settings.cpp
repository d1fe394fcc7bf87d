#include "ui/settings.h"

#include <cstring>

namespace quarrow::ui {

const char* const SETTING_DEFAULT_PATH = "DefaultPath";
const char* const SETTING_AUDIO_TYPE = "AudioType";
const char* const SETTING_ALLOW_DISK_WRITE = "AllowDiskWrite";
const char* const SETTING_ALLOW_DISK_ERASE = "AllowDiskErase";
const char* const SETTING_ONE_PLAYABLE_FILE = "OnePlayableFile";
const char* const SETTING_MATROSKA = "Matroska";
const char* const SETTING_SPLIT_4GB = "SplitAt4GB";
const char* const SETTING_WRITE_METADATA = "WriteMetadata";
const char* const SETTING_SKIP_BAD = "SkipBadSectors";

namespace {

const char* key_path = "SOFTWARE\\Quarrow\\";

bool open_for_reading(HKEY* key) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, key) == ERROR_SUCCESS;
}

bool open_for_writing(HKEY* key) {
    DWORD disposition = 0;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_WRITE, nullptr, key, &disposition) == ERROR_SUCCESS;
}

void set_default_path(char* buffer, DWORD buffer_size) {
    if (buffer_size == 0) return;
    strncpy(buffer, "C:\\", buffer_size - 1);
    buffer[buffer_size - 1] = 0;
}

}  // namespace

const char* settings_key() {
    return key_path;
}

void set_settings_key(const char* key) {
    key_path = key;
}

int read_default_path(char* buffer, DWORD buffer_size) {
    if (!buffer || buffer_size == 0) return 0;
    HKEY key;
    if (!open_for_reading(&key)) {
        set_default_path(buffer, buffer_size);
        return 0;
    }
    DWORD size = buffer_size;
    LONG result = RegQueryValueExA(key, SETTING_DEFAULT_PATH, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        set_default_path(buffer, buffer_size);
        return 0;
    }
    // A value written by something else may fill the buffer without a terminating zero.
    buffer[size < buffer_size ? size : buffer_size - 1] = 0;
    return 1;
}

int write_default_path(const char* text, DWORD buffer_size) {
    if (!text || buffer_size == 0) return 0;
    // The value is the whole block: the text, its zero and zero padding.
    char block[PATH_SIZE] = {};
    DWORD size = buffer_size < PATH_SIZE ? buffer_size : PATH_SIZE;
    strncpy(block, text, size - 1);
    HKEY key;
    if (!open_for_writing(&key)) return 0;
    LONG result = RegSetValueExA(key, SETTING_DEFAULT_PATH, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(block), size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 1 : 0;
}

int read_setting(DWORD* out, const char* name) {
    *out = 0;
    HKEY key;
    if (!open_for_reading(&key)) return 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG result =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return 0;
    *out = value;
    return 1;
}

int write_setting(DWORD value, const char* name) {
    HKEY key;
    if (!open_for_writing(&key)) return 0;
    LONG result = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof value);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace quarrow::ui
