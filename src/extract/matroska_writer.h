// The Matroska writer: MPEG-2 video pictures and MPEG audio frames into one .mkv file, with cues
// for seeking, chapters and the recording's tags, in one pass and bounded memory.
//
// The file: the EBML header, then one Segment holding a SeekHead, Info, Tracks, Chapters (when
// any), Tags, the Clusters and last the Cues. Times count in milliseconds from the caller's
// origin. Pictures and audio frames become SimpleBlocks (key flag on pictures that open a group
// of pictures) in the order given; a new Cluster opens at every key picture, and each such
// Cluster gets a cue point. Blocks are written as they come, their bytes where the caller holds
// them: no media is held. Fixed-width fields are patched once known: each Cluster's size when it
// closes, and at the end the Segment's size, the Duration and the Cues' place in the SeekHead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/output_file.h"

namespace quarrow {

// Where the file goes: write appends; patch overwrites bytes already written (offsets from the
// file's start). false when the system refused.
struct MatroskaOutput {
    void* context;
    bool (*write)(void* context, const ByteSpan* spans, int count);
    bool (*patch)(void* context, int64_t offset, const void* bytes, size_t size);
};

struct MatroskaVideoTrack {
    bool present = false;
    int width = 0, height = 0;           // pixels
    int display_width = 0;               // square-pixel width the picture is shown at (0: width)
    int64_t frame_ns = 0;                // nanoseconds per frame
    std::vector<uint8_t> codec_private;  // sequence header and its extensions
};

struct MatroskaAudioTrack {
    bool present = false;
    int layer = 2;  // 1, 2 or 3: A_MPEG/L1, /L2, /L3
    int sample_rate = 0;
    int channels = 0;
    int64_t frame_ns = 0;  // nanoseconds per frame
};

struct MatroskaChapter {
    int64_t time_ms;
    std::string name;  // UTF-8
};

// Texts are UTF-8; empty ones are left out.
struct MatroskaParams {
    MatroskaVideoTrack video;
    MatroskaAudioTrack audio;
    int64_t origin_pts = 0;  // the 90 kHz time that is 0 in the file; earlier times become 0
    std::string title;
    std::string channel;
    std::string date_iso;           // ISO 8601, as the record gives the start
    int64_t date_unix = -1;         // the same as seconds since 1970, -1: unknown
    int64_t duration_seconds = -1;  // the record's; -1: none
    std::string application;        // MuxingApp and WritingApp
    std::vector<MatroskaChapter> chapters;
    // The chapters are known only once the media is written (the joins of a cut, the gaps
    // repaired): room is kept for them before the first Cluster, and finish_matroska writes
    // there those set_matroska_chapters gave (after the Clusters when they do not fit); the
    // SeekHead points to them. `chapters` is not written at the start.
    bool chapters_at_end = false;
};

// Fills a video track from a sequence header at p (00 00 01 B3 ...) and the extensions that
// follow it within n bytes; false when p holds no usable sequence header.
bool matroska_video_from_sequence(const uint8_t* p, size_t n, MatroskaVideoTrack* out);

struct MatroskaWriter;

// Writes everything before the first Cluster. Null when memory runs short or the write fails.
MatroskaWriter* create_matroska_writer(const MatroskaParams& params, const MatroskaOutput& output);
void destroy_matroska_writer(MatroskaWriter* writer);

// One picture (key: it opens a group of pictures; its bytes in pieces) or one audio frame, with
// its PTS in 90 kHz ticks, in the order they go into the file: the caller interleaves them by
// decoding time. The bytes are not copied: they must stay as they are until matroska_flush (or
// finish_matroska) has returned, or the writer flushes by itself, which a call may do. false
// once a write has failed.
bool matroska_video(MatroskaWriter* writer, const ByteSpan* pieces, int count, int64_t pts,
                    bool key);
bool matroska_audio(MatroskaWriter* writer, const uint8_t* bytes, size_t size, int64_t pts);
// The same with the bytes moved into the writer, which keeps them until they are written.
bool matroska_video(MatroskaWriter* writer, std::vector<uint8_t>&& bytes, int64_t pts, bool key);
bool matroska_audio(MatroskaWriter* writer, std::vector<uint8_t>&& bytes, int64_t pts);
// Hands what was given to the output, after which the caller's bytes may change.
bool matroska_flush(MatroskaWriter* writer);

// With chapters_at_end: the chapters finish_matroska writes (times in ms of the file).
void set_matroska_chapters(MatroskaWriter* writer, const std::vector<MatroskaChapter>& chapters);

// Writes what is held, the Cues, and patches the sizes; false when a write failed.
bool finish_matroska(MatroskaWriter* writer);

struct MatroskaCounts {
    int64_t clusters = 0;
    int64_t cue_points = 0;
    int64_t video_blocks = 0;
    int64_t audio_blocks = 0;
    int64_t duration_ms = 0;
};
MatroskaCounts matroska_counts(const MatroskaWriter* writer);

}  // namespace quarrow
