// Physical drives: the list the erase dialog and `quarrow drives` show (number, model name as
// the drive reports it, size in GB, MediaMaster or system mark), and the pieces of the ATA
// IDENTIFY request that names the model.
//
// Platform halves: drive_list_win32.cpp (SMART IDENTIFY through the disk driver) and
// drive_list_posix.cpp (HDIO_GET_IDENTITY, then sysfs). Everything else here is shared and pure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/sector_access.h"

namespace quarrow {

// Model text: at most 40 characters and the terminating NUL.
constexpr size_t MODEL_TEXT_SIZE = 41;
// "Drive N:\t\t" + model + "\t(N GB)" + the longest mark, with room to spare.
constexpr size_t DRIVE_LINE_SIZE = 160;

// The marks at the end of a drive line.
constexpr const char* MEDIAMASTER_MARK = "\t---- MediaMaster Disk";
constexpr const char* SYSTEM_MARK = "\t---- Protected (System)";

// One listed drive, as the sink receives it.
struct DriveEntry {
    int number;
    char line[DRIVE_LINE_SIZE];   // the drive line with its tabs and mark
    char model[MODEL_TEXT_SIZE];  // model text or "[unknown]" (8-bit, as the drive gives it)
    uint64_t size_mb;
    uint32_t size_gb;
    bool mediamaster;  // the drive holds a MediaMaster file system
    bool system;       // drive 0, which is treated as the system drive
};

// Receives the drives in order, 0 first.
struct DriveSink {
    void* context;
    void (*drive)(void* context, const DriveEntry* entry);
};

// Opens the drive read-only and describes it; false when it does not open.
bool describe_physical_drive(int drive, DriveEntry* entry);

// Opens drive 0, 1, 2, ... read-only until one does not open, and hands each to the sink.
void list_physical_drives(const DriveSink* sink);

// The model text of a drive into buffer (MODEL_TEXT_SIZE bytes is enough), or "[unknown]"
// whenever the drive does not say.
void drive_model_name(char* buffer, size_t size, int drive);

// ATA text: swaps the two bytes of each of the 20 words of a 40-byte IDENTIFY model field (ATA
// keeps the first character of a word in its high byte), ends the text after 40 characters or
// at a NUL, and removes leading and trailing spaces. out must hold MODEL_TEXT_SIZE bytes.
void ata_text(const uint8_t* field, char* out);

// Decimal gigabytes of a drive of size_mb MiB: three truncating steps (× 1024 / 1000 twice,
// then / 1000), in 64-bit arithmetic so that large drives do not wrap.
uint32_t drive_size_gb(uint64_t size_mb);

// Builds the drive line: "Drive N:\t\t" model "\t(" GB " GB)" and the mark (MediaMaster first;
// otherwise the system mark for drive 0; otherwise none).
void format_drive_line(char* out, size_t size, int drive, const char* model, uint32_t size_gb,
                       bool mediamaster);

// The SMART IDENTIFY request, as the Windows disk driver takes it (SENDCMDINPARAMS), built as
// bytes so that it can be checked on any platform.
constexpr uint32_t SMART_GET_VERSION_CODE = 0x74080;
constexpr uint32_t SMART_RCV_DRIVE_DATA_CODE = 0x7C088;
constexpr size_t GETVERSIONINPARAMS_SIZE = 24;
constexpr size_t IDE_DEVICE_MAP_OFFSET = 3;   // bIDEDeviceMap in GETVERSIONINPARAMS
constexpr size_t IDENTIFY_IN_SIZE = 35;       // the input length the driver is given
constexpr size_t IDENTIFY_OUT_SIZE = 531;     // SENDCMDOUTPARAMS with 512 bytes of data
constexpr size_t IDENTIFY_DATA_OFFSET = 16;   // bBuffer in SENDCMDOUTPARAMS
constexpr size_t IDENTIFY_MODEL_OFFSET = 54;  // words 27 to 46 of the IDENTIFY data
constexpr uint8_t ATA_IDENTIFY_DEVICE = 0xEC;
constexpr uint8_t ATA_IDENTIFY_PACKET_DEVICE = 0xA1;

// SENDCMDINPARAMS byte offsets.
constexpr size_t SENDCMD_BUFFER_SIZE = 0;  // cBufferSize (DWORD, little-endian)
constexpr size_t SENDCMD_FEATURES = 4;     // irDriveRegs.bFeaturesReg
constexpr size_t SENDCMD_SECTOR_COUNT = 5;
constexpr size_t SENDCMD_SECTOR_NUMBER = 6;
constexpr size_t SENDCMD_CYL_LOW = 7;
constexpr size_t SENDCMD_CYL_HIGH = 8;
constexpr size_t SENDCMD_DRIVE_HEAD = 9;
constexpr size_t SENDCMD_COMMAND = 10;
constexpr size_t SENDCMD_DRIVE_NUMBER = 12;  // bDriveNumber

// 0xA1 when the map marks the drive as ATAPI (bit drive + 4), else 0xEC. Drives past the four
// the map can describe get 0xEC.
uint8_t identify_command(uint8_t ide_device_map, int drive);

// Zero-fills in[IDENTIFY_IN_SIZE] and sets the fields of the request: 512 bytes wanted, one
// sector, drive/head 0xA0 for an even drive and 0xB0 for an odd one, the command, the drive.
void fill_identify_request(uint8_t* in, int drive, uint8_t command);

#if defined(_WIN32)
// Fills in (IDENTIFY_IN_SIZE bytes) and sends SMART_RCV_DRIVE_DATA on a drive handle (a Win32
// HANDLE) into out (IDENTIFY_OUT_SIZE bytes); gives DeviceIoControl's result.
int ata_identify(void* drive_handle, uint8_t* in, uint8_t* out, uint8_t command, int drive);
#endif

}  // namespace quarrow
