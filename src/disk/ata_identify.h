// The ATA IDENTIFY request that names a drive's model: the SMART request as the Windows disk
// driver takes it (SENDCMDINPARAMS), built as bytes so that it can be checked on any platform, and
// the rule that turns the identity's model field into text. drive_list_win32.cpp sends the
// request; drive_list_posix.cpp reads the same field from Linux's HDIO_GET_IDENTITY.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

// Model text: at most 40 characters and the terminating NUL.
constexpr size_t MODEL_TEXT_SIZE = 41;

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

// ATA text: swaps the two bytes of each of the 20 words of a 40-byte IDENTIFY model field (ATA
// keeps the first character of a word in its high byte), ends the text after 40 characters or
// at a NUL, and removes leading and trailing spaces. out must hold MODEL_TEXT_SIZE bytes.
void ata_text(const uint8_t* field, char* out);

}  // namespace quarrow
