// The stream filters: which bytes of a block's payload reach the output files.
//
// The video filter makes the ".m2v" begin at the first MPEG video sequence header (00 00 01 B3).
// The audio filter makes the audio file begin at the first MPEG audio PES start code
// (00 00 01 C0 or C1) and then writes the PES packets as they stand (".mpg") or with their
// 14-byte headers removed where an MPEG-1 Layer II frame with CRC (FF FC) follows (".mp2").
// A look-ahead on the video side serves the engine's video sync.
//
// Everything the filters remember between payloads (the waiting flags, the header remover's
// carry, the audio tail kept while waiting for the first start code) lives in one
// StreamFilterState that the walk owns, so nothing passes from one extraction to the next.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/output_file.h"

namespace quarrow {

// Where a filter's output goes: an output file (output_file_sink), the program stream writer's
// video or audio input, or a test's memory. write gets the spans in order and gives false when
// they could not be written.
struct ByteSink {
    void* context;
    bool (*write)(void* context, const ByteSpan* spans, int count);
};

bool sink_write(const ByteSink* sink, const void* bytes, int64_t count);

// Audio type: what the audio filter writes.
constexpr int AUDIO_TYPE_MPG = 1;  // the audio PES packets unchanged, "<prefix>.mpg"
constexpr int AUDIO_TYPE_MP2 = 2;  // PES headers removed: an MPEG audio stream, "<prefix>.mp2"

// A sink that writes to the file.
ByteSink output_file_sink(OutputFile* file);

constexpr int PES_HEADER_LENGTH = 14;    // the removed header: start code, length, flags, PTS
constexpr int PENDING_TAIL_LENGTH = 28;  // audio carried across payloads while waiting
constexpr int PES_LOOKAHEAD = 16;        // a header match needs these bytes from its start
constexpr int PES_CARRY_SIZE = 2 * PES_LOOKAHEAD;
// Audio leaves the header remover in stretches of a few hundred bytes (one frame between two
// headers); they are gathered here so that the audio file is written in large pieces.
constexpr int AUDIO_OUTPUT_BUFFER = 64 * 1024;

// The header remover's carry: the last bytes of the previous audio data not yet examined as a
// possible header start (at most 16 between calls), with the next data's first 16 appended
// during a call.
struct PesCarry {
    uint8_t bytes[PES_CARRY_SIZE];
    int count;
};

// The last bytes of the previous audio payload, kept while the first audio start code has not
// been found, so that a start code cut by a payload boundary is still found.
struct PendingTail {
    uint8_t bytes[PENDING_TAIL_LENGTH];
    int length;
    bool exists;
};

struct StreamFilterState {
    bool video_waiting;  // no sequence header written yet
    bool audio_waiting;  // no audio start code found yet
    PesCarry pes_carry;
    PendingTail pending_tail;
    uint8_t audio_output[AUDIO_OUTPUT_BUFFER];  // audio not yet handed to the file
    int audio_output_count;
    // The audio goes to its sink where it lies, ungathered: the sink takes it apart itself (the
    // one-file writers). Set by the walk after the reset.
    bool audio_in_place;
};

// A walk's start: both waiting flags set, the carry emptied, no tail, no audio output waiting.
void reset_stream_filters(StreamFilterState* state);

// Writes the gathered audio output to the file; the walk calls it at its end (and before it
// gives up, so that the file holds what passed the filter). 1 on success, 0 when the write failed.
int flush_audio_output(StreamFilterState* state, const ByteSink* audio);

// Offset of the first 00 00 01 B3 that starts at an offset below count and whose four bytes lie
// within the first `readable` bytes, or -1.
int64_t find_sequence_header(const uint8_t* bytes, int64_t count, int64_t readable);

// True when 00 00 01 B3 starts at some offset 0 ... count - 1 (the code may reach up to three
// bytes past count, never past `readable`); a count of 0 counts as true, a negative one as false.
bool contains_sequence_header(const uint8_t* bytes, int64_t count, int64_t readable);

// Whether the next video block after the one whose payload starts at `payload` holds a sequence
// header start code. Scans sector by sector from payload + 512 for a video block header, never
// past loaded_end (the end of the data loaded into the working buffer); when none is found
// there, or the found block's data is not loaded, the answer is false.
bool sequence_header_ahead(const uint8_t* payload, const uint8_t* loaded_end);

// The same look-ahead over a window that may end before the loaded data does (the engine reads
// the next cluster only when the walk needs it): 1 or 0 as above, or -1 when the answer lies
// beyond window_end and more_loaded says that data is still to come there.
int look_ahead_sequence_header(const uint8_t* payload, const uint8_t* window_end, bool more_loaded);

// Video filter. While waiting, drops payloads until one holds a sequence header and writes it
// from there; afterwards writes each payload whole. `readable` (>= count) bounds the start-code
// search. 1 on success, 0 when the write failed.
int write_video_block(StreamFilterState* state, const ByteSink* video, const uint8_t* payload,
                      int64_t count, int64_t readable);

// True for 00 00 01 C0 and 00 00 01 C1.
bool is_audio_start_code(const uint8_t* bytes);

// Audio filter. While waiting, looks for the first audio start code (across the previous
// payload's tail) and drops what precedes it; then writes the data unchanged (AUDIO_TYPE_MPG) or
// through strip_pes_headers (any other type); audio output is gathered in the state and reaches
// the file in large writes (flush_audio_output). 1 on success, 0 when a write failed.
int write_audio_block(StreamFilterState* state, const ByteSink* audio, const uint8_t* payload,
                      int64_t count, int audio_type);

// PES header remover: writes the bytes with every 14-byte audio PES header that is followed by
// FF FC taken out, the decision being the same however the stream is cut into calls; the last
// 3 to 16 bytes of each call wait in the carry for the next one. 1 on success, 0 when a write
// failed.
int strip_pes_headers(StreamFilterState* state, const ByteSink* audio, const uint8_t* bytes,
                      int64_t count);

void reset_pes_carry(StreamFilterState* state);

bool tail_pending(const StreamFilterState* state);
// Replaces the tail by the last PENDING_TAIL_LENGTH (or fewer) of the given bytes.
void tail_keep(StreamFilterState* state, const uint8_t* bytes, int64_t length);
// The tail followed by as many of the given bytes as fit in out_size; gives the joined length.
// The tail stays; tail_drop releases it.
int tail_join(const StreamFilterState* state, const uint8_t* bytes, int64_t length, uint8_t* out,
              int out_size);
void tail_drop(StreamFilterState* state);

}  // namespace quarrow
