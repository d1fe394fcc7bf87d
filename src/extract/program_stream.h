// The program stream writer: muxes the extraction's video elementary stream and its audio PES
// packets into one MPEG-2 program stream (".mpg") as DVD authoring tools take it, in the same
// pass as the walk and in bounded memory.
//
// Packs of 2048 bytes; a navigation pack (system header, PCI and DSI placeholders) opens every
// group of pictures; video PES packets carry PTS and DTS worked out from the frame cadence (frame
// rate, temporal order of I/P/B pictures, repeated fields); audio PES packets carry the PTS each
// frame is placed at. The first audio frame is presented with the first I-picture (plus the
// requested offset); every later one at that time plus the distance of its own broadcast time
// stamp from the first's, so audio lost in the broadcast leaves silence, not a shift. The SCR of
// each pack keeps the decoder's buffers (video 232 KiB, audio 4 KiB) from overflowing and every
// byte in them before its decoding time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/hooks.h"
#include "extract/cut_list.h"
#include "extract/stream_filters.h"

namespace quarrow {

constexpr int PACK_SIZE = 2048;
constexpr int64_t VIDEO_BUFFER_BYTES = 232 * 1024;
constexpr int64_t AUDIO_BUFFER_BYTES = 4 * 1024;
// program_mux_rate in units of 50 bytes/s: 10.08 Mbit/s, the most a DVD player reads.
constexpr uint32_t PROGRAM_MUX_RATE = 25200;
// The smallest part --split allows.
constexpr int64_t MIN_SPLIT_BYTES = 1 << 20;

// Where the writer's files go. begin_part creates the next file (part 1, 2, ... when the output
// is split, part 0 for the only one) and make it the target of write; false when it cannot.
struct ProgramStreamOutput {
    void* context;
    bool (*begin_part)(void* context, int part);
    bool (*write)(void* context, const ByteSpan* spans, int count);
};

struct ProgramStreamOptions {
    int64_t av_offset_ms = 0;  // audio later by this much (negative: earlier)
    int64_t split_bytes = 0;   // parts of at most this size, cut before a group of pictures; 0: one
    // A stretch by time from the recording's first picture, in ms (-1: from its start, to its
    // end): from the first group of pictures that begins at or after from_ms, up to the first
    // that begins at or after to_ms, the audio cut at the same times.
    int64_t from_ms = -1, to_ms = -1;
    // The stretches to keep, in order (cut_list.h); when given, from_ms and to_ms are not read
    // (stretches_to_keep folds them in). Each stretch is cut as the range is; across each join
    // the time stamps run on without a jump, the audio placed within half a frame of its
    // picture, and an open group of pictures after a join loses its leading B-pictures.
    std::vector<TimeStretch> stretches;
    // A Matroska output whose texts ask for chapters_at_end: the chapters it ends with are
    // program_stream_chapters(writer, chapter_every_ms).
    int64_t chapter_every_ms = 0;
};

struct ProgramStreamWriter;

// Null when memory runs short. hooks (may be null) get the notices: audio time stamps that jump,
// a group of pictures larger than a part.
ProgramStreamWriter* create_program_stream(const ProgramStreamOptions& options,
                                           const ProgramStreamOutput& output,
                                           const OperationHooks* hooks);
void destroy_program_stream(ProgramStreamWriter* writer);

// The sinks the walk's video filter and audio filter (unchanged PES packets) write to.
ByteSink program_stream_video_sink(ProgramStreamWriter* writer);
ByteSink program_stream_audio_sink(ProgramStreamWriter* writer);

// Where the walk stood in both streams (bytes handed to each sink so far) as an audio block
// arrived, or as it stepped over sectors that read as zeros because they were unreadable. The
// receiver records both streams as they came in, so a video byte lies within a bounded distance
// of the audio presented at about the same time: the writer times video against the audio clock
// where the stream's own time codes say nothing, and tells a gap the disk lost from one lost in
// reception.
struct StreamArrivals {
    void* context;
    void (*mark)(void* context, int64_t video_bytes, int64_t audio_bytes, bool unreadable);
};
StreamArrivals program_stream_arrivals(ProgramStreamWriter* writer);

// Writes what is still held and the program end code. false when a write failed; message then
// says so.
bool finish_program_stream(ProgramStreamWriter* writer, char* message);

// Offset of the first start code (00 00 01) wholly within p[0, n), or n when there is none.
size_t find_start_code_in(const uint8_t* p, size_t n);

// Figures for the closing report of an extraction and for tests.
struct ProgramStreamCounts {
    int64_t video_pictures = 0;    // pictures written
    int64_t dropped_pictures = 0;  // before the first I-picture, or leading B-pictures of it
    int64_t audio_frames = 0;      // frames written, silent ones included
    int64_t silent_frames = 0;     // inserted into gaps
    int64_t dropped_frames = 0;    // overlapping their predecessor
    int parts = 0;
};
ProgramStreamCounts program_stream_counts(const ProgramStreamWriter* writer);

// A gap the writer met and mended: where in the recording (from its first picture), how long,
// in which streams, and why. Audio gaps are filled with silence; during a video gap decoders
// hold the last picture, the next one being shown at its true time.
enum RepairCause {
    LOST_IN_RECEPTION = 1,   // the time stamps (or time codes) jump ahead
    TIME_BASE_JUMP = 2,      // they jump back or far ahead: the broadcast's clock was reset
    UNREADABLE_ON_DISK = 3,  // the sectors that held it could not be read (read as zeros)
};
// duration_ms is what the streams lost; after a video loss the pictures up to the next group of
// pictures, which refer to lost ones, are dropped too and held over beside it (dropped_*).
struct StreamRepair {
    int64_t at_ms = 0, duration_ms = 0;
    int64_t dropped_pictures = 0, dropped_ms = 0;
    bool video = false, audio = false;
    RepairCause cause = LOST_IN_RECEPTION;
};
// Every gap met, in time order; a gap of both streams at the same time is one.
std::vector<StreamRepair> program_stream_repairs(const ProgramStreamWriter* writer);
// A chapter of the file written: at its start, after each join of a cut, at each gap repaired,
// and every every_ms of the file's time when asked (every_ms > 0); in the file's time (ms from
// its first picture), in time order.
struct StreamChapter {
    int64_t at_ms = 0;
    std::string name;
};
std::vector<StreamChapter> program_stream_chapters(const ProgramStreamWriter* writer,
                                                   int64_t every_ms);
// Each stretch kept as the groups of pictures let it fall (recording time, ms), beside the one
// asked for.
struct KeptStretchTimes {
    int64_t begin_ms = 0, end_ms = 0;  // end_ms -1: the recording's end
    TimeStretch asked;
};
std::vector<KeptStretchTimes> program_stream_stretches(const ProgramStreamWriter* writer);

// "3 gaps repaired: 2.0 s of audio filled with silence, 0.5 s of video held", or empty.
std::string repairs_summary(const std::vector<StreamRepair>& repairs);
// The cause in words, for notices and the metadata file.
const char* repair_cause_text(RepairCause cause);

}  // namespace quarrow
