#include "extract/extraction_engine.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "disk/transfer_buffer.h"
#include "extract/matroska_mux.h"
#include "extract/output_name.h"
#include "extract/output_spans.h"
#include "extract/stream_filters.h"
#include "fs/allocation_table.h"
#include "fs/damaged_disk.h"
#include "fs/disk_session.h"
#include "fs/layout.h"

namespace quarrow {
namespace {

constexpr int64_t AREA_BYTES = CLUSTER_DATA_BYTES;

std::unique_ptr<uint8_t[]> allocate(size_t bytes) {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

// The working buffer: the data of the cluster being walked (area A) with the data of the next
// cluster of the chain (area B) behind it, so that a block may run on from one into the other.
//
// One memory area holds two cluster data areas. The first two clusters are read into its halves.
// When the walk moves into area B, the second half becomes area A. The cluster after it is read
// when the walk first needs a byte of it: the part of area A still to be walked moves to the
// first half, right before the second, and the cluster is read into the second half over what
// the walk has just written out. The read thus lands in memory the processor still holds in its
// cache, as a plain copy reuses one buffer, and moving on costs one cluster read and a copy of
// a block or two.
struct WorkingBuffer {
    TransferBuffer memory;
    int64_t shift = 0;  // where area A begins in the memory: 0 or AREA_BYTES
    // The cluster whose data is area B (NO_CLUSTER past the chain's end), and whether it is read.
    uint16_t next_cluster = NO_CLUSTER;
    bool next_loaded = false;

    bool allocate_area() {
        memory.reset(allocate_transfer_buffer(size_t(2 * AREA_BYTES)));
        return bool(memory);
    }
    uint8_t* base() { return memory.get() + shift; }
    // End of the data loaded into areas A and B, and of the part that can be read now.
    int64_t loaded_end() const {
        return AREA_BYTES + (next_cluster != NO_CLUSTER ? AREA_BYTES : 0);
    }
    int64_t readable_end() const { return AREA_BYTES + (next_loaded ? AREA_BYTES : 0); }
    // Makes room for area B behind area A, keeping area A's bytes from offset keep_from on; gives
    // where area B is to be read.
    uint8_t* make_room_for_next(int64_t keep_from) {
        uint8_t* m = memory.get();
        // The walk is inside area A whenever area B is still to be read; bounded all the same.
        if (keep_from < 0) keep_from = 0;
        if (keep_from > AREA_BYTES) keep_from = AREA_BYTES;
        if (shift != 0) {
            memcpy(m + keep_from, m + shift + keep_from, size_t(AREA_BYTES - keep_from));
            shift = 0;
        }
        return m + AREA_BYTES;
    }
    // Area B becomes area A.
    void move_on() {
        shift = AREA_BYTES;
        next_loaded = false;
    }
};

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

// Video payloads are written straight from the working buffer, gathered so that a cluster's
// payloads reach the file in a few large writes rather than one per block. The spans point into
// the working buffer, so they are written before its memory is read over by the next cluster and
// at the end of the walk.
constexpr int MAX_GATHERED = 256;
struct GatheredWrites {
    const ByteSink* sink;
    ByteSpan spans[MAX_GATHERED];
    int count = 0;
    int64_t total = 0;  // bytes gathered so far, written or not
    // Where the outputs follow the order of arrival: the audio held in the filter goes first.
    StreamFilterState* audio_filter = nullptr;
    const ByteSink* audio = nullptr;
};

bool flush_gathered(GatheredWrites* g) {
    int n = g->count;
    g->count = 0;
    if (n == 0) return true;
    if (g->audio_filter && !flush_audio_output(g->audio_filter, g->audio)) return false;
    return g->sink->write(g->sink->context, g->spans, n);
}

bool gather(void* context, const ByteSpan* spans, int count) {
    GatheredWrites* g = static_cast<GatheredWrites*>(context);
    for (int i = 0; i < count; ++i) {
        if (g->count == MAX_GATHERED && !flush_gathered(g)) return false;
        g->spans[g->count++] = spans[i];
        g->total += int64_t(spans[i].size);
    }
    return true;
}

// A sink that counts the bytes it passes on, so that the walk knows whether a file got anything.
struct CountingSink {
    const ByteSink* sink;
    int64_t bytes = 0;
};

bool count_and_write(void* context, const ByteSpan* spans, int count) {
    CountingSink* c = static_cast<CountingSink*>(context);
    for (int i = 0; i < count; ++i)
        c->bytes += int64_t(spans[i].size);
    return c->sink->write(c->sink->context, spans, count);
}

// Everything one walk owns: released on every path when the walk returns.
struct Walk {
    DiskHandle disk;
    const ExtractionRequest* request;
    const ExtractionOutputs* outputs;
    GatheredWrites video;
    ByteSink gathered_video;
    // What reaches the two outputs, counted.
    CountingSink video_count{nullptr};
    CountingSink audio_count{nullptr};
    ByteSink counted_video{nullptr, nullptr};
    ByteSink counted_audio{nullptr, nullptr};
    std::unique_ptr<uint8_t[]> fat;
    std::unique_ptr<WorkingBuffer> buffer;
    std::unique_ptr<VisitedClusters> visited;
    std::unique_ptr<StreamFilterState> filters;

    bool looped = false;        // the chain came back to a cluster met before
    int64_t clusters_read = 0;  // chain position of the next cluster read
    int64_t area_index = 0;     // chain position of area A's cluster
    // The unreadable runs met (request.damaged): the first not yet passed, and whether the walk
    // is stepping over one.
    size_t damage_cursor = 0;
    bool in_damage = false;
    int64_t position = 0;           // byte offset of the next sector to examine
    int64_t remaining = 0;          // sectors still to walk
    int64_t skipped = 0;            // sectors that were no block header
    int64_t countdown = 0;          // the video sync: audio waits until it is below zero
    bool first_audio_block = true;  // the first audio block let through is dropped
    bool ran_out = false;           // the loaded data ended before the length did
    // Audio blocks met after the video had started but held back by the countdown, and whether
    // any passed: with auto sync, video whose every block opens a new sequence never counts the
    // countdown down, and the audio file would stay empty without a word.
    int64_t held_back = 0;
    bool audio_passed = false;
    int64_t audio_blocks = 0;  // audio blocks met in the range, passed or not
    bool read_failed = false;  // a cluster's data could not be read
    bool interrupted = false;
    // Why reading area B's pending cluster failed; empty while it has not.
    char failure[MESSAGE_SIZE] = "";
};

// A block header as the walk sees it: its type and the sizes of its payload; all 0 for a sector
// that is no block header, which counts as a block of no payload.
struct Block {
    uint8_t type = 0;
    uint32_t payload_bytes = 0;
    uint16_t payload_sectors = 0;
};

bool allocate_walk(Walk& w, char* message) {
    w.fat = allocate(FAT_BYTES);
    w.buffer.reset(new (std::nothrow) WorkingBuffer());
    w.visited.reset(new (std::nothrow) VisitedClusters());
    w.filters.reset(new (std::nothrow) StreamFilterState());
    if (!w.fat || !w.buffer || !w.buffer->allocate_area() || !w.visited || !w.filters) {
        put_message(message, "Not enough memory for the extraction (16 MB needed).");
        return false;
    }
    return true;
}

// Reads the data area of the walk's next cluster in chain order; on a damaged disk unreadable
// sectors read as zeros and are noted with their place in the recording.
bool read_next_cluster(Walk& w, uint16_t cluster, uint8_t* into) {
    int64_t index = w.clusters_read++;
    DamagedReads* damaged = w.request->damaged;
    if (!damaged) return read_cluster(w.disk, cluster, into) != 0;
    return read_damaged(w.disk, into, cluster_data_sector(cluster), CLUSTER_DATA_SECTORS,
                        index * CLUSTER_DATA_SECTORS, damaged) == CLUSTER_DATA_SECTORS;
}

// Makes the working buffer readable up to offset end, first reading area B's cluster when it is
// not read yet; the walk needs nothing before its position any more. False, with the walk's
// failure set, when that cluster could not be read or the writes out of area A failed.
bool reach(Walk& w, int64_t end) {
    WorkingBuffer& buffer = *w.buffer;
    if (end > AREA_BYTES && buffer.next_cluster != NO_CLUSTER && !buffer.next_loaded) {
        uint16_t cluster = buffer.next_cluster;
        // The gathered writes point into the memory that is about to be moved and read over.
        if (!flush_gathered(&w.video)) {
            put_message(w.failure, "Error while writing to disk.");
            return false;
        }
        if (!read_next_cluster(w, cluster, buffer.make_room_for_next(w.position))) {
            w.read_failed = true;
            put_message(w.failure, "Error while accessing data cluster (FAT Entry %d)",
                        int(cluster));
            return false;
        }
        buffer.next_loaded = true;
    }
    return true;
}

// sequence_header_ahead over the working buffer, making area B readable as far as it looks.
bool next_video_opens_sequence(Walk& w, int64_t payload) {
    WorkingBuffer& buffer = *w.buffer;
    for (;;) {
        int answer = look_ahead_sequence_header(buffer.base() + payload,
                                                buffer.base() + buffer.readable_end(),
                                                buffer.readable_end() < buffer.loaded_end());
        if (answer >= 0) return answer == 1;
        if (!reach(w, buffer.readable_end() + 1)) return false;
    }
}

// The allocation table, the data of the cluster that holds the start as area A and its
// successor's as area B. The clusters before the start are followed through the table without
// being read; skip receives how many. False, with the message, when the chain ends (or loops)
// before the start.
bool load_first_clusters(Walk& w, int64_t skip, char* message) {
    uint16_t first = w.request->first_cluster;
    if (w.request->damaged) {
        w.request->damaged->fat =
            read_fat_around_damage(w.disk, w.request->damaged->map, w.fat.get());
    } else if (!read_fat(w.disk, w.fat.get())) {
        put_message(message, "Error while attempting to read the FAT");
        return false;
    }
    for (int64_t k = 0; k < skip; ++k) {
        w.visited->test_and_set(first);
        first = chain_successor(w.fat.get(), first, w.visited.get(), &w.looped);
        if (first == NO_CLUSTER) {
            put_message(message, "The start sector lies outside the recording's data.");
            return false;
        }
    }
    w.clusters_read = skip;  // a damaged sector's place in the recording counts them
    w.area_index = skip;
    if (!read_next_cluster(w, first, w.buffer->base())) {
        w.read_failed = true;
        put_message(message, "Error while accessing 1st cluster (FAT Entry %d).", int(first));
        return false;
    }
    w.visited->test_and_set(first);
    uint16_t second = chain_successor(w.fat.get(), first, w.visited.get(), &w.looped);
    w.buffer->next_cluster = second;
    if (second != NO_CLUSTER) {
        if (!read_next_cluster(w, second, w.buffer->base() + AREA_BYTES)) {
            w.read_failed = true;
            put_message(message, "Error while accessing 2nd cluster (FAT Entry %d)", int(second));
            return false;
        }
        w.buffer->next_loaded = true;
    }
    return true;
}

// Classifies the sector at the walk's position. A header whose payload would reach past the
// loaded data, or that claims more bytes than its sectors hold, does not describe a block that
// can be read: it is stepped over like any other unexpected sector, and the walk finds the next
// real header.
Block examine_block(Walk& w) {
    int64_t loaded_end = w.buffer->loaded_end();
    if (!reach(w, w.position + SECTOR_SIZE)) return Block();
    const uint8_t* sector = w.buffer->base() + w.position;
    Block b;
    if (match_video_block(sector, &b.payload_bytes, &b.payload_sectors))
        b.type = STREAM_BLOCK_VIDEO;
    else if (match_audio_block(sector, &b.payload_bytes, &b.payload_sectors))
        b.type = STREAM_BLOCK_AUDIO;
    int64_t payload_end = w.position + SECTOR_SIZE + int64_t(b.payload_sectors) * SECTOR_SIZE;
    if (b.type && (payload_end > loaded_end ||
                   int64_t(b.payload_bytes) > int64_t(b.payload_sectors) * SECTOR_SIZE))
        b = Block();
    if (b.type) {
        // The video start-code search may look three bytes past the payload's byte count.
        if (!reach(w, payload_end + 3 < loaded_end ? payload_end + 3 : loaded_end)) return Block();
    }
    return b;
}

// A video payload to the video filter; then the video sync: audio waits until the countdown has
// passed zero, and with auto sync a video block counts only when the next one does not open a
// new sequence.
bool walk_video_block(Walk& w, const Block& b, int64_t payload_at) {
    const ExtractionRequest& r = *w.request;
    if (r.no_video) return true;
    StreamFilterState* state = w.filters.get();
    if (!write_video_block(state, &w.gathered_video, w.buffer->base() + payload_at, b.payload_bytes,
                           w.buffer->readable_end() - payload_at))
        return false;
    if (w.countdown >= 0 && !state->video_waiting &&
        (!r.auto_video_sync || !next_video_opens_sequence(w, payload_at)))
        --w.countdown;
    return true;
}

// Where both streams stand, for the outputs that ask.
void mark_arrival(Walk& w, bool unreadable) {
    const StreamArrivals& a = w.outputs->arrivals;
    if (!a.mark) return;
    a.mark(a.context, w.video.total, w.audio_count.bytes + w.filters->audio_output_count,
           unreadable);
}

// Whether the sector at `at` (an offset in the working buffer) is one that could not be read:
// zeros in place of sectors the walk noted as unreadable. The runs are noted in chain order, as
// the walk goes.
bool unreadable_sector(Walk& w, int64_t at) {
    DamagedReads* damaged = w.request->damaged;
    if (!damaged) return false;
    int64_t sector = w.area_index * CLUSTER_DATA_SECTORS + at / SECTOR_SIZE;
    const std::vector<DamagedRun>& runs = damaged->found;
    size_t& k = w.damage_cursor;
    while (k < runs.size() && runs[k].recording_sector + runs[k].count <= sector)
        ++k;
    return k < runs.size() && runs[k].recording_sector <= sector;
}

// An audio payload through the audio gate: it passes once the video has started and the sync
// countdown has run out (at once without video); the first block that passes is dropped.
bool walk_audio_block(Walk& w, const Block& b, int64_t payload_at) {
    const ExtractionRequest& r = *w.request;
    StreamFilterState* state = w.filters.get();
    ++w.audio_blocks;
    bool passes = r.no_video || (!state->video_waiting && w.countdown < 0);
    if (!passes) {
        if (!state->video_waiting) ++w.held_back;
        return true;
    }
    w.audio_passed = true;
    if (w.first_audio_block) {
        w.first_audio_block = false;
        return true;
    }
    mark_arrival(w, false);
    return write_audio_block(state, &w.counted_audio, w.buffer->base() + payload_at,
                             b.payload_bytes, r.audio_type) != 0;
}

// Past the start of area B (read by now: the walk stepped into it): its cluster becomes area A,
// and the cluster after it becomes area B, to be read over the memory that held area A.
bool move_to_next_cluster(Walk& w, char* message) {
    if (!flush_gathered(&w.video)) {
        put_message(message, "Error while writing to disk.");
        return false;
    }
    WorkingBuffer& buffer = *w.buffer;
    buffer.move_on();
    ++w.area_index;
    w.position -= AREA_BYTES;
    buffer.next_cluster =
        chain_successor(w.fat.get(), buffer.next_cluster, w.visited.get(), &w.looped);
    return true;
}

// Whether the walk gave either output anything at all.
bool nothing_written(const Walk& w) {
    return w.video_count.bytes == 0 && w.audio_count.bytes == 0;
}

// The notices the user sees before the result: skipped sectors, audio that the sync held back
// entirely, a walk that ran out of data. A walk that wrote nothing has one reason of its own,
// which the result message gives instead of the sync's notice.
void report_notices(const Walk& w) {
    const ExtractionRequest& r = *w.request;
    char notice[MESSAGE_SIZE];
    if (w.skipped > 0) {
        put_message(notice, "Skipped %d sectors during extraction (unexpected data sectors).",
                    int(w.skipped));
        hook_notice(r.hooks, notice);
    }
    if (w.held_back > 0 && !w.audio_passed && !nothing_written(w)) {
        put_message(notice,
                    "No audio passed the video sync before the end of the range (try without "
                    "auto video sync).");
        hook_notice(r.hooks, notice);
    }
    if (w.ran_out) {
        put_message(notice,
                    w.looped ? "The recording's cluster chain loops back after %lld of %d "
                               "sectors; the extraction stopped there."
                             : "The recording's clusters end after %lld of %d sectors; the "
                               "extraction stopped there.",
                    static_cast<long long>(int64_t(r.length) - w.remaining), int(r.length));
        hook_notice(r.hooks, notice);
    }
}

// The walk's fields for the front end: how it ended and what it wrote. Nothing written is a
// reason of its own only for a walk that reached its end; a failed one says why it failed.
void note_walk(const Walk& w, bool walked, ExtractionResult* result) {
    if (!result) return;
    result->ended_early = w.ran_out;
    result->chain_looped = w.looped && w.ran_out;
    result->sectors_walked = int64_t(w.request->length) - w.remaining;
    result->nothing_written = walked && nothing_written(w);
    result->read_failed = w.read_failed;
    result->interrupted = w.interrupted;
    result->audio_blocks = w.audio_blocks;
}

// The walk from the first clusters to the end of the range or the failure that stops it.
int run_walk(Walk& w, char* message) {
    const ExtractionRequest& request = *w.request;
    w.remaining = request.length;  // nothing walked yet, whatever stops the walk first
    // A start past the first cluster begins the walk in the cluster that holds it.
    int64_t skip = request.start > 0 ? request.start / CLUSTER_DATA_SECTORS : 0;
    if (!allocate_walk(w, message) || !load_first_clusters(w, skip, message)) return 0;
    if (w.outputs->arrivals.mark) {
        w.video.audio_filter = w.filters.get();
        w.video.audio = &w.counted_audio;
    }

    w.position = (int64_t(request.start) - skip * CLUSTER_DATA_SECTORS) * SECTOR_SIZE;
    w.remaining = request.length;
    w.countdown = request.sync_tuning;
    reset_stream_filters(w.filters.get());
    w.filters->audio_in_place = w.outputs->audio_in_place;

    // Only loaded data is ever examined: once the chain has ended, area B holds nothing.
    if (w.remaining > 0 && (w.position < 0 || w.position >= w.buffer->loaded_end())) {
        put_message(message, "The start sector lies outside the recording's data.");
        return 0;
    }
    // What passed the filters is written whatever ends the walk.
    auto fail = [&](const char* text) {
        flush_gathered(&w.video);
        flush_audio_output(w.filters.get(), &w.counted_audio);
        if (text) put_message(message, "%s", text);
        return 0;
    };

    while (w.remaining > 0) {
        hook_progress(request.hooks, int64_t(request.length) - w.remaining, request.length);
        // The interrupt flag (Ctrl-C) or the caller's Cancel: both stop at this block.
        if ((request.interrupt && *request.interrupt) || hook_cancelled(request.hooks)) {
            w.interrupted = true;
            return fail(EXTRACTION_INTERRUPTED);
        }
        if (w.position >= w.buffer->loaded_end()) {
            w.ran_out = true;
            break;
        }
        Block b = examine_block(w);
        if (w.failure[0]) return fail(w.failure);
        w.position += SECTOR_SIZE;
        if (b.type == STREAM_BLOCK_VIDEO && !walk_video_block(w, b, w.position))
            return fail("Error while writing to disk.");
        if (w.failure[0]) return fail(w.failure);
        if (b.type == STREAM_BLOCK_AUDIO && !walk_audio_block(w, b, w.position))
            return fail("Error while writing to disk.");
        if (b.type == 0) ++w.skipped;
        // A run of unreadable sectors is marked where it begins.
        bool unreadable = b.type == 0 && unreadable_sector(w, w.position - SECTOR_SIZE);
        if (unreadable && !w.in_damage) mark_arrival(w, true);
        w.in_damage = unreadable;
        w.position += int64_t(b.payload_sectors) * SECTOR_SIZE;
        w.remaining -= int64_t(b.payload_sectors) + 1;

        if (w.remaining != 0 && w.position > AREA_BYTES && !move_to_next_cluster(w, message))
            return fail(nullptr);
    }
    if (!flush_gathered(&w.video) || !flush_audio_output(w.filters.get(), &w.counted_audio)) {
        put_message(message, "Error while writing to disk.");
        return 0;
    }
    w.fat.reset();
    w.buffer.reset();
    report_notices(w);
    return 1;
}

}  // namespace

int walk_recording(DiskHandle disk, const ExtractionRequest& request,
                   const ExtractionOutputs& outputs, char* message, ExtractionResult* result) {
    Walk w;
    w.disk = disk;
    w.request = &request;
    w.outputs = &outputs;
    w.video_count.sink = &outputs.video;
    w.audio_count.sink = &outputs.audio;
    w.counted_video = ByteSink{&w.video_count, count_and_write};
    w.counted_audio = ByteSink{&w.audio_count, count_and_write};
    w.video.sink = &w.counted_video;
    w.gathered_video = ByteSink{&w.video, gather};
    int ok = run_walk(w, message);
    note_walk(w, ok != 0, result);
    return ok;
}

namespace {

// After a failed or interrupted walk every output is left by the output rule; the user hears
// where the walk stopped and what the files hold.
void leave_outputs(std::vector<OutputFilePtr>* files, const std::vector<std::string>& names,
                   const ExtractionRequest& r, int64_t walked, ExtractionResult* result) {
    for (size_t i = 0; i < files->size(); ++i) {
        OutputLeft left = end_output_file((*files)[i].release());
        if (left == OUTPUT_PARTIAL_KEPT) result->kept.push_back(names[i]);
        if (left == OUTPUT_EARLIER_KEPT) result->earlier_kept.push_back(names[i]);
    }
    char notice[MESSAGE_SIZE];
    if (!result->kept.empty()) {
        put_message(notice,
                    "The extraction stopped after %lld of %d sectors; the files hold what came "
                    "before.",
                    static_cast<long long>(walked), int(r.length));
        hook_notice(r.hooks, notice);
    }
    if (!result->earlier_kept.empty()) {
        put_message(notice, "Files of the same names existed before; they were left as they were.");
        hook_notice(r.hooks, notice);
    }
}

// A walk that gave neither output a byte: why, and the way out where there is one.
void say_nothing_written(const ExtractionRequest& r, const ExtractionResult& result,
                         char* message) {
    const char* reason = r.no_video ? "the range holds no audio"
                         : result.audio_blocks > 0
                             ? "the video has no sequence header, so no audio passed: leave the "
                               "video out for an audio-only recording"
                             : "the range holds no video sequence header and no audio";
    put_message(message, "Nothing was extracted. (%s)", reason);
}

// The files of a plain extraction: the video (unless left out) and the audio, each under a
// temporary name until the walk has succeeded.
int extract_to_files(DiskHandle disk, const ExtractionRequest& r, char* message,
                     ExtractionResult* result) {
    // The video's name (unless left out), then the audio's.
    const std::vector<std::string> names = planned_output_names(r);
    // An output that is the disk being read (by identity) is never written; a folder or device
    // in its place is refused when the file is begun, with the system's reason.
    for (const std::string& name : names)
        if (check_output(disk, name.c_str()) == OUTPUT_IS_SOURCE) {
            put_message(message, "Could not create output file.");
            return 0;
        }
    std::vector<OutputFilePtr> files;
    for (const std::string& name : names) {
        files.emplace_back(begin_output_file(name.c_str()));
        if (!files.back()) {
            put_message(message, "Could not create output file.");
            return 0;
        }
    }
    ExtractionOutputs outputs;
    outputs.video = output_file_sink(r.no_video ? nullptr : files.front().get());
    outputs.audio = output_file_sink(files.back().get());
    if (!walk_recording(disk, r, outputs, message, result)) {
        leave_outputs(&files, names, r, result->sectors_walked, result);
        return 0;
    }
    // Empty files would pass for an extraction; the temporaries go, earlier files stay.
    if (result->nothing_written) {
        say_nothing_written(r, *result, message);
        return 0;
    }
    // Renamed one after the other: should the audio's name be refused (a folder holds it), the
    // video is already in place.
    for (size_t i = 0; i < files.size(); ++i) {
        if (r.output_time >= 0) set_output_time(files[i].get(), r.output_time);
        if (!commit_output_file(files[i].release())) {
            put_message(message, "Could not create output file.");
            return 0;
        }
        result->files.push_back(names[i]);
    }
    return 1;
}

// The one-file output's files: the program stream, or the parts of a split one, or the Matroska
// file; each under a temporary name until the extraction has succeeded.
struct MuxFiles {
    DiskHandle disk;
    const char* path;
    const char* prefix;
    bool matroska;
    std::vector<std::string> names;
    std::vector<OutputFilePtr> files;
};

bool begin_mux_part(void* context, int part) {
    MuxFiles* m = static_cast<MuxFiles*>(context);
    std::string name;
    if (m->matroska) {
        char mkv[OUTPUT_NAME_BUFFER];
        build_output_name(m->path, m->prefix, ".mkv", mkv);
        name = mkv;
    } else {
        name = program_stream_part_name(m->path, m->prefix, part);
    }
    // The disk being read is never the output, whatever the name's spelling.
    if (check_output(m->disk, name.c_str()) == OUTPUT_IS_SOURCE) return false;
    OutputFilePtr file(begin_output_file(name.c_str()));
    if (!file) return false;
    m->names.push_back(name);
    m->files.push_back(std::move(file));
    return true;
}

bool write_mux_part(void* context, const ByteSpan* spans, int count) {
    MuxFiles* m = static_cast<MuxFiles*>(context);
    return !m->files.empty() && write_output_spans(m->files.back().get(), spans, count);
}

bool patch_mux_part(void* context, int64_t offset, const void* bytes, size_t size) {
    MuxFiles* m = static_cast<MuxFiles*>(context);
    return !m->files.empty() && output_write_at(m->files.back().get(), offset, bytes, size);
}

struct DestroyWriter {
    void operator()(ProgramStreamWriter* w) const { destroy_program_stream(w); }
};

// --mux and --mkv: the walk into the one-file writer, whose output is packs or the Matroska
// feed.
int extract_to_one_file(DiskHandle disk, const ExtractionRequest& r, char* message,
                        ExtractionResult* result) {
    MuxFiles files{disk, r.path, r.prefix, r.matroska != nullptr, {}, {}};
    ProgramStreamOptions options;
    options.av_offset_ms = r.av_offset_ms;
    options.split_bytes = r.matroska ? 0 : r.split_bytes;
    options.from_ms = r.from_ms;
    options.to_ms = r.to_ms;
    options.stretches = r.stretches;
    options.chapter_every_ms = r.chapter_every_ms;
    MatroskaParams texts;
    if (r.matroska) texts = *r.matroska;
    if (r.chapters) texts.chapters_at_end = true;
    std::unique_ptr<ProgramStreamWriter, DestroyWriter> writer;
    if (r.matroska) {
        if (begin_mux_part(&files, 0))
            writer.reset(create_matroska_stream(options, texts,
                                                {&files, write_mux_part, patch_mux_part}, r.hooks));
    } else {
        writer.reset(
            create_program_stream(options, {&files, begin_mux_part, write_mux_part}, r.hooks));
    }
    if (!writer) {
        put_message(message, "Could not create output file.");
        return 0;
    }
    ExtractionOutputs outputs;
    outputs.video = program_stream_video_sink(writer.get());
    outputs.audio = program_stream_audio_sink(writer.get());
    outputs.arrivals = program_stream_arrivals(writer.get());
    outputs.audio_in_place = true;
    ExtractionRequest walk = r;
    walk.audio_type = AUDIO_TYPE_MPG;  // the writer takes the PES packets with their time stamps
    walk.no_video = false;
    if (!walk_recording(disk, walk, outputs, message, result)) {
        leave_outputs(&files.files, files.names, r, result->sectors_walked, result);
        return 0;
    }
    if (result->nothing_written) {
        say_nothing_written(walk, *result, message);
        return 0;
    }
    if (!finish_program_stream(writer.get(), message)) return 0;
    result->mux = program_stream_counts(writer.get());
    result->repairs = program_stream_repairs(writer.get());
    result->stretches = program_stream_stretches(writer.get());
    if (r.chapters) result->chapters = program_stream_chapters(writer.get(), r.chapter_every_ms);
    for (OutputFilePtr& f : files.files) {
        if (r.output_time >= 0) set_output_time(f.get(), r.output_time);
        if (!commit_output_file(f.release())) {
            put_message(message, "Could not create output file.");
            return 0;
        }
    }
    result->files = files.names;
    return 1;
}

}  // namespace

int extract_recording(DiskHandle disk, const ExtractionRequest& request, char* message,
                      ExtractionResult* result) {
    ExtractionResult ignored;
    if (!result) result = &ignored;
    *result = ExtractionResult();
    ExtractionRequest r = request;
    if (!r.path) r.path = "";
    if (!r.prefix) r.prefix = "";
    if (!check_output_names(r.path, r.prefix, message, &result->names)) return 0;
    if (r.audio_type != AUDIO_TYPE_MPG) r.audio_type = AUDIO_TYPE_MP2;
    int ok = r.mux ? extract_to_one_file(disk, r, message, result)
                   : extract_to_files(disk, r, message, result);
    if (!ok) return 0;
    put_message(message, "The extraction has completed successfully.");
    return 1;
}

}  // namespace quarrow
