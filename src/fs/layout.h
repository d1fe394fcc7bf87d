// The MediaMaster disk's on-disk format: where each structure lives, the big-endian field
// helpers, and the small primitives every file-system operation shares (cluster count, the
// signature, stream block headers). The allocation table is fs/allocation_table.h, the Table of
// Contents fs/table_of_contents.h, the disk's Latin-1 texts fs/text_folding.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/sector_access.h"

namespace quarrow {

// Sectors 0-1: boot area; only the cluster count at byte 530 is used.
constexpr int BOOT_AREA = 0;
constexpr int BOOT_AREA_SECTORS = 2;
constexpr int BOOT_CLUSTER_COUNT_OFFSET = 530;

constexpr int FAT_SECTOR = 2;
constexpr int FAT_SECTORS = 64;
constexpr int FAT_BYTES = FAT_SECTORS * SECTOR_SIZE;  // 32768: 16384 16-bit entries
constexpr int FAT_ENTRIES = FAT_BYTES / 2;
constexpr int FAT_COPY_SECTOR = 66;
constexpr int TOC_SECTOR = 130;
constexpr int TOC_SECTORS = 4;
constexpr int TOC_BYTES = TOC_SECTORS * SECTOR_SIZE;
constexpr int RECORD_SECTORS = 4;
constexpr int RECORD_BYTES = RECORD_SECTORS * SECTOR_SIZE;
constexpr int CLUSTER_SECTORS = 16384;
constexpr int CLUSTER_HEADER_SECTORS = 2;
constexpr int CLUSTER_DATA_SECTORS = 16382;
constexpr int CLUSTER_DATA_BYTES = CLUSTER_DATA_SECTORS * SECTOR_SIZE;
// A whole cluster, header included, as a backup file holds it.
constexpr uint32_t CLUSTER_BYTES = uint32_t(CLUSTER_SECTORS) * SECTOR_SIZE;
constexpr int MAX_RECORDINGS = 448;
// The table holds one entry per cluster plus the 4-byte checksum.
constexpr int MAX_CLUSTER_COUNT = 16382;

// FAT entry values.
constexpr uint16_t FAT_ALLOCATED = 0x8000;
constexpr uint16_t FAT_CHAIN_END = 0x3FFF;
constexpr uint16_t FAT_LAST_ALLOCATED = 0xBFFF;
constexpr uint16_t NO_CLUSTER = 0xFFFF;

// Table of Contents fields.
constexpr int TOC_SIGNATURE_OFFSET = 4;
constexpr int TOC_NOTIFICATION_OFFSET = 12;
constexpr int TOC_NOTIFICATION_END = 40;  // the notification text ends before the count
constexpr int TOC_COUNT_OFFSET = 40;
constexpr int TOC_SLOTS_OFFSET = 44;
constexpr int TOC_SLOT_BYTES = 4;

// Recording Information record fields.
constexpr int REC_IN_USE = 0;
constexpr int REC_HEADER_6 = 6;
constexpr int REC_HEADER_10 = 10;
constexpr int REC_HEADER_36 = 36;
constexpr int REC_KEY = 40;
constexpr int REC_LENGTH = 44;
constexpr int REC_FIRST_CLUSTER = 48;
constexpr int REC_START_OFFSET = 52;
constexpr int REC_HEADER_56 = 56;
constexpr int REC_START_TIME = 60;
constexpr int REC_DURATION = 64;
constexpr int REC_BYTE_79 = 79;
constexpr int REC_ATTRIBUTES = 82;  // 16-bit attribute word
constexpr int REC_FLAGS = 83;       // its low byte
constexpr int REC_DEFAULT_TITLE = 84;
constexpr int REC_USER_TITLE = 1884;
constexpr int REC_USER_TITLE_BYTES = 48;
constexpr int REC_CHANNEL = 1932;
constexpr int REC_CHANNEL_BYTES = 32;
constexpr int REC_TRAILER = 2028;

// Attribute flags (record byte 83, slot byte 1).
constexpr uint8_t FLAG_PERMANENT = 0x01;
constexpr uint8_t FLAG_PAUSE = 0x02;
constexpr uint8_t FLAG_LOCKED = 0x08;

// Stream block header fields.
constexpr uint8_t STREAM_BLOCK_VIDEO = 0x01;
constexpr uint8_t STREAM_BLOCK_AUDIO = 0x02;
constexpr int BLOCK_PAYLOAD_SECTORS = 10;
constexpr int BLOCK_PAYLOAD_BYTES = 12;

// One 2048-byte Recording Information record as stored on the disk.
struct RecordingInfoRecord {
    uint8_t bytes[RECORD_BYTES];
};

inline uint32_t read_be16(const uint8_t* p) {
    return (uint32_t(p[0]) << 8) | p[1];
}
inline uint32_t read_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void write_be16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline uint32_t write_be32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
    return v;
}

// First sector of cluster c (its header) and of its data area.
inline int64_t cluster_first_sector(uint32_t cluster) {
    return (int64_t(cluster) + 1) * CLUSTER_SECTORS;
}
inline int64_t cluster_data_sector(uint32_t cluster) {
    return cluster_first_sector(cluster) + CLUSTER_HEADER_SECTORS;
}

// last_cluster (cluster count - 1); 0 when the boot area cannot be read or the count is 0, 1 or
// above MAX_CLUSTER_COUNT. Callers report 0 as "Failed to retrieve information from Boot Sector.".
uint16_t read_last_cluster_index(DiskHandle disk);

// A read counts only when every sector arrived: a structure that is changed and written back
// must never carry bytes that were not read.
inline bool read_whole(DiskHandle disk, void* buffer, int first_sector, int count) {
    return read_sectors(disk, buffer, first_sector, count, SECTOR_SIZE) == count;
}
inline bool write_whole(DiskHandle disk, const void* buffer, int first_sector, int count) {
    return write_sectors(disk, buffer, first_sector, count, SECTOR_SIZE) == count;
}

// Reads the 16382 data sectors of a cluster; 1 only on the full count.
int read_cluster(DiskHandle disk, uint16_t cluster, uint8_t* buffer);

// 1 when sector 130 reads and carries the "Video" signature.
int is_mediamaster_disk(DiskHandle disk);

int match_video_block(const uint8_t* sector, uint32_t* payload_bytes, uint16_t* payload_sectors);
int match_audio_block(const uint8_t* sector, uint32_t* payload_bytes, uint16_t* payload_sectors);

}  // namespace quarrow
