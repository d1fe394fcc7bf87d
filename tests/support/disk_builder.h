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
    // A recording without clusters: first cluster 0x3FFF, no chain, no data.
    bool no_clusters = false;
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
    // False: only the system area is written (no cluster headers or data areas), for tests that
    // look at the tables and records alone.
    bool write_clusters = true;
};

// Fills in the clusters (when left empty) and lengths, then writes the disk. False when a write
// fails or the clusters run out.
bool write_test_disk(TestDisk& disk, DiskHandle out);

// Encodes one stream block: a 512-byte header sector (magic, type, payload sectors and bytes)
// followed by the payload padded to whole sectors.
void append_stream_block(std::vector<uint8_t>& out, uint8_t type, const uint8_t* payload,
                         uint32_t bytes);

// Wraps MPEG audio bytes as one audio PES packet of stream 0xC0. Without a pts (negative) the
// header carries no timestamp and is 9 bytes long; with one it carries that PTS (90 kHz ticks)
// and is 14 bytes long, as broadcasts send it, and the extraction's PES header remover
// recognises it when the audio starts with a frame.
std::vector<uint8_t> audio_pes_packet(const uint8_t* audio, size_t bytes, int64_t pts = -1);

// Byte offsets of the MPEG-1 Layer I/II/III frames of an elementary audio stream, found by
// walking the frame headers from offset 0; the walk stops at the first byte that does not start
// a whole frame.
std::vector<size_t> mpeg_audio_frames(const std::vector<uint8_t>& audio);

// The audio stream as broadcasts carry it: frames_per_packet frames in each PES packet (14-byte
// header with PTS, starting at first_pts and advancing by each packet's play time).
std::vector<uint8_t> audio_pes_stream(const std::vector<uint8_t>& audio,
                                      unsigned frames_per_packet = 1, int64_t first_pts = 90000);

// Lays a video elementary stream and an audio PES stream out as a recording's data, the way the
// receiver writes a broadcast: video blocks of video_sectors_per_block payload sectors (the last
// one shorter), each followed by the audio blocks that keep the audio level with the video by
// share of the whole stream; audio blocks hold audio_bytes_per_block bytes of the PES stream (the
// last one less), cut without regard to packet boundaries, so a payload's last sector is partly
// used and PES headers straddle payloads. Audio that is left when the video ends follows in
// audio blocks.
std::vector<uint8_t> broadcast_blocks(const std::vector<uint8_t>& video,
                                      const std::vector<uint8_t>& audio_pes,
                                      uint32_t video_sectors_per_block = 200,
                                      uint32_t audio_bytes_per_block = 1800);

// Stream blocks filling at most `sectors` sectors, as a broadcast lays them: a video block of
// 120 payload sectors that opens with a sequence header, then an audio block of one PES packet
// stamped first_pts, first_pts + 3600, ... (40 ms apart), over and over. seed varies the bytes,
// so that two recordings never hold the same data.
std::vector<uint8_t> stamped_blocks(uint32_t sectors, int64_t first_pts, uint8_t seed);

// Reads a whole file (fixture media); empty when it cannot be read.
std::vector<uint8_t> read_file_bytes(const std::string& path);

// Where the committed fixture media live in the source tree.
std::string fixture_path(const std::string& name);

// The parity fold P of the table for last_cluster, as 4 bytes (E high, E low, O high, O low).
uint32_t table_parity(const uint8_t* table, uint16_t last_cluster);

}  // namespace quarrow::test
