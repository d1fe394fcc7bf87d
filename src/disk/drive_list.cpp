// The shared half of the drive list: the ATA text rules, the GB figure, the drive line, the
// IDENTIFY request, and the walk over the drive numbers.
#include "disk/drive_list.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "fs/layout.h"

namespace quarrow {

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

uint32_t drive_size_gb(uint64_t size_mb) {
    uint64_t s1 = size_mb * 1024 / 1000;
    uint64_t s2 = s1 * 1024 / 1000;
    return static_cast<uint32_t>(s2 / 1000);
}

void format_drive_line(char* out, size_t size, int drive, const char* model, uint32_t size_gb,
                       bool mediamaster) {
    const char* mark = mediamaster ? MEDIAMASTER_MARK : drive == 0 ? SYSTEM_MARK : "";
    snprintf(out, size, "Drive %d:\t\t%s\t(%u GB)%s", drive, model, size_gb, mark);
}

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

bool describe_physical_drive(int drive, DriveEntry* entry) {
    DiskHandle disk = open_physical_drive(drive, false);
    if (!disk) return false;
    *entry = DriveEntry{};
    entry->number = drive;
    entry->size_mb = drive_size_mb(disk);
    entry->size_gb = drive_size_gb(entry->size_mb);
    drive_model_name(entry->model, sizeof entry->model, drive);
    entry->mediamaster = is_mediamaster_disk(disk) != 0;
    entry->system = drive == 0;
    format_drive_line(entry->line, sizeof entry->line, drive, entry->model, entry->size_gb,
                      entry->mediamaster);
    disk = close_disk(disk);
    return true;
}

void list_physical_drives(const DriveSink* sink) {
    // The first number that does not open ends the list.
    for (int n = 0; n < INT_MAX; ++n) {
        DriveEntry entry;
        if (!describe_physical_drive(n, &entry)) break;
        if (sink && sink->drive) sink->drive(sink->context, &entry);
    }
}

}  // namespace quarrow
