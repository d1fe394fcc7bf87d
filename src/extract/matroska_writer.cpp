#include "extract/matroska_writer.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "extract/ebml.h"

namespace quarrow {
namespace {

// Element IDs of the EBML header and of the Matroska elements written here.
constexpr uint32_t EBML = 0x1A45DFA3, EBML_VERSION = 0x4286, EBML_READ_VERSION = 0x42F7,
                   EBML_MAX_ID_LENGTH = 0x42F2, EBML_MAX_SIZE_LENGTH = 0x42F3, DOC_TYPE = 0x4282,
                   DOC_TYPE_VERSION = 0x4287, DOC_TYPE_READ_VERSION = 0x4285, VOID = 0xEC;
constexpr uint32_t SEGMENT = 0x18538067, SEEK_HEAD = 0x114D9B74, SEEK = 0x4DBB, SEEK_ID = 0x53AB,
                   SEEK_POSITION = 0x53AC;
constexpr uint32_t INFO = 0x1549A966, TIMESTAMP_SCALE = 0x2AD7B1, DURATION = 0x4489,
                   DATE_UTC = 0x4461, TITLE = 0x7BA9, MUXING_APP = 0x4D80, WRITING_APP = 0x5741;
constexpr uint32_t TRACKS = 0x1654AE6B, TRACK_ENTRY = 0xAE, TRACK_NUMBER = 0xD7, TRACK_UID = 0x73C5,
                   TRACK_TYPE = 0x83, FLAG_LACING = 0x9C, DEFAULT_DURATION = 0x23E383,
                   LANGUAGE = 0x22B59C, CODEC_ID = 0x86, CODEC_PRIVATE = 0x63A2, VIDEO = 0xE0,
                   PIXEL_WIDTH = 0xB0, PIXEL_HEIGHT = 0xBA, DISPLAY_WIDTH = 0x54B0,
                   DISPLAY_HEIGHT = 0x54BA, AUDIO = 0xE1, SAMPLING_FREQUENCY = 0xB5,
                   CHANNELS = 0x9F;
constexpr uint32_t CLUSTER = 0x1F43B675, CLUSTER_TIMESTAMP = 0xE7, SIMPLE_BLOCK = 0xA3;
constexpr uint32_t CUES = 0x1C53BB6B, CUE_POINT = 0xBB, CUE_TIME = 0xB3, CUE_TRACK_POSITIONS = 0xB7,
                   CUE_TRACK = 0xF7, CUE_CLUSTER_POSITION = 0xF1;
constexpr uint32_t CHAPTERS = 0x1043A770, EDITION_ENTRY = 0x45B9, EDITION_UID = 0x45BC,
                   CHAPTER_ATOM = 0xB6, CHAPTER_UID = 0x73C4, CHAPTER_TIME_START = 0x91,
                   CHAPTER_DISPLAY = 0x80, CHAP_STRING = 0x85, CHAP_LANGUAGE = 0x437C;
constexpr uint32_t TAGS = 0x1254C367, TAG = 0x7373, TARGETS = 0x63C0, TARGET_TYPE_VALUE = 0x68CA,
                   SIMPLE_TAG = 0x67C8, TAG_NAME = 0x45A3, TAG_STRING = 0x4487;

constexpr int VIDEO_TRACK = 1, AUDIO_TRACK = 2;
constexpr uint64_t NS_PER_MS = 1000000;  // the TimestampScale: times count in milliseconds
// 2001-01-01T00:00:00Z, from which DateUTC counts, in seconds since 1970.
constexpr int64_t DATE_UTC_EPOCH = 978307200;
// The most one Cluster holds, so that a reader seeking into it has little to read past.
constexpr size_t MAX_CLUSTER_BYTES = 4u << 20;
// Blocks given are handed to the output in one call once this many pieces or own bytes are
// waiting (the caller's flush comes first as a rule).
constexpr size_t MAX_PIECES = 1024;
constexpr size_t MAX_OWN_BYTES = 256u << 10;
// A block's time is a signed 16-bit distance from its Cluster's.
constexpr int64_t MAX_BLOCK_OFFSET = 32767, MIN_BLOCK_OFFSET = -32768;
// Without video, a Cluster (and a cue point) every few seconds.
constexpr int64_t AUDIO_CLUSTER_MS = 5000;
// A Seek entry with a 4-byte ID and an 8-byte position is 21 bytes; a Void of 21 bytes (ID, a
// one-byte size of 19, 19 zeros) takes its place when there are no Cues to point to.
constexpr int SEEK_ENTRY_BYTES = 21;
// Room left before the first Cluster (as a Void) for chapters known only at the end: enough for
// about a hundred; more go after the media.
constexpr size_t CHAPTER_ROOM = 8192;

// A piece of the file not yet handed to the output: `size` bytes of the writer's own from `at`
// (bytes null), or bytes that lie elsewhere and stay as they are until the next flush.
struct Piece {
    const void* bytes;
    size_t at, size;
};

struct Cue {
    int64_t time_ms;
    int64_t cluster_at;  // from the Segment's content
};

}  // namespace

struct MatroskaWriter {
    MatroskaParams params;
    MatroskaOutput output{};
    int64_t written = 0;          // the file's length, what is not yet handed over included
    int64_t flushed = 0;          // what the output has
    bool failed = false;          // a write was refused: every later call fails
    int64_t segment_at = 0;       // where the Segment's content starts
    int64_t segment_size_at = 0;  // its 8-byte size field
    int64_t duration_at = 0;      // the Duration's 8 content bytes
    int64_t cues_seek_at = 0;     // the Seek entry that points to the Cues
    int64_t chapter_room_at = 0;  // the Void kept for chapters_at_end
    // What was given since the last flush: pieces in file order, of `own` (the headers) or of
    // the caller's bytes, and the blocks moved in, kept until they are written.
    EbmlBytes own;
    std::vector<Piece> pieces;
    std::vector<std::vector<uint8_t>> moved;
    std::vector<ByteSpan> spans;
    bool cluster_open = false;
    int64_t cluster_time = 0;
    int64_t cluster_size_at = 0;     // its 8-byte size field in the file
    size_t cluster_size_in_own = 0;  // and in `own` while it is not yet flushed
    int64_t cluster_content_at = 0;
    std::vector<Cue> cues;
    MatroskaCounts counts;
};

namespace {

// What `own` gained from `from` on goes into the file next.
void took_own(MatroskaWriter* w, size_t from) {
    size_t size = w->own.size() - from;
    if (!w->pieces.empty() && !w->pieces.back().bytes &&
        w->pieces.back().at + w->pieces.back().size == from)
        w->pieces.back().size += size;
    else
        w->pieces.push_back({nullptr, from, size});
    w->written += int64_t(size);
}

void put_own(MatroskaWriter* w, const EbmlBytes& bytes) {
    size_t from = w->own.size();
    w->own.insert(w->own.end(), bytes.begin(), bytes.end());
    took_own(w, from);
}

void put_elsewhere(MatroskaWriter* w, const void* bytes, size_t size) {
    if (size == 0) return;
    w->pieces.push_back({bytes, 0, size});
    w->written += int64_t(size);
}

// Hands everything given to the output; false once a write has been refused.
bool flush(MatroskaWriter* w) {
    if (w->failed) return false;
    if (w->pieces.empty()) return true;
    w->spans.clear();
    for (const Piece& p : w->pieces)
        w->spans.push_back({p.bytes ? p.bytes : w->own.data() + p.at, p.size});
    w->failed = !w->output.write(w->output.context, w->spans.data(), int(w->spans.size()));
    w->pieces.clear();
    w->own.clear();
    w->moved.clear();
    w->flushed = w->written;
    return !w->failed;
}

// Overwrites bytes of the file: in `own` (at in_own) while they are not yet handed over, in the
// output once they are.
bool patch(MatroskaWriter* w, int64_t at, size_t in_own, const uint8_t* bytes, size_t size) {
    if (w->failed) return false;
    if (at >= w->flushed) {
        memcpy(w->own.data() + in_own, bytes, size);
        return true;
    }
    w->failed = !w->output.patch(w->output.context, at, bytes, size);
    return !w->failed;
}

bool patch(MatroskaWriter* w, int64_t at, const uint8_t* bytes, size_t size) {
    return flush(w) && patch(w, at, 0, bytes, size);
}

int64_t to_ms(const MatroskaWriter* w, int64_t pts) {
    int64_t t = pts - w->params.origin_pts;
    return t <= 0 ? 0 : (t + 45) / 90;
}

// "01:02:03.000000000", the form Matroska's DURATION tag takes.
std::string duration_text(int64_t seconds) {
    char text[64];
    snprintf(text, sizeof text, "%02lld:%02lld:%02lld.000000000",
             static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
             static_cast<long long>(seconds % 60));
    return text;
}

void simple_tag(EbmlBytes& out, const char* name, const std::string& value) {
    if (value.empty()) return;
    size_t at = ebml_open(out, SIMPLE_TAG);
    ebml_string(out, TAG_NAME, name);
    ebml_string(out, TAG_STRING, value);
    ebml_close(out, at);
}

EbmlBytes info_element(const MatroskaParams& p, size_t* duration_at) {
    EbmlBytes out;
    size_t at = ebml_open(out, INFO);
    ebml_uint(out, TIMESTAMP_SCALE, NS_PER_MS);
    ebml_float(out, DURATION, 0);
    // Where the float's bytes lie within the content, which closing moves.
    size_t duration_in_content = out.size() - 8 - at;
    if (p.date_unix >= 0)
        ebml_uint(out, DATE_UTC, uint64_t((p.date_unix - DATE_UTC_EPOCH) * 1000000000), 8);
    if (!p.title.empty()) ebml_string(out, TITLE, p.title);
    ebml_string(out, MUXING_APP, p.application);
    ebml_string(out, WRITING_APP, p.application);
    size_t content = out.size() - at;
    ebml_close(out, at);
    *duration_at = out.size() - content + duration_in_content;
    return out;
}

EbmlBytes tracks_element(const MatroskaParams& p) {
    EbmlBytes out;
    size_t tracks = ebml_open(out, TRACKS);
    if (p.video.present) {
        const MatroskaVideoTrack& v = p.video;
        size_t entry = ebml_open(out, TRACK_ENTRY);
        ebml_uint(out, TRACK_NUMBER, VIDEO_TRACK);
        ebml_uint(out, TRACK_UID, VIDEO_TRACK);
        ebml_uint(out, TRACK_TYPE, 1);
        ebml_uint(out, FLAG_LACING, 0);
        ebml_string(out, LANGUAGE, "und");
        ebml_string(out, CODEC_ID, "V_MPEG2");
        if (!v.codec_private.empty())
            ebml_binary(out, CODEC_PRIVATE, v.codec_private.data(), v.codec_private.size());
        if (v.frame_ns > 0) ebml_uint(out, DEFAULT_DURATION, uint64_t(v.frame_ns));
        size_t video = ebml_open(out, VIDEO);
        ebml_uint(out, PIXEL_WIDTH, uint64_t(v.width));
        ebml_uint(out, PIXEL_HEIGHT, uint64_t(v.height));
        ebml_uint(out, DISPLAY_WIDTH, uint64_t(v.display_width > 0 ? v.display_width : v.width));
        ebml_uint(out, DISPLAY_HEIGHT, uint64_t(v.height));
        ebml_close(out, video);
        ebml_close(out, entry);
    }
    if (p.audio.present) {
        const MatroskaAudioTrack& a = p.audio;
        size_t entry = ebml_open(out, TRACK_ENTRY);
        ebml_uint(out, TRACK_NUMBER, AUDIO_TRACK);
        ebml_uint(out, TRACK_UID, AUDIO_TRACK);
        ebml_uint(out, TRACK_TYPE, 2);
        ebml_uint(out, FLAG_LACING, 0);
        ebml_string(out, LANGUAGE, "und");
        ebml_string(out, CODEC_ID,
                    a.layer == 1   ? "A_MPEG/L1"
                    : a.layer == 3 ? "A_MPEG/L3"
                                   : "A_MPEG/L2");
        if (a.frame_ns > 0) ebml_uint(out, DEFAULT_DURATION, uint64_t(a.frame_ns));
        size_t audio = ebml_open(out, AUDIO);
        ebml_float(out, SAMPLING_FREQUENCY, double(a.sample_rate));
        ebml_uint(out, CHANNELS, uint64_t(a.channels));
        ebml_close(out, audio);
        ebml_close(out, entry);
    }
    ebml_close(out, tracks);
    return out;
}

EbmlBytes chapters_element(const MatroskaParams& p) {
    EbmlBytes out;
    if (p.chapters.empty()) return out;
    size_t chapters = ebml_open(out, CHAPTERS);
    size_t edition = ebml_open(out, EDITION_ENTRY);
    ebml_uint(out, EDITION_UID, 1);
    for (size_t i = 0; i < p.chapters.size(); ++i) {
        const MatroskaChapter& c = p.chapters[i];
        size_t atom = ebml_open(out, CHAPTER_ATOM);
        ebml_uint(out, CHAPTER_UID, i + 1);
        ebml_uint(out, CHAPTER_TIME_START, uint64_t(c.time_ms < 0 ? 0 : c.time_ms) * NS_PER_MS);
        size_t display = ebml_open(out, CHAPTER_DISPLAY);
        ebml_string(out, CHAP_STRING, c.name);
        ebml_string(out, CHAP_LANGUAGE, "und");
        ebml_close(out, display);
        ebml_close(out, atom);
    }
    ebml_close(out, edition);
    ebml_close(out, chapters);
    return out;
}

EbmlBytes tags_element(const MatroskaParams& p) {
    EbmlBytes out;
    size_t tags = ebml_open(out, TAGS);
    size_t tag = ebml_open(out, TAG);
    size_t targets = ebml_open(out, TARGETS);
    ebml_uint(out, TARGET_TYPE_VALUE, 50);  // the whole programme
    ebml_close(out, targets);
    simple_tag(out, "TITLE", p.title);
    simple_tag(out, "DISTRIBUTED_BY", p.channel);  // the TV channel
    simple_tag(out, "DATE_RECORDED", p.date_iso);
    if (p.duration_seconds >= 0) simple_tag(out, "DURATION", duration_text(p.duration_seconds));
    ebml_close(out, tag);
    ebml_close(out, tags);
    return out;
}

void seek_entry(EbmlBytes& out, uint32_t id, uint64_t position) {
    size_t seek = ebml_open(out, SEEK);
    uint8_t id_bytes[4];
    ebml_put_uint(id_bytes, id, 4);
    ebml_binary(out, SEEK_ID, id_bytes, 4);
    ebml_uint(out, SEEK_POSITION, position, 8);
    ebml_close(out, seek);
}

// The SeekHead for elements at the given positions; its size does not depend on them.
EbmlBytes seek_head(const uint32_t* ids, const uint64_t* positions, int count) {
    EbmlBytes out;
    size_t at = ebml_open(out, SEEK_HEAD);
    for (int i = 0; i < count; ++i)
        seek_entry(out, ids[i], positions[i]);
    ebml_close(out, at);
    return out;
}

bool write_start(MatroskaWriter* w) {
    const MatroskaParams& p = w->params;
    EbmlBytes head;
    size_t ebml = ebml_open(head, EBML);
    ebml_uint(head, EBML_VERSION, 1);
    ebml_uint(head, EBML_READ_VERSION, 1);
    ebml_uint(head, EBML_MAX_ID_LENGTH, 4);
    ebml_uint(head, EBML_MAX_SIZE_LENGTH, 8);
    ebml_string(head, DOC_TYPE, "matroska");
    ebml_uint(head, DOC_TYPE_VERSION, 4);
    ebml_uint(head, DOC_TYPE_READ_VERSION, 2);
    ebml_close(head, ebml);
    ebml_id(head, SEGMENT);
    w->segment_size_at = int64_t(head.size());
    // "Unknown" until patched at the end, so that a file cut off by a failed or interrupted walk
    // (kept where no earlier file stood) still reads up to its last whole Cluster.
    head.push_back(0x01);
    head.insert(head.end(), 7, 0xFF);
    w->segment_at = int64_t(head.size());

    size_t duration_in_info = 0;
    EbmlBytes info = info_element(p, &duration_in_info);
    EbmlBytes tracks = tracks_element(p);
    EbmlBytes chapters = p.chapters_at_end ? EbmlBytes() : chapters_element(p);
    EbmlBytes tags = tags_element(p);
    uint32_t ids[5] = {INFO, TRACKS, TAGS, CHAPTERS, CUES};
    const EbmlBytes* parts[4] = {&info, &tracks, &tags, &chapters};
    int count = chapters.empty() ? 3 : 4;
    // Chapters written at the end get their entry before the Cues', patched like it.
    int entries = p.chapters_at_end ? 5 : count + 1;
    ids[entries - 1] = CUES;
    uint64_t positions[5] = {};
    size_t seek_size = seek_head(ids, positions, entries).size();
    uint64_t at = seek_size;
    for (int i = 0; i < count; ++i) {
        positions[i] = at;
        at += parts[i]->size();
    }
    EbmlBytes seek = seek_head(ids, positions, entries);
    // The Cues entry is the last; its position is patched once the Cues are written.
    w->cues_seek_at = w->segment_at + int64_t(seek.size()) - SEEK_ENTRY_BYTES;
    w->duration_at = w->segment_at + int64_t(seek.size()) + int64_t(duration_in_info);
    head.insert(head.end(), seek.begin(), seek.end());
    for (int i = 0; i < count; ++i)
        head.insert(head.end(), parts[i]->begin(), parts[i]->end());
    if (p.chapters_at_end) {
        w->chapter_room_at = int64_t(head.size());
        head.push_back(uint8_t(VOID));
        ebml_size(head, CHAPTER_ROOM - 9, 8);
        head.resize(size_t(w->chapter_room_at) + CHAPTER_ROOM);
    }
    put_own(w, head);
    return flush(w);
}

// The open Cluster's size, once its last block is given.
bool close_cluster(MatroskaWriter* w) {
    if (!w->cluster_open) return true;
    w->cluster_open = false;
    ++w->counts.clusters;
    uint8_t size[8];
    ebml_put_size(size, uint64_t(w->written - w->cluster_content_at), 8);
    return patch(w, w->cluster_size_at, w->cluster_size_in_own, size, 8);
}

// Opens a Cluster at time_ms; its size reads "unknown" until it is closed, so that a file cut
// off inside it still reads up to its last whole block.
void open_cluster(MatroskaWriter* w, int64_t time_ms, bool cue) {
    if (cue) {
        w->cues.push_back({time_ms, w->written - w->segment_at});
        ++w->counts.cue_points;
    }
    EbmlBytes& own = w->own;
    size_t from = own.size();
    ebml_id(own, CLUSTER);
    w->cluster_size_in_own = own.size();
    w->cluster_size_at = w->written + int64_t(own.size() - from);
    own.push_back(0x01);
    own.insert(own.end(), 7, 0xFF);
    w->cluster_content_at = w->written + int64_t(own.size() - from);
    ebml_uint(own, CLUSTER_TIMESTAMP, uint64_t(time_ms));
    took_own(w, from);
    w->cluster_open = true;
    w->cluster_time = time_ms;
}

// One block, into the open Cluster, or into a new one where a key picture begins, where its time
// is too far from the Cluster's, or where the Cluster is full.
bool add_block(MatroskaWriter* w, int track, const ByteSpan* pieces, int count, int64_t pts,
               bool key) {
    if (w->failed) return false;
    size_t size = 0;
    for (int i = 0; i < count; ++i)
        size += pieces[i].size;
    int64_t time_ms = to_ms(w, pts);
    bool has_video = w->params.video.present;
    if (w->cluster_open) {
        int64_t offset = time_ms - w->cluster_time;
        bool renew = (track == VIDEO_TRACK && key) || offset > MAX_BLOCK_OFFSET ||
                     offset < MIN_BLOCK_OFFSET ||
                     size_t(w->written - w->cluster_content_at) + size > MAX_CLUSTER_BYTES ||
                     (!has_video && offset >= AUDIO_CLUSTER_MS);
        if (renew && !close_cluster(w)) return false;
    }
    if (!w->cluster_open) open_cluster(w, time_ms, key && (track == VIDEO_TRACK || !has_video));
    uint64_t block_size = 4 + size;
    EbmlBytes& own = w->own;
    size_t from = own.size();
    ebml_id(own, SIMPLE_BLOCK);
    ebml_size(own, block_size);
    own.push_back(uint8_t(0x80 | track));  // the track number as a one-byte vint
    int64_t offset = time_ms - w->cluster_time;
    own.push_back(uint8_t(uint16_t(offset) >> 8));
    own.push_back(uint8_t(offset));
    own.push_back(key ? 0x80 : 0x00);
    took_own(w, from);
    for (int i = 0; i < count; ++i)
        put_elsewhere(w, pieces[i].bytes, pieces[i].size);
    int64_t frame_ns = track == VIDEO_TRACK ? w->params.video.frame_ns : w->params.audio.frame_ns;
    int64_t end = time_ms + frame_ns / int64_t(NS_PER_MS);
    if (end > w->counts.duration_ms) w->counts.duration_ms = end;
    ++(track == VIDEO_TRACK ? w->counts.video_blocks : w->counts.audio_blocks);
    if (w->pieces.size() >= MAX_PIECES || w->own.size() >= MAX_OWN_BYTES) return flush(w);
    return true;
}

bool add_moved_block(MatroskaWriter* w, int track, std::vector<uint8_t>&& bytes, int64_t pts,
                     bool key) {
    w->moved.push_back(std::move(bytes));
    // Its bytes stay where they are as `moved` grows: the vector moves, its buffer does not.
    ByteSpan piece{w->moved.back().data(), w->moved.back().size()};
    return add_block(w, track, &piece, 1, pts, key);
}

}  // namespace

bool matroska_video_from_sequence(const uint8_t* p, size_t n, MatroskaVideoTrack* out) {
    if (n < 12 || p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != 0xB3) return false;
    int width = (p[4] << 4) | (p[5] >> 4);
    int height = ((p[5] & 0x0F) << 8) | p[6];
    int aspect = p[7] >> 4;
    int rate = p[7] & 0x0F;
    // Nanoseconds per frame of each frame_rate_code (24000/1001 ... 60 frames a second).
    static const int64_t FRAME_NS[9] = {0,        41708333, 41666667, 40000000, 33366667,
                                        33333333, 20000000, 16683333, 16666667};
    if (width == 0 || height == 0 || rate == 0 || rate > 8) return false;
    // The header runs to the next start code that is not one of its extensions; the quantiser
    // matrices hold no zero bytes, so no start code hides in them.
    size_t end = 4;
    for (;;) {
        size_t i = end;
        while (i + 3 < n && !(p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1))
            ++i;
        if (i + 3 >= n) {
            end = n;
            break;
        }
        end = i;
        if (p[i + 3] != 0xB5) break;
        end = i + 4;
    }
    out->present = true;
    out->width = width;
    out->height = height;
    out->frame_ns = FRAME_NS[rate];
    // aspect_ratio_information: 2 is 4:3, 3 is 16:9, 4 is 2.21:1 of the whole picture.
    out->display_width = aspect == 2   ? (height * 4 + 1) / 3
                         : aspect == 3 ? (height * 16 + 4) / 9
                         : aspect == 4 ? (height * 221 + 50) / 100
                                       : width;
    out->codec_private.assign(p, p + end);
    return true;
}

MatroskaWriter* create_matroska_writer(const MatroskaParams& params, const MatroskaOutput& output) {
    MatroskaWriter* w = new (std::nothrow) MatroskaWriter;
    if (!w) return nullptr;
    w->params = params;
    w->output = output;
    if (!write_start(w)) {
        delete w;
        return nullptr;
    }
    return w;
}

void destroy_matroska_writer(MatroskaWriter* writer) {
    delete writer;
}

bool matroska_video(MatroskaWriter* w, const ByteSpan* pieces, int count, int64_t pts, bool key) {
    return add_block(w, VIDEO_TRACK, pieces, count, pts, key);
}

bool matroska_audio(MatroskaWriter* w, const uint8_t* bytes, size_t size, int64_t pts) {
    ByteSpan piece{bytes, size};
    return add_block(w, AUDIO_TRACK, &piece, 1, pts, true);
}

bool matroska_video(MatroskaWriter* w, std::vector<uint8_t>&& bytes, int64_t pts, bool key) {
    return add_moved_block(w, VIDEO_TRACK, std::move(bytes), pts, key);
}

bool matroska_audio(MatroskaWriter* w, std::vector<uint8_t>&& bytes, int64_t pts) {
    return add_moved_block(w, AUDIO_TRACK, std::move(bytes), pts, true);
}

bool matroska_flush(MatroskaWriter* w) {
    return flush(w);
}

namespace {

// Chapters known only at the end go into the room kept before the Clusters (what is left of it
// stays a Void), or after the Clusters where they do not fit; their SeekHead entry points to
// them, or becomes a Void where there are none.
bool write_late_chapters(MatroskaWriter* w) {
    int64_t seek_at = w->cues_seek_at - SEEK_ENTRY_BYTES;
    uint8_t entry[SEEK_ENTRY_BYTES] = {};
    if (w->params.chapters.empty()) {
        entry[0] = uint8_t(VOID);
        ebml_put_size(entry + 1, SEEK_ENTRY_BYTES - 2, 1);
        return patch(w, seek_at, entry, SEEK_ENTRY_BYTES);
    }
    EbmlBytes chapters = chapters_element(w->params);
    int64_t chapters_at;
    if (chapters.size() == CHAPTER_ROOM || chapters.size() + 2 <= CHAPTER_ROOM) {
        size_t rest = CHAPTER_ROOM - chapters.size();
        if (rest > 0) {
            chapters.push_back(uint8_t(VOID));
            // A size of one byte holds up to 126; a longer rest takes eight.
            ebml_size(chapters, rest - (rest - 2 < 127 ? 2 : 9), rest - 2 < 127 ? 1 : 8);
            chapters.resize(CHAPTER_ROOM);
        }
        chapters_at = w->chapter_room_at - w->segment_at;
        if (!patch(w, w->chapter_room_at, chapters.data(), chapters.size())) return false;
    } else {
        chapters_at = w->written - w->segment_at;
        put_own(w, chapters);
    }
    ebml_put_uint(entry, uint64_t(chapters_at), 8);
    return patch(w, seek_at + SEEK_ENTRY_BYTES - 8, entry, 8);
}

}  // namespace

void set_matroska_chapters(MatroskaWriter* w, const std::vector<MatroskaChapter>& chapters) {
    w->params.chapters = chapters;
}

bool finish_matroska(MatroskaWriter* w) {
    if (!close_cluster(w)) return false;
    if (w->params.chapters_at_end && !write_late_chapters(w)) return false;
    uint8_t entry[SEEK_ENTRY_BYTES] = {};
    if (!w->cues.empty()) {
        int64_t cues_at = w->written - w->segment_at;
        EbmlBytes cues;
        size_t at = ebml_open(cues, CUES);
        int track = w->params.video.present ? VIDEO_TRACK : AUDIO_TRACK;
        for (const Cue& c : w->cues) {
            size_t point = ebml_open(cues, CUE_POINT);
            ebml_uint(cues, CUE_TIME, uint64_t(c.time_ms));
            size_t positions = ebml_open(cues, CUE_TRACK_POSITIONS);
            ebml_uint(cues, CUE_TRACK, uint64_t(track));
            ebml_uint(cues, CUE_CLUSTER_POSITION, uint64_t(c.cluster_at));
            ebml_close(cues, positions);
            ebml_close(cues, point);
        }
        ebml_close(cues, at);
        put_own(w, cues);
        ebml_put_uint(entry, uint64_t(cues_at), 8);
        if (!patch(w, w->cues_seek_at + SEEK_ENTRY_BYTES - 8, entry, 8)) return false;
    } else {
        entry[0] = uint8_t(VOID);
        ebml_put_size(entry + 1, SEEK_ENTRY_BYTES - 2, 1);
        if (!patch(w, w->cues_seek_at, entry, SEEK_ENTRY_BYTES)) return false;
    }
    uint8_t duration[8];
    ebml_put_float(duration, double(w->counts.duration_ms));
    if (!patch(w, w->duration_at, duration, 8)) return false;
    uint8_t size[8];
    ebml_put_size(size, uint64_t(w->written - w->segment_at), 8);
    return patch(w, w->segment_size_at, size, 8);
}

MatroskaCounts matroska_counts(const MatroskaWriter* writer) {
    return writer->counts;
}

}  // namespace quarrow
