#include "support/disk_builder.h"

#include <algorithm>
#include <cstring>

#include "fs/layout.h"

namespace quarrow::test {
namespace {

bool write_at(DiskHandle out, int64_t sector, const uint8_t* data, int sectors) {
    return out->write_at(out, sector * SECTOR_SIZE, data, uint32_t(sectors) * SECTOR_SIZE) ==
           int64_t(sectors) * SECTOR_SIZE;
}

void put_text(uint8_t* field, const std::string& text, size_t width) {
    size_t n = std::min(text.size(), width - 1);
    memcpy(field, text.data(), n);
}

}  // namespace

uint32_t table_parity(const uint8_t* table, uint16_t last_cluster) {
    uint32_t even = 0, odd = 0;
    for (uint32_t i = 0; i <= last_cluster; ++i) {
        uint32_t v = read_be16(table + 2 * i);
        if (i & 1)
            odd ^= v;
        else
            even ^= v;
    }
    return (even << 16) | odd;
}

void append_stream_block(std::vector<uint8_t>& out, uint8_t type, const uint8_t* payload,
                         uint32_t bytes) {
    uint32_t sectors = (bytes + SECTOR_SIZE - 1) / SECTOR_SIZE;
    size_t at = out.size();
    out.resize(at + SECTOR_SIZE * (1 + size_t(sectors)), 0);
    uint8_t* h = out.data() + at;
    h[0] = 0x74;
    h[7] = type;
    write_be16(h + BLOCK_PAYLOAD_SECTORS, sectors);
    write_be32(h + BLOCK_PAYLOAD_BYTES, bytes);
    if (bytes) memcpy(h + SECTOR_SIZE, payload, bytes);
}

std::vector<uint8_t> audio_pes_packet(const uint8_t* audio, size_t bytes) {
    static const uint8_t header[9] = {0x00, 0x00, 0x01, 0xC0, 0, 0, 0x80, 0x00, 0x00};
    std::vector<uint8_t> pes(sizeof header + bytes);
    memcpy(pes.data(), header, sizeof header);
    size_t length = bytes + 3;  // the three header bytes after the length field
    pes[4] = uint8_t(length >> 8);
    pes[5] = uint8_t(length);
    if (bytes) memcpy(pes.data() + sizeof header, audio, bytes);
    return pes;
}

bool write_test_disk(TestDisk& disk, DiskHandle out) {
    const uint16_t last = uint16_t(disk.cluster_count - 1);
    std::vector<uint8_t> fat(FAT_BYTES, 0);
    std::vector<bool> used(disk.cluster_count ? disk.cluster_count : 1, false);
    for (auto& r : disk.recordings)
        for (uint16_t c : r.clusters)
            if (c < used.size()) used[c] = true;

    // Lay out the chains and lengths.
    for (auto& r : disk.recordings) {
        uint64_t sectors_needed = r.start_offset + (r.data.size() + SECTOR_SIZE - 1) / SECTOR_SIZE;
        if (r.clusters.empty()) {
            uint64_t need = std::max<uint64_t>(
                1, (sectors_needed + CLUSTER_DATA_SECTORS - 1) / CLUSTER_DATA_SECTORS);
            for (uint16_t c = 0; c < used.size() && r.clusters.size() < need; ++c)
                if (!used[c]) {
                    used[c] = true;
                    r.clusters.push_back(c);
                }
            if (r.clusters.size() < need) return false;
        }
        if (r.length == 0) r.length = uint32_t((r.data.size() + SECTOR_SIZE - 1) / SECTOR_SIZE);
    }

    // Allocation table: free entries hold c + 1, the last free one 0x3FFF; chains link with
    // bit 15 set and end in 0xBFFF.
    for (uint32_t c = 0; c <= last; ++c)
        write_be16(fat.data() + 2 * c, c + 1);
    write_be16(fat.data() + 2 * last, FAT_CHAIN_END);
    for (auto& r : disk.recordings)
        for (size_t i = 0; i < r.clusters.size(); ++i) {
            uint32_t v = i + 1 < r.clusters.size() ? (FAT_ALLOCATED | r.clusters[i + 1])
                                                   : FAT_LAST_ALLOCATED;
            if (r.clusters[i] < FAT_ENTRIES) write_be16(fat.data() + 2 * r.clusters[i], v);
        }
    if (disk.cluster_count >= 2 && disk.cluster_count <= MAX_CLUSTER_COUNT) {
        uint32_t s = table_parity(fat.data(), last) ^ disk.checksum_error;
        write_be32(fat.data() + 2 * disk.cluster_count, s);
    }

    std::vector<uint8_t> boot(2 * SECTOR_SIZE, 0);
    write_be16(boot.data() + BOOT_CLUSTER_COUNT_OFFSET, disk.cluster_count);
    if (!write_at(out, 0, boot.data(), 2)) return false;
    if (!write_at(out, FAT_SECTOR, fat.data(), FAT_SECTORS)) return false;
    if (!write_at(out, FAT_COPY_SECTOR, fat.data(), FAT_SECTORS)) return false;

    std::vector<uint8_t> toc(TOC_BYTES, 0);
    if (disk.signature) memcpy(toc.data() + TOC_SIGNATURE_OFFSET, "Video", 6);
    put_text(toc.data() + TOC_NOTIFICATION_OFFSET, disk.notification,
             TOC_NOTIFICATION_END - TOC_NOTIFICATION_OFFSET);
    int count = disk.count_override >= 0 ? disk.count_override : int(disk.recordings.size());
    write_be16(toc.data() + TOC_COUNT_OFFSET, uint32_t(count));

    uint16_t next_offset = 4;
    for (size_t j = 0; j < disk.recordings.size(); ++j) {
        TestRecording& r = disk.recordings[j];
        if (r.record_offset == 0) r.record_offset = next_offset;
        next_offset = uint16_t(std::max<int>(next_offset, r.record_offset) + RECORD_SECTORS);
        if (TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * (j + 1) <= TOC_BYTES) {
            uint8_t* slot = toc.data() + TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * j;
            slot[0] = uint8_t(r.attribute_high);
            slot[1] = r.flags;
            write_be16(slot + 2, r.record_offset);
        }

        std::vector<uint8_t> rec(RECORD_BYTES, 0);
        rec[0] = 0x01;
        write_be32(rec.data() + REC_KEY, r.key);
        write_be32(rec.data() + REC_LENGTH, r.length);
        write_be16(rec.data() + REC_FIRST_CLUSTER, r.clusters.empty() ? 0 : r.clusters[0]);
        write_be32(rec.data() + REC_START_OFFSET, r.start_offset);
        write_be32(rec.data() + REC_START_TIME, r.start_time);
        write_be32(rec.data() + REC_DURATION, r.duration);
        rec[REC_ATTRIBUTES] = uint8_t(r.attribute_high);
        rec[REC_FLAGS] = r.flags;
        put_text(rec.data() + REC_DEFAULT_TITLE, r.default_title,
                 REC_USER_TITLE - REC_DEFAULT_TITLE);
        put_text(rec.data() + REC_USER_TITLE, r.user_title, REC_USER_TITLE_BYTES);
        put_text(rec.data() + REC_CHANNEL, r.channel, REC_CHANNEL_BYTES);
        if (!write_at(out, TOC_SECTOR + r.record_offset, rec.data(), RECORD_SECTORS)) return false;

        // Cluster headers and data areas, in chain order.
        std::vector<uint8_t> header(2 * SECTOR_SIZE, 0);
        write_be32(header.data(), r.key);
        write_be32(header.data() + 60, r.start_time);
        header[82] = uint8_t(r.attribute_high);
        header[83] = r.flags;
        std::vector<uint8_t> area(CLUSTER_DATA_BYTES);
        size_t taken = 0;
        for (size_t i = 0; i < r.clusters.size(); ++i) {
            uint16_t c = r.clusters[i];
            if (!write_at(out, cluster_first_sector(c), header.data(), 2)) return false;
            std::fill(area.begin(), area.end(), 0);
            size_t skip = i == 0 ? size_t(r.start_offset) * SECTOR_SIZE : 0;
            if (skip < area.size() && taken < r.data.size()) {
                size_t n = std::min(area.size() - skip, r.data.size() - taken);
                memcpy(area.data() + skip, r.data.data() + taken, n);
                taken += n;
            }
            if (!write_at(out, cluster_data_sector(c), area.data(), CLUSTER_DATA_SECTORS))
                return false;
        }
    }
    return write_at(out, TOC_SECTOR, toc.data(), TOC_SECTORS);
}

}  // namespace quarrow::test
