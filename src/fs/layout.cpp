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

int read_fat(DiskHandle disk, uint8_t* table) {
    // A short read still counts as success; the entries it did not reach read as free (0)
    // rather than as whatever the buffer held before.
    memset(table, 0, FAT_BYTES);
    return read_sectors(disk, table, FAT_SECTOR, FAT_SECTORS, SECTOR_SIZE) > 0 ? 1 : 0;
}

uint16_t next_cluster(const uint8_t* table, uint16_t index) {
    if (index == NO_CLUSTER) return NO_CLUSTER;
    // Links come from the disk as they are; one at or beyond the table's 16384 entries would read
    // outside it.
    if (index >= FAT_ENTRIES) return NO_CLUSTER;
    uint32_t v = fat_entry(table, index);
    if (v == FAT_LAST_ALLOCATED || v < FAT_ALLOCATED) return NO_CLUSTER;
    return static_cast<uint16_t>(fat_entry_link(v));
}

int read_cluster(DiskHandle disk, uint16_t cluster, uint8_t* buffer) {
    int64_t first = cluster_data_sector(cluster);
    if (first > INT32_MAX) return 0;
    return read_sectors(disk, buffer, static_cast<int>(first), CLUSTER_DATA_SECTORS, SECTOR_SIZE) ==
                   CLUSTER_DATA_SECTORS
               ? 1
               : 0;
}

namespace {

void fold_entries(const uint8_t* table, uint16_t last_cluster, uint32_t* even, uint32_t* odd) {
    uint32_t limit = last_cluster;
    if (limit > FAT_ENTRIES - 3) limit = FAT_ENTRIES - 3;  // keep the checksum words inside
    for (uint32_t i = 0; i <= limit; ++i) {
        uint32_t v = read_be16(table + 2 * i);
        if (i & 1)
            *odd ^= v;
        else
            *even ^= v;
    }
}

}  // namespace

void fat_checksum_residue(const uint8_t* table, uint8_t out[4], uint16_t last_cluster) {
    uint32_t even = 0, odd = 0;
    fold_entries(table, last_cluster, &even, &odd);
    uint32_t last = last_cluster > FAT_ENTRIES - 3 ? FAT_ENTRIES - 3 : last_cluster;
    // The stored checksum's first half always pairs with the even entries, its second with the
    // odd ones, whatever the parity of the cluster count.
    even ^= read_be16(table + 2 * (last + 1));
    odd ^= read_be16(table + 2 * (last + 2));
    write_be16(out, even);
    write_be16(out + 2, odd);
}

void fat_checksum_fold(const uint8_t* table, const uint8_t start[4], uint8_t out[4],
                       uint16_t last_cluster) {
    uint32_t even = read_be16(start), odd = read_be16(start + 2);
    fold_entries(table, last_cluster, &even, &odd);
    write_be16(out, even);
    write_be16(out + 2, odd);
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

namespace {

struct FoldTable {
    char map[256];
    constexpr FoldTable() : map() {
        for (int c = 0; c < 256; ++c)
            map[c] = static_cast<char>(c);
        for (int c = 1; c < 32; ++c)
            map[c] = ' ';
        for (int c = 128; c < 192; ++c)
            map[c] = ' ';
        for (int c = 192; c <= 197; ++c)
            map[c] = 'A';
        map[199] = 'C';
        for (int c = 200; c <= 203; ++c)
            map[c] = 'E';
        for (int c = 204; c <= 207; ++c)
            map[c] = 'I';
        map[208] = 'D';
        map[209] = 'N';
        for (int c = 210; c <= 214; ++c)
            map[c] = 'O';
        map[216] = 'O';
        map[215] = 'X';
        for (int c = 217; c <= 220; ++c)
            map[c] = 'U';
        map[221] = 'Y';
        map[222] = 'a';
        map[254] = 'a';
        map[223] = 'b';
        for (int c = 224; c <= 229; ++c)
            map[c] = 'a';
        map[231] = 'c';
        for (int c = 232; c <= 235; ++c)
            map[c] = 'e';
        for (int c = 236; c <= 239; ++c)
            map[c] = 'i';
        map[240] = 'o';
        for (int c = 242; c <= 246; ++c)
            map[c] = 'o';
        map[248] = 'o';
        map[241] = 'n';
        for (int c = 249; c <= 252; ++c)
            map[c] = 'u';
        map[253] = 'y';
        map[255] = 'y';
        // 198 (AE), 230 (ae) and 247 (division sign) stay as they are.
    }
};

constexpr FoldTable kFold;

}  // namespace

void fold_to_ascii(char* text) {
    if (!text) return;
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p; ++p)
        *p = static_cast<unsigned char>(kFold.map[*p]);
}

void latin1_to_utf8(const char* latin1, char* out, size_t out_size) {
    if (!out || out_size == 0) return;
    size_t o = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(latin1); p && *p; ++p) {
        if (*p < 0x80) {
            if (o + 1 >= out_size) break;
            out[o++] = static_cast<char>(*p);
        } else {
            if (o + 2 >= out_size) break;
            out[o++] = static_cast<char>(0xC0 | (*p >> 6));
            out[o++] = static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    out[o] = 0;
}

bool utf8_to_latin1(const char* utf8, char* out, size_t out_size) {
    if (!utf8 || !out || out_size == 0) return false;
    size_t o = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8);
    while (*p) {
        unsigned code;
        if (*p < 0x80) {
            code = *p++;
        } else if ((*p & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80) {
            code = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
            if (code < 0x80) return false;  // overlong form
            p += 2;
        } else {
            return false;  // beyond Latin-1, or not UTF-8
        }
        if (code > 0xFF || o + 1 >= out_size) return false;
        out[o++] = static_cast<char>(code);
    }
    out[o] = 0;
    return true;
}

}  // namespace quarrow
