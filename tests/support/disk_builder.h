// Builds MediaMaster disks for tests and for the sample disk: boot area, allocation table with
// its checksum and copy, Table of Contents, records, cluster headers, and stream blocks laid
// across the clusters' data areas. Writes through any DiskHandle (an in-memory image, or a sparse
// image file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/sector_access.h"

namespace quarrow::test {

struct TestRecording {
    std::string default_title;  // Latin-1
    std::string user_title;
    std::string channel = "Channel";
    uint8_t flags = 0;
    uint16_t attribute_high = 0;       // high byte of the attribute word (record 82, slot 0)
    uint32_t start_time = 1039205700;  // 06-12-2002 20:15:00 GMT
    uint32_t duration = 0;             // hundredths of a second
    uint32_t key = 0x4D4D0001;
    // The chain, in order; left empty, the builder takes free clusters in ascending order, as
    // many as the data needs (at least one).
    std::vector<uint16_t> clusters;
    // Data-area bytes of the recording, laid from start_offset sectors into the first cluster's
    // data area and on through the chain's data areas.
    std::vector<uint8_t> data;
    uint32_t start_offset = 0;
    // Length in sectors; 0 means the sectors that data covers.
    uint32_t length = 0;
    // Record offset (4, 8, ...); 0 picks the next free one.
    uint16_t record_offset = 0;
};

struct TestDisk {
    uint16_t cluster_count = 16;
    std::string notification;               // Table of Contents text at offset 12
    std::vector<TestRecording> recordings;  // oldest first: slot order
    bool signature = true;
    // The stored checksum xor'ed with this (0: consistent).
    uint32_t checksum_error = 0;
    // Recording count written into the Table of Contents; -1 means recordings.size().
    int count_override = -1;
};

// Fills in the clusters (when left empty) and lengths, then writes the disk. False when a write
// fails or the clusters run out.
bool write_test_disk(TestDisk& disk, DiskHandle out);

// Encodes one stream block: a 512-byte header sector (magic, type, payload sectors and bytes)
// followed by the payload padded to whole sectors.
void append_stream_block(std::vector<uint8_t>& out, uint8_t type, const uint8_t* payload,
                         uint32_t bytes);

// Wraps MPEG audio bytes as one audio PES packet (stream 0xC0, PES header without timestamps).
std::vector<uint8_t> audio_pes_packet(const uint8_t* audio, size_t bytes);

// The parity fold P of the table for last_cluster, as 4 bytes (E high, E low, O high, O low).
uint32_t table_parity(const uint8_t* table, uint16_t last_cluster);

}  // namespace quarrow::test
