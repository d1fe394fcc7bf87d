// The parts of the one-file writer and what passes between them (program_stream.h is its face):
//   picture timing (video_timing.cpp): the video elementary stream cut into pictures, each given
//     its decoding and presentation time;
//   audio frame placement (audio_placement.cpp): the audio PES packets cut into frames, each
//     placed on the video's time line by its broadcast time stamp;
//   cuts (stretch_cut.cpp): what lies outside the stretches kept dropped from the timed
//     pictures and placed frames before any of it is sent, the rest moved to run on;
//   pack writing (pack_writer.cpp): packs, PES packets and navigation packs laid out and handed
//     to the output as spans; the only part that knows the file is an MPEG program stream;
//   the multiplex (program_stream.cpp): which pack goes next and when, and the parts of a split
//     output; or, for a Matroska file, the Matroska feed (matroska_mux.cpp), which interleaves
//     the pictures and frames into blocks by decoding time and knows no packs.
// Timing and placement know no container: they hand over timed pictures and placed frames as
// queues, which the pack writer (or the Matroska feed) drains. Times are ticks of the 27 MHz system
// clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "disk/hooks.h"
#include "extract/program_stream.h"

namespace quarrow {

constexpr int64_t CLOCK = 27000000;
constexpr int64_t TICKS_PER_PTS = 300;  // PTS and DTS count the clock's 90 kHz part
constexpr int64_t PTS_WRAP = int64_t(1) << 33;

// "HH:MM:SS" of a time from the start of the video, for the notices.
std::string clock_text(int64_t ticks);

// A gap as the parts find it, in ticks from the first picture (StreamRepair says it in ms).
struct Repair {
    int64_t at = 0, duration = 0;  // for video: the time held, the pictures dropped included
    // Video pictures that came after the loss and were dropped for want of their reference
    // pictures, and the time they would have been shown.
    int64_t dropped_pictures = 0, dropped = 0;
    bool video = false, audio = false;
    RepairCause cause = LOST_IN_RECEPTION;
};

// Stream offsets that the walk marked (StreamArrivals): where the video stood as audio arrived.
struct ArrivalMark {
    int64_t video_at, audio_at;
};
constexpr size_t MAX_ARRIVAL_MARKS = 1 << 16;

// Whether a mark of unreadable sectors lies in the stream stretch (after, upto]: the gap found
// there is the disk's, not the broadcast's. Marks before `after` leave the list.
bool unreadable_between(std::deque<int64_t>& marks, int64_t after, int64_t upto);

struct AudioPlacement;

// ---- Picture timing ----

// One picture of the video elementary stream (two field pictures of one frame count as one),
// with the sequence and GOP headers that precede it. Its bytes stay where the video stream holds
// them (VideoBytes); only a sequence header put before them is its own. Offsets count from its
// first byte as written, the inserted header first.
struct VideoUnit {
    int64_t begin = 0, end = 0;     // its bytes in the video stream
    std::vector<uint8_t> inserted;  // a sequence header written before them
    int picture_at = -1;            // offset of its (first) picture start code
    int type = 0;
    int fields = 2;            // fields it is shown for
    bool opens_gop = false;    // begins a group of pictures: a navigation pack goes before it
    bool group_start = false;  // begins a group (by its GOP header, or a sequence header and an
                               // I-picture where there are none): temporal references count anew
    int gop_at = -1;
    bool closed_gop = false;
    bool broken_link = false;  // its GOP header goes out with broken_link set
    bool has_sequence = false;
    int sequence_at = -1;
    int temporal_reference = 0;
    int64_t time_code = -1;  // its GOP's time_code as a frame count; -1: none
    bool timed = false;
    int64_t pts = 0, dts = 0;
    size_t sent = 0;
    size_t size() const { return inserted.size() + size_t(end - begin); }
};

// The video stream's bytes within the writer's reach: those it keeps between calls (from stream
// offset kept_at on), followed during a call by the caller's spans, read where they lie. Packs
// sent during the call point straight into the spans; at its end only what is still needed
// moves into `kept`.
struct VideoBytes {
    std::vector<uint8_t> kept;
    int64_t kept_at = 0;
    const ByteSpan* input = nullptr;
    int input_count = 0;
    std::vector<int64_t> input_at;  // stream offset of each span
    int64_t end = 0;                // stream offset after the last byte
    int cursor = 0;                 // the span the last look-up found
};

struct VideoTiming {
    VideoBytes bytes;
    int64_t pending_from = 0;  // where the picture being gathered begins in the stream
    int64_t scanned = 0;       // start codes before this stream offset are handled
    int pictures_in_pending = 0;
    int pending_structure = 3;  // picture_structure of its first picture (3: a frame)
    VideoUnit unit;             // what is known of the pending picture
    int frame_rate_code = 3;
    bool progressive_sequence = false;
    std::vector<uint8_t> sequence_header;  // the last, with its extensions
    bool started = false;                  // the first I-picture was met
    bool dropping_leading_b = false;
    std::deque<VideoUnit> queue;  // decode order; timed ones first
    size_t untimed_from = 0;      // index of the first unit not yet timed
    size_t held = 0;              // bytes in `queue`
    bool first_group = true;
    int64_t display_clock = 0;
    int64_t last_anchor_pts = 0;
    int64_t first_picture_pts = 0;  // where the first I-picture is shown
    int64_t pictures = 0, dropped = 0;
    // Pictures dropped once timing began since the last group was timed, and their time: after a
    // loss, what the gap before the next group holds beside the pictures the stream lost.
    int64_t dropped_since_group = 0, dropped_ticks = 0;
    // Gaps in the video, found by the GOP time codes (once two of them have run with the
    // pictures) or by the temporal references within a group; the pictures after a loss are
    // dropped up to the next group, and the video resumes at its true time.
    bool codes_running = false;
    int64_t code_origin = 0;  // display time of time code 0, from the last group's code
    bool have_code = false;
    int prev_anchor_tr = 0;
    bool broken = false;  // pictures were lost: the next group opens with an I-picture
    std::vector<Repair> repairs;
    const OperationHooks* hooks = nullptr;
    // Where the time codes say nothing (absent, or the same in every group), gaps are found by
    // the audio clock: how far each group's first anchor is shown after the audio that arrived
    // just before it. That lead stays within a bounded distance while the video is whole and
    // falls by the lost time after a loss.
    const AudioPlacement* audio = nullptr;
    std::deque<ArrivalMark> arrivals;
    bool have_lead = false;
    int64_t lead = 0;
    // The last group came after a gap, whose time was the least the audio allowed: the next
    // group tells the rest.
    bool gap_unsure = false;
    bool lost_before_group = false;  // pictures were found lost since the last group began
    int64_t group_begin = 0;         // stream offset of the last group's first anchor
    std::deque<int64_t> unreadable;  // video offsets where unreadable sectors were stepped over
};

// Video held while the audio is missing (a long gap in the broadcast) before packs go out
// regardless; bounds the writer's memory.
constexpr size_t MAX_HELD_VIDEO = 20u << 20;

// The caller's spans join the stream: pictures that end in them are queued and timed.
void take_video(VideoTiming& t, const ByteSpan* spans, int count);
// At the end of a call: what is still needed moves out of the caller's spans.
void keep_video_bytes(VideoTiming& t);
// The last picture ends with the stream; every queued picture gets its time.
void finish_video(VideoTiming& t);
// Bytes of timed pictures that may go out next, counted up to `limit`: up to the next group of
// pictures (which has a navigation pack before it) or the first picture not yet timed.
struct VideoWindow {
    int64_t bytes = 0;
    bool ends_at_group = false;
};
VideoWindow timed_video(const VideoTiming& t, int64_t limit);
// Pictures whose bytes have all been sent leave the queue.
void drop_sent_pictures(VideoTiming& t);
int64_t frame_ticks(const VideoTiming& t);
int64_t shown_ticks(const VideoTiming& t, const VideoUnit& u);
// Puts the last sequence header before a picture that has none, where the file (or a part of it)
// begins with that picture; its offsets move behind the header.
void insert_sequence_header(const VideoTiming& t, VideoUnit& u);
// The byte at stream offset `at` (kept_at <= at < end) and how many follow it in one piece.
const uint8_t* locate(VideoBytes& v, int64_t at, size_t* run);
void copy_video(VideoBytes& v, int64_t at, size_t n, uint8_t* to);

// ---- Audio frame placement ----

struct AudioFrame {
    std::vector<uint8_t> bytes;
    int64_t pts = 0;
    size_t sent = 0;
};

struct AudioPlacement {
    const OperationHooks* hooks = nullptr;
    int64_t origin = 0;        // where the first frame goes: the first picture plus the offset
    int64_t video_origin = 0;  // the first picture, for the times the notices name
    // The PES packet being read: its header gathered here (it may straddle the walk's
    // payloads), then its payload taken where it lies, straight into the frame being gathered.
    uint8_t pes_head[9 + 255] = {};
    int pes_have = 0;          // header bytes gathered
    int pes_need = 9;          // header bytes the packet has (9 until its length byte is read)
    int64_t payload_left = 0;  // payload bytes of the packet still to come
    int64_t packet_pts = -1;   // its stamp (90 kHz), until the first frame begun in it takes it
    int64_t packet_at = -1;    // where a stamped packet begins in the audio stream, likewise
    int64_t packet_serial = 0;
    // The frame being gathered (frame_need bytes long once its header is known); the header
    // bytes of a frame that straddles two packets wait in `head`, each with the stamp it could
    // take.
    std::vector<uint8_t> frame;
    size_t frame_need = 0;
    int64_t frame_pts = -1;
    int64_t frame_at = -1;
    uint8_t head[4] = {0, 0, 0, 0};
    int64_t head_pts[4] = {-1, -1, -1, -1};
    int64_t head_at[4] = {-1, -1, -1, -1};
    int64_t head_serial[4] = {0, 0, 0, 0};
    int head_have = 0;
    uint8_t first_header[4] = {0, 0, 0, 0};
    bool started = false;
    int64_t last_source = 0;    // the previous frame's broadcast time, unwrapped, in ticks
    int64_t last_pts90 = 0;     // and as the 33-bit value
    int64_t source_anchor = 0;  // broadcast time of the frame the time base starts with
    int64_t out_anchor = 0;     // where that frame was placed
    int64_t next_out = 0;       // where the frame after the last one placed begins
    std::deque<AudioFrame> queue;
    int64_t jumps = 0;  // new time bases
    int64_t frames = 0, silent = 0, dropped = 0;
    std::vector<Repair> repairs;
    int64_t received = 0;  // audio stream bytes taken so far
    int64_t last_at = -1;  // where the packet of the last frame placed begins
    // The audio clock as the video sees it: where each stamped packet begins in the stream and
    // where its first frame was placed.
    std::deque<std::pair<int64_t, int64_t>> clock;
    std::deque<int64_t> unreadable;  // audio offsets where unreadable sectors were stepped over
};

constexpr size_t MAX_CLOCK_ENTRIES = 1 << 14;
// Where the audio that began before stream offset `at` was placed: the last stamped packet's
// first frame; -1 when none is placed yet.
int64_t audio_clock_before(const AudioPlacement& a, int64_t at);

constexpr size_t MAX_HELD_FRAMES = 4000;
constexpr int64_t MAX_JUMP_NOTICES = 5;

// Audio PES packets join the audio: frames that end in them are placed and queued.
void take_audio(AudioPlacement& a, const ByteSpan* spans, int count);
// Unsent bytes of the queued frames, counted up to `limit`.
int64_t unsent_audio(const AudioPlacement& a, int64_t limit);
void drop_sent_frames(AudioPlacement& a);
// The notice that closes the audio: how many more time-base jumps there were.
void finish_audio(AudioPlacement& a);

// ---- Cuts ----

// A stretch as the cut let it fall, in ticks on the time line the parts give (before the cut):
// from the first picture it shows to where the group after its last would be shown. Its times
// go out `shift` earlier; its audio `audio_shift` earlier, which differs from shift by under half
// an audio frame so that the audio runs on without a gap or an overlap across the join.
struct CutStretch {
    int64_t begin = 0, end = INT64_MAX;
    int64_t shift = 0, audio_shift = 0;
    bool audio_started = false;
    size_t asked = 0;  // index in the stretches asked for
};

// What lies outside the stretches asked for is dropped from the timed pictures and the placed
// frames before any of it is sent; what is kept has its times moved to follow on from the
// stretch before. Pictures are decided a group at a time: a stretch begins with the group that
// holds its start (begin_after: the first at or after it) and ends before the first group that
// begins at or after its end. Audio frames wait in `waiting` until the video tells which
// stretch they fall in.
struct StretchCut {
    bool active = false;
    std::vector<TimeStretch> asked;
    size_t next = 0;          // the stretch being looked for, or the one inside
    bool inside = false;      // in stretch `next`, its end not yet met
    bool keeping = false;     // the group being decided follows the stretch inside
    bool dropped = false;     // pictures were dropped since the last one kept
    int64_t decided_end = 0;  // pictures that end at or before this stream offset are decided
    std::vector<CutStretch> kept;
    std::vector<int64_t> joins;    // where each join lies in the file, ticks from its first picture
    int64_t last_dts = INT64_MIN;  // of the last picture kept, as it goes out
    int64_t out_end = 0;           // where the last picture kept stops being shown, as it goes out
    std::deque<AudioFrame> waiting;
    int64_t frames_seen = 0;  // AudioPlacement::frames when the frames were last looked at
    int64_t audio_end = 0;    // where the last frame let through ends, as it goes out
    bool any_audio = false;
    int64_t audio_floor = INT64_MIN;  // frames before this and outside a kept stretch are dropped
    // Between stretches: audio from past the end of the last one was met, so nothing more will
    // join what is queued before the next stretch begins.
    bool audio_past_end = false;
};

// Decides what it can of the timed pictures and placed frames (at the stream's end: all). false
// while the picture at the front of the queue is not decided yet.
bool cut_to_stretches(StretchCut& c, VideoTiming& t, AudioPlacement& a, bool at_end);
// Whether what is queued of the stretches kept so far is all there will be until the next one
// begins: it goes out without waiting for the other stream (which would hold the video of a
// dropped stretch in memory).
bool cut_between_stretches(const StretchCut& c, const AudioPlacement& a);
// Where a time of the recording (ticks on the parts' time line) lies in the file, or -1 where
// the cut dropped it.
int64_t cut_time_in_file(const StretchCut& c, int64_t at);

// ---- Pack writing ----

constexpr int PACK_HEADER_SIZE = 14;
constexpr int PES_ROOM = PACK_SIZE - PACK_HEADER_SIZE;  // for one PES packet (and padding)
constexpr int64_t MUX_BYTES_PER_SECOND = int64_t(PROGRAM_MUX_RATE) * 50;
// One pack's transfer time at the mux rate, rounded up.
constexpr int64_t PACK_TICKS =
    (PACK_SIZE * CLOCK + MUX_BYTES_PER_SECOND - 1) / MUX_BYTES_PER_SECOND;

// Bytes in a decoder buffer and when they leave it (the DTS of their picture, the PTS of their
// frame), in the order they came.
struct DecoderBuffer {
    int64_t size = 0;
    std::deque<std::pair<int64_t, int64_t>> held;  // (leaves at, bytes)
    int64_t bytes = 0;
    void advance(int64_t now);
    // The earliest time from `now` on at which `need` more bytes fit.
    int64_t room_at(int64_t now, int64_t need) const;
    void add(int64_t leaves_at, int64_t n);
};

constexpr size_t OUTPUT_CHUNK = 256 * 1024;
constexpr size_t OUT_CAPACITY = OUTPUT_CHUNK + 2 * PACK_SIZE;
constexpr size_t MAX_OUT_SPANS = 1024;  // as many as one writev takes on Linux

// The packs not yet written, as spans in file order: pieces of `out` (OUT_CAPACITY bytes), which
// holds what the writer makes itself (headers, padding, audio, inserted sequence headers), and
// video bytes where they lie, in the caller's spans or in `kept`. They are written before those
// bytes can go: at the end of every call with video, and whenever the list or `out` is full.
struct PackWriter {
    ProgramStreamOutput output;
    bool write_failed = false;
    int64_t part_bytes = 0;
    std::unique_ptr<uint8_t[]> out;
    size_t out_used = 0;
    std::vector<ByteSpan> spans;
};

bool init_pack_writer(PackWriter& p, const ProgramStreamOutput& output);
// Hands the packs made so far to the output; false once a write has failed.
bool flush_packs(PackWriter& w);
// A navigation pack: it marks where a video object unit (one group of pictures) begins.
void write_navigation_pack(PackWriter& w, int64_t scr);
// One video PES packet at scr from the front of the timed pictures; their bytes enter `buffer`.
void write_video_pack(PackWriter& w, VideoTiming& t, DecoderBuffer& buffer, int64_t scr);
// One audio PES packet at scr of at most `limit` bytes from the front of the placed frames.
void write_audio_pack(PackWriter& w, AudioPlacement& a, DecoderBuffer& buffer, int64_t scr,
                      int64_t limit = PES_ROOM);
// The end code, in a last pack of padding at scr.
void write_end_pack(PackWriter& w, int64_t scr);

// ---- The Matroska feed (matroska_mux.cpp) ----

struct MatroskaFeed;
void destroy_matroska_feed(MatroskaFeed* f);
// Whether the file has begun; begins it once its tracks are known: the video's from the sequence
// header of the first timed picture, the audio's from the first placed frame, or none when no
// audio has come by `force` (or while too much video waits). A picture whose sequence header
// cannot be read is left out. false until then, and after a failed write (*failed set).
bool matroska_feed_started(MatroskaFeed& f, VideoTiming& t, const AudioPlacement& a, bool force,
                           bool* failed);
// Hands over the picture at the front of the timed ones or the frame at the front of the placed
// ones, whichever is decoded first; it leaves its queue. Until the other stream has one to
// compare with, nothing goes, unless `force` (or the file has no track for the other). false
// when nothing went, or a write failed (*failed set).
bool feed_matroska_next(MatroskaFeed& f, VideoTiming& t, AudioPlacement& a, bool force,
                        bool* failed);
// Hands the blocks given to the output: before the video bytes they point at can change.
bool flush_matroska_feed(MatroskaFeed& f);
// The blocks not yet written, the chapters (when the texts asked for them at the end), the cues
// and the sizes; false when a write failed.
bool finish_matroska_feed(MatroskaFeed& f, const std::vector<StreamChapter>& chapters);

// The one-file writer with the Matroska feed as its output instead of packs (it owns the feed):
// the same timing, placement, stretch, notices and repairs.
ProgramStreamWriter* create_matroska_feed_writer(const ProgramStreamOptions& options,
                                                 MatroskaFeed* feed, const OperationHooks* hooks);

}  // namespace quarrow
