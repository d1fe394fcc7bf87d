#include "extract/extraction_engine.h"

#include <cstring>
#include <memory>
#include <new>

#include "extract/output_name.h"
#include "extract/stream_filters.h"
#include "fs/layout.h"

namespace quarrow {
namespace {

constexpr int64_t AREA_BYTES = CLUSTER_DATA_BYTES;
// The next cluster's data is copied behind the current one in pieces of at least this size, as
// far as a block or the look-ahead reaches into it.
constexpr int64_t COPY_STEP = 256 * 1024;

std::unique_ptr<uint8_t[]> allocate(size_t bytes) {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

// The working buffer: the data of the cluster being walked (area A) with the data of the next
// cluster of the chain (area B) behind it, so that a block may run on from one into the other.
//
// Each of the two memory areas has room for two cluster data areas. One holds the cluster being
// walked; the other is read with the next cluster, whose bytes are copied behind the first only
// as far as the walk reaches into them (a block or two). When the walk moves into area B the two
// memory areas swap roles and the cluster after that is read into the one left behind: moving on
// costs one cluster read and a copy of some hundred kilobytes, not of a whole cluster.
struct WorkingBuffer {
    std::unique_ptr<uint8_t[]> memory[2];
    int current = 0;
    bool next_loaded = false;  // the other memory area holds area B's cluster
    int64_t copied = 0;        // bytes of area B present behind area A

    bool allocate_areas() {
        memory[0] = allocate(size_t(2 * AREA_BYTES));
        memory[1] = allocate(size_t(2 * AREA_BYTES));
        return memory[0] && memory[1];
    }
    uint8_t* base() { return memory[current].get(); }
    uint8_t* next_area() { return memory[1 - current].get(); }
    // End of the data loaded into areas A and B, and of the part that can be read now.
    int64_t loaded_end() const { return AREA_BYTES + (next_loaded ? AREA_BYTES : 0); }
    int64_t readable_end() const { return AREA_BYTES + (next_loaded ? copied : 0); }
    // Makes the bytes up to offset end (at most the loaded end) readable.
    void reach(int64_t end) {
        if (!next_loaded || end <= AREA_BYTES + copied) return;
        int64_t want = end - AREA_BYTES;
        if (want < copied + COPY_STEP) want = copied + COPY_STEP;
        if (want > AREA_BYTES) want = AREA_BYTES;
        memcpy(base() + AREA_BYTES + copied, next_area() + copied, size_t(want - copied));
        copied = want;
    }
    // Area B becomes area A; the memory area left behind is free for the cluster after it.
    void move_on() {
        current = 1 - current;
        copied = 0;
        next_loaded = false;
    }
};

// sequence_header_ahead over the working buffer, making area B readable as far as it looks.
bool next_video_opens_sequence(WorkingBuffer* buffer, int64_t payload) {
    for (;;) {
        int answer = look_ahead_sequence_header(buffer->base() + payload,
                                                buffer->base() + buffer->readable_end(),
                                                buffer->base() + buffer->loaded_end());
        if (answer >= 0) return answer == 1;
        buffer->reach(buffer->readable_end() + COPY_STEP);
    }
}

// Clusters met so far along the chain. A chain that comes back to one of them is broken (a
// link the receiver would never write); following it would extract the same data again.
struct VisitedClusters {
    uint8_t bits[FAT_ENTRIES / 8];
    bool test_and_set(uint16_t c) {
        if (c >= FAT_ENTRIES) return true;
        bool seen = bits[c / 8] & (1u << (c % 8));
        bits[c / 8] = static_cast<uint8_t>(bits[c / 8] | (1u << (c % 8)));
        return seen;
    }
};

// The successor of a cluster along the chain, NO_CLUSTER at its end or where it loops back.
uint16_t chain_successor(const uint8_t* fat, uint16_t cluster, VisitedClusters* visited,
                         bool* looped) {
    uint16_t next = next_cluster(fat, cluster);
    if (next == NO_CLUSTER) return NO_CLUSTER;
    if (visited->test_and_set(next)) {
        *looped = true;
        return NO_CLUSTER;
    }
    return next;
}

}  // namespace

bool prefix_char_allowed(unsigned char c) {
    return c != 0 && c != 0xA6 && !strchr("\\/:*?<>|\"", c);
}

int check_output_names(const char* path, const char* prefix, char* message) {
    if (!path) path = "";
    if (!prefix) prefix = "";
    // 5: the separator and the four-character extension.
    if (strlen(path) + strlen(prefix) + 5 > static_cast<size_t>(MAX_OUTPUT_NAME)) {
        put_message(message, "Invalid Path or Prefix (too long).");
        return 0;
    }
    for (const char* p = path; *p; ++p)
        if (!path_char_allowed(static_cast<unsigned char>(*p))) {
            put_message(message, "Path contains invalid characters.");
            return 0;
        }
    for (const char* p = prefix; *p; ++p)
        if (!prefix_char_allowed(static_cast<unsigned char>(*p))) {
            put_message(message, "File Prefix contains invalid characters.");
            return 0;
        }
    return 1;
}

int walk_recording(DiskHandle disk, uint16_t first_cluster, int32_t start, int32_t length,
                   int audio_type, bool auto_video_sync, int sync_tuning, bool no_video,
                   DiskHandle video_file, DiskHandle audio_file, char* message,
                   const OperationHooks* hooks) {
    // Released on every path when the walk returns.
    std::unique_ptr<uint8_t[]> fat = allocate(FAT_BYTES);
    std::unique_ptr<WorkingBuffer> buffer(new (std::nothrow) WorkingBuffer());
    std::unique_ptr<VisitedClusters> visited(new (std::nothrow) VisitedClusters());
    std::unique_ptr<StreamFilterState> filters(new (std::nothrow) StreamFilterState());
    if (!fat || !buffer || !buffer->allocate_areas() || !visited || !filters) {
        put_message(message, "Not enough memory for the extraction (32 MB needed).");
        return 0;
    }

    if (!read_fat(disk, fat.get())) {
        put_message(message, "Error while attempting to read the FAT");
        return 0;
    }
    if (!read_cluster(disk, first_cluster, buffer->base())) {
        put_message(message, "Error while accessing 1st cluster (FAT Entry %d).",
                    int(first_cluster));
        return 0;
    }
    visited->test_and_set(first_cluster);
    bool looped = false;
    uint16_t cluster_b = chain_successor(fat.get(), first_cluster, visited.get(), &looped);
    if (cluster_b != NO_CLUSTER) {
        if (!read_cluster(disk, cluster_b, buffer->next_area())) {
            put_message(message, "Error while accessing 2nd cluster (FAT Entry %d)",
                        int(cluster_b));
            return 0;
        }
        buffer->next_loaded = true;
    }

    int64_t position = int64_t(start) * SECTOR_SIZE;
    int64_t remaining = length;
    int64_t skipped = 0;
    int64_t countdown = sync_tuning;
    bool first_audio_block = true;
    bool ran_out = false;
    // Audio blocks met after the video had started but held back by the countdown, and whether
    // any passed: with auto sync, video whose every block opens a new sequence never counts the
    // countdown down, and the audio file would stay empty without a word.
    int64_t held_back = 0;
    bool audio_passed = false;
    reset_stream_filters(filters.get());
    StreamFilterState* state = filters.get();

    // Only loaded data is ever examined: once the chain has ended, area B holds nothing.
    if (remaining > 0 && (position < 0 || position >= buffer->loaded_end())) {
        put_message(message, "The start sector lies outside the recording's data.");
        return 0;
    }

    auto write_failed = [&] {
        flush_audio_output(state, audio_file);  // keep what passed the filter before
        put_message(message, "Error while writing to disk.");
        return 0;
    };

    while (remaining > 0) {
        hook_progress(hooks, int64_t(length) - remaining, length);
        int64_t loaded_end = buffer->loaded_end();
        if (position >= loaded_end) {
            ran_out = true;
            break;
        }
        buffer->reach(position + SECTOR_SIZE);
        const uint8_t* sector = buffer->base() + position;
        uint32_t payload_bytes = 0, field_28 = 0;
        uint16_t payload_sectors = 0;
        uint8_t type = 0;
        if (match_video_block(sector, &payload_bytes, &payload_sectors, &field_28))
            type = STREAM_BLOCK_VIDEO;
        else if (match_audio_block(sector, &payload_bytes, &payload_sectors, &field_28))
            type = STREAM_BLOCK_AUDIO;
        // A header whose payload would reach past the loaded data, or that claims more bytes
        // than its sectors hold, does not describe a block that can be read: it is stepped over
        // like any other unexpected sector, and the walk finds the next real header.
        int64_t payload_end = position + SECTOR_SIZE + int64_t(payload_sectors) * SECTOR_SIZE;
        if (type && (payload_end > loaded_end ||
                     int64_t(payload_bytes) > int64_t(payload_sectors) * SECTOR_SIZE))
            type = 0;

        if (type == 0) {
            ++skipped;
            position += SECTOR_SIZE;
            remaining -= 1;
        } else {
            position += SECTOR_SIZE;
            // The video start-code search may look three bytes past the payload's byte count.
            buffer->reach(payload_end + 3 < loaded_end ? payload_end + 3 : loaded_end);
            const uint8_t* payload = buffer->base() + position;
            if (type == STREAM_BLOCK_VIDEO) {
                if (!no_video) {
                    if (!write_video_block(state, video_file, payload, payload_bytes,
                                           buffer->readable_end() - position))
                        return write_failed();
                    // Audio waits until the countdown has passed zero; with auto sync a video
                    // block counts only when the next one does not open a new sequence.
                    if (countdown >= 0 && !state->video_waiting &&
                        (!auto_video_sync || !next_video_opens_sequence(buffer.get(), position)))
                        --countdown;
                }
            } else {
                bool passes = no_video || (!state->video_waiting && countdown < 0);
                if (!passes && !state->video_waiting) ++held_back;
                if (passes) {
                    audio_passed = true;
                    if (first_audio_block) {
                        first_audio_block = false;
                    } else if (!write_audio_block(state, audio_file, payload, payload_bytes,
                                                  audio_type)) {
                        return write_failed();
                    }
                }
            }
            position += int64_t(payload_sectors) * SECTOR_SIZE;
            remaining -= int64_t(payload_sectors) + 1;
        }

        // Past the start of area B: its cluster becomes area A, and the cluster after it is read
        // as the new area B.
        if (remaining != 0 && position > AREA_BYTES) {
            buffer->move_on();
            position -= AREA_BYTES;
            cluster_b = chain_successor(fat.get(), cluster_b, visited.get(), &looped);
            if (cluster_b != NO_CLUSTER) {
                if (!read_cluster(disk, cluster_b, buffer->next_area())) {
                    flush_audio_output(state, audio_file);
                    put_message(message, "Error while accessing data cluster (FAT Entry %d)",
                                int(cluster_b));
                    return 0;
                }
                buffer->next_loaded = true;
            }
        }
    }
    if (!flush_audio_output(state, audio_file)) {
        put_message(message, "Error while writing to disk.");
        return 0;
    }

    fat.reset();
    buffer.reset();
    char notice[MESSAGE_SIZE];
    if (skipped > 0) {
        put_message(notice, "Skipped %d sectors during extraction (unexpected data sectors).",
                    int(skipped));
        hook_notice(hooks, notice);
    }
    if (held_back > 0 && !audio_passed) {
        put_message(notice,
                    "No audio passed the video sync before the end of the range (try without "
                    "auto video sync).");
        hook_notice(hooks, notice);
    }
    if (ran_out) {
        put_message(notice,
                    looped ? "The recording's cluster chain loops back after %lld of %d sectors; "
                             "the extraction stopped there."
                           : "The recording's clusters end after %lld of %d sectors; the "
                             "extraction stopped there.",
                    static_cast<long long>(int64_t(length) - remaining), int(length));
        hook_notice(hooks, notice);
    }
    return 1;
}

int extract_recording(DiskHandle disk, uint16_t first_cluster, int32_t start, int32_t length,
                      int audio_type, bool auto_video_sync, int sync_tuning, bool no_video,
                      const char* path, const char* prefix, char* message,
                      const OperationHooks* hooks) {
    if (!check_output_names(path, prefix, message)) return 0;
    if (audio_type != AUDIO_TYPE_MPG) audio_type = AUDIO_TYPE_MP2;
    char video_name[OUTPUT_NAME_BUFFER], audio_name[OUTPUT_NAME_BUFFER];
    build_output_name(path ? path : "", prefix ? prefix : "", ".m2v", video_name);
    build_output_name(path ? path : "", prefix ? prefix : "",
                      audio_type == AUDIO_TYPE_MPG ? ".mpg" : ".mp2", audio_name);

    DiskHandle video_file = nullptr;
    if (!no_video) {
        video_file = create_output_file(video_name);
        if (!video_file) {
            put_message(message, "Could not create output file.");
            return 0;
        }
    }
    DiskHandle audio_file = create_output_file(audio_name);
    if (!audio_file) {
        video_file = close_disk(video_file);
        put_message(message, "Could not create output file.");
        return 0;
    }
    int ok = walk_recording(disk, first_cluster, start, length, audio_type, auto_video_sync,
                            sync_tuning, no_video, video_file, audio_file, message, hooks);
    video_file = close_disk(video_file);
    audio_file = close_disk(audio_file);
    if (!ok) return 0;
    put_message(message, "The extraction has completed successfully.");
    return 1;
}

}  // namespace quarrow
