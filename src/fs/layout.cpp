#include "fs/layout.h"

#include <cstring>

namespace quarrow {

uint16_t read_last_cluster_index(DiskHandle disk) {
    uint8_t boot[BOOT_AREA_SECTORS * SECTOR_SIZE];
    if (read_sectors(disk, boot, BOOT_AREA, BOOT_AREA_SECTORS, SECTOR_SIZE) != BOOT_AREA_SECTORS)
        return 0;
    uint32_t count = read_be16(boot + BOOT_CLUSTER_COUNT_OFFSET);
    // A count of 0 would make the last index 65535 and one above 16382 leaves no room for the
    // checksum in the 64-sector table: both are treated as an unreadable boot area.
    if (count == 0 || count > MAX_CLUSTER_COUNT) return 0;
    return static_cast<uint16_t>(count - 1);
}

int read_cluster(DiskHandle disk, uint16_t cluster, uint8_t* buffer) {
    int64_t first = cluster_data_sector(cluster);
    if (first > INT32_MAX) return 0;
    return read_sectors(disk, buffer, static_cast<int>(first), CLUSTER_DATA_SECTORS, SECTOR_SIZE) ==
                   CLUSTER_DATA_SECTORS
               ? 1
               : 0;
}

int is_mediamaster_disk(DiskHandle disk) {
    if (!disk) return 0;
    uint8_t sector[SECTOR_SIZE];
    if (read_sectors(disk, sector, TOC_SECTOR, 1, SECTOR_SIZE) != 1) return 0;
    return memcmp(sector + TOC_SIGNATURE_OFFSET, "Video", 6) == 0 ? 1 : 0;
}

namespace {

int match_block(const uint8_t* sector, uint8_t type, uint32_t* payload_bytes,
                uint16_t* payload_sectors) {
    static const uint8_t magic[7] = {0x74, 0, 0, 0, 0, 0, 0};
    if (memcmp(sector, magic, 7) != 0 || sector[7] != type) return 0;
    *payload_sectors = static_cast<uint16_t>(read_be16(sector + BLOCK_PAYLOAD_SECTORS));
    *payload_bytes = read_be32(sector + BLOCK_PAYLOAD_BYTES);
    return 1;
}

}  // namespace

int match_video_block(const uint8_t* sector, uint32_t* payload_bytes, uint16_t* payload_sectors) {
    return match_block(sector, STREAM_BLOCK_VIDEO, payload_bytes, payload_sectors);
}

int match_audio_block(const uint8_t* sector, uint32_t* payload_bytes, uint16_t* payload_sectors) {
    return match_block(sector, STREAM_BLOCK_AUDIO, payload_bytes, payload_sectors);
}

}  // namespace quarrow
