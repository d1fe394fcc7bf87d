#include "disk/ata_identify.h"

#include <cstring>

namespace quarrow {

uint8_t identify_command(uint8_t ide_device_map, int drive) {
    // The map has one ATAPI bit for each of the four IDE positions (bits 4 to 7).
    if (drive < 0 || drive > 3) return ATA_IDENTIFY_DEVICE;
    return (ide_device_map >> (drive + 4)) & 1 ? ATA_IDENTIFY_PACKET_DEVICE : ATA_IDENTIFY_DEVICE;
}

void fill_identify_request(uint8_t* in, int drive, uint8_t command) {
    memset(in, 0, IDENTIFY_IN_SIZE);
    in[SENDCMD_BUFFER_SIZE] = 512 & 0xFF;
    in[SENDCMD_BUFFER_SIZE + 1] = 512 >> 8;
    in[SENDCMD_FEATURES] = 0;
    in[SENDCMD_SECTOR_COUNT] = 1;
    in[SENDCMD_SECTOR_NUMBER] = 1;
    in[SENDCMD_CYL_LOW] = 0;
    in[SENDCMD_CYL_HIGH] = 0;
    // Master or slave of its IDE channel: even drives are masters, odd ones slaves.
    in[SENDCMD_DRIVE_HEAD] = (drive & 1) ? 0xB0 : 0xA0;
    in[SENDCMD_COMMAND] = command;
    in[SENDCMD_DRIVE_NUMBER] = static_cast<uint8_t>(drive);
}

void ata_text(const uint8_t* field, char* out) {
    char swapped[MODEL_TEXT_SIZE];
    for (int i = 0; i < 40; i += 2) {
        swapped[i] = static_cast<char>(field[i + 1]);
        swapped[i + 1] = static_cast<char>(field[i]);
    }
    swapped[40] = 0;
    // A NUL inside the field ends the text there.
    size_t len = strlen(swapped);
    size_t start = 0;
    while (start < len && swapped[start] == ' ')
        ++start;
    while (len > start && swapped[len - 1] == ' ')
        --len;
    memcpy(out, swapped + start, len - start);
    out[len - start] = 0;
}

}  // namespace quarrow
