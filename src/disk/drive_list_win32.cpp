// Win32 half of the drive list: the drives are "\\.\PhysicalDriveN", and the model name comes
// through the disk driver's SMART interface (SMART_GET_VERSION for the IDE device map, then
// SMART_RCV_DRIVE_DATA with ATA IDENTIFY).
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "disk/drive_list.h"

namespace quarrow {

const char DRIVE_LIST_SEPARATOR = ';';

// The request is built as bytes; these are the driver's own structures it must match.
static_assert(sizeof(GETVERSIONINPARAMS) == GETVERSIONINPARAMS_SIZE, "GETVERSIONINPARAMS");
static_assert(offsetof(GETVERSIONINPARAMS, bIDEDeviceMap) == IDE_DEVICE_MAP_OFFSET, "map");
static_assert(offsetof(SENDCMDINPARAMS, cBufferSize) == SENDCMD_BUFFER_SIZE, "cBufferSize");
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) == SENDCMD_FEATURES, "irDriveRegs");
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == SENDCMD_DRIVE_NUMBER, "bDriveNumber");
static_assert(offsetof(IDEREGS, bDriveHeadReg) == SENDCMD_DRIVE_HEAD - SENDCMD_FEATURES, "head");
static_assert(offsetof(IDEREGS, bCommandReg) == SENDCMD_COMMAND - SENDCMD_FEATURES, "command");
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == IDENTIFY_DATA_OFFSET, "bBuffer");

namespace {

// Fills in (IDENTIFY_IN_SIZE bytes) and sends SMART_RCV_DRIVE_DATA on the drive's handle into out
// (IDENTIFY_OUT_SIZE bytes); gives DeviceIoControl's result.
bool ata_identify(HANDLE drive_handle, uint8_t* in, uint8_t* out, uint8_t command, int drive) {
    fill_identify_request(in, drive, command);
    DWORD got = 0;
    return DeviceIoControl(drive_handle, SMART_RCV_DRIVE_DATA, in, IDENTIFY_IN_SIZE, out,
                           IDENTIFY_OUT_SIZE, &got, nullptr) != 0;
}

}  // namespace

bool system_drive_path(int drive, char* out, size_t out_size) {
    return snprintf(out, out_size, "\\\\.\\PhysicalDrive%d", drive) < static_cast<int>(out_size);
}

void drive_model_name(char* buffer, size_t size, int drive) {
    if (!buffer || size == 0) return;
    snprintf(buffer, size, "%s", "[unknown]");
    // The drive table (QUARROW_DRIVES in tests) decides which device stands for the number.
    char path[MAX_PATH];
    if (!physical_drive_path(drive, path, sizeof path)) return;
    // The SMART requests need a handle opened for reading and writing; nothing is written.
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    uint8_t version[GETVERSIONINPARAMS_SIZE];
    memset(version, 0, sizeof version);
    DWORD got = 0;
    // Only the zero-filled output counts: a driver that refuses leaves the map at 0.
    DeviceIoControl(h, SMART_GET_VERSION, nullptr, 0, version, sizeof version, &got, nullptr);
    uint8_t map = version[IDE_DEVICE_MAP_OFFSET];
    if (map != 0) {
        uint8_t in[IDENTIFY_IN_SIZE];
        uint8_t out[IDENTIFY_OUT_SIZE];
        memset(out, 0, sizeof out);
        if (ata_identify(h, in, out, identify_command(map, drive), drive)) {
            char model[MODEL_TEXT_SIZE];
            ata_text(out + IDENTIFY_DATA_OFFSET + IDENTIFY_MODEL_OFFSET, model);
            snprintf(buffer, size, "%s", model);
        }
    }
    CloseHandle(h);
}

}  // namespace quarrow
