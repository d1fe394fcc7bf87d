// The multiplex: which pack goes next and when, so that the decoder's buffers never overflow and
// every byte is in them before its decoding time, and the parts of a split output. The pictures
// come timed from video_timing.cpp, the audio frames placed from audio_placement.cpp, and the
// packs are laid out by pack_writer.cpp.
#include "extract/program_stream.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "disk/sector_access.h"
#include "extract/mpeg_audio.h"
#include "extract/program_stream_parts.h"

namespace quarrow {

// The first I-picture is shown this long after the first pack, so that it has arrived.
constexpr int64_t PREROLL = CLOCK * 7 / 10;
constexpr size_t MAX_REPAIR_NOTICES = 20;
// A gap of one stream this close to a gap of the other is the same loss.
constexpr int64_t SAME_GAP = CLOCK / 2;

struct ProgramStreamWriter {
    ProgramStreamOptions options;
    const OperationHooks* hooks = nullptr;
    VideoTiming video;
    AudioPlacement audio;
    PackWriter packs;
    DecoderBuffer video_buffer, audio_buffer;
    int64_t next_scr = 0;
    bool finishing = false;
    bool part_failed = false;  // the next part's file could not be created
    int part = 0;
    int parts = 0;
    // A part ends before the group at the queue's front: first the audio shown before that
    // group's first picture (cut_at) goes into it, then the next part begins.
    bool cutting = false;
    int64_t cut_at = 0;
    // The stretches kept (--from and --to, or a cut list).
    StretchCut cut;
    // A Matroska file instead of packs (owned).
    MatroskaFeed* matroska = nullptr;
    ~ProgramStreamWriter() { destroy_matroska_feed(matroska); }
};

std::string clock_text(int64_t ticks) {
    if (ticks < 0) ticks = 0;
    int64_t s = ticks / CLOCK;
    char text[32];
    snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
             static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    return text;
}

namespace {

// When the group at the front of the queue is first shown: its earliest picture, a leading
// B-picture where it has them. Where the group opens a part, decoders skip those (broken_link)
// and hold the I-picture's place for them, so that the part's audio and video still begin
// together, and the part before ends where they begin.
int64_t first_shown(const VideoTiming& t) {
    int64_t at = t.queue.front().pts;
    for (size_t i = 1; i < t.queue.size() && !t.queue[i].opens_gop && t.queue[i].timed; ++i)
        at = std::min(at, t.queue[i].pts);
    return at;
}

// Whether the group of pictures at the front of the queue still fits into the current part: 1
// when a new part must begin before it, 0 when not, -1 when the group is not whole yet. Its
// packs are counted from its video bytes and the audio that plays meanwhile, generously.
int cut_before_group(ProgramStreamWriter* w, bool force) {
    const VideoTiming& t = w->video;
    int64_t video_bytes = 0, ticks = 0;
    size_t i = 0;
    for (; i < t.queue.size(); ++i) {
        const VideoUnit& u = t.queue[i];
        if (i > 0 && u.opens_gop) break;
        video_bytes += int64_t(u.size());
        ticks += shown_ticks(t, u);
    }
    if (i == t.queue.size() && !force) return -1;
    AudioFrameHeader h;
    int64_t audio_rate = w->audio.started && parse_audio_frame_header(w->audio.first_header, &h)
                             ? int64_t(h.bitrate_kbps) * 125
                             : 0;
    // The audio shown before the group still goes into this part, when the group opens the next.
    int64_t lead = std::max<int64_t>(0, first_shown(t) - w->next_scr);
    int64_t audio_bytes = audio_rate * (ticks + lead + CLOCK) / CLOCK;
    int64_t packs = 1 + (video_bytes + PES_ROOM - 30) / (PES_ROOM - 29) + t.queue.size() / 8 +
                    (audio_bytes * 3 / 2 + PES_ROOM - 30) / (PES_ROOM - 23) + 4;
    int64_t need = packs * PACK_SIZE + PACK_SIZE;  // and the part's end pack
    if (need > w->options.split_bytes) {
        char notice[MESSAGE_SIZE];
        put_message(notice,
                    "A group of pictures at %s is larger than a part (about %lld bytes); it gets "
                    "a part of its own.",
                    clock_text(t.queue.front().pts - t.first_picture_pts).c_str(),
                    static_cast<long long>(need));
        hook_notice(w->hooks, notice);
    }
    int64_t part_bytes = w->packs.part_bytes;
    return part_bytes > 0 && part_bytes + need > w->options.split_bytes ? 1 : 0;
}

void write_end(ProgramStreamWriter* w) {
    write_end_pack(w->packs, w->next_scr);
    w->next_scr += PACK_TICKS;
}

// Ends the current part with its end code and opens the next; its first group of pictures gets
// the sequence header (when it has none) and, where it is open, broken_link, so that the part
// plays on its own.
bool start_next_part(ProgramStreamWriter* w) {
    // An audio frame begun in this part ends in it: the next part starts with a whole frame.
    const std::deque<AudioFrame>& frames = w->audio.queue;
    if (!frames.empty() && frames.front().sent > 0) {
        const AudioFrame& f = frames.front();
        int64_t rest = int64_t(f.bytes.size() - f.sent);
        int64_t at = w->audio_buffer.room_at(w->next_scr, rest);
        w->audio_buffer.advance(at);
        write_audio_pack(w->packs, w->audio, w->audio_buffer, at, rest);
        w->next_scr = at + PACK_TICKS;
    }
    write_end(w);
    PackWriter& p = w->packs;
    if (!flush_packs(p)) return false;
    if (!p.output.begin_part(p.output.context, w->part + 1)) {
        p.write_failed = true;
        w->part_failed = true;
        return false;
    }
    ++w->part;
    ++w->parts;
    p.part_bytes = 0;
    // The part is read by a decoder of its own, whose buffers start empty: its clock starts far
    // enough before the first picture's decoding time for the picture to arrive.
    w->video_buffer.held.clear();
    w->video_buffer.bytes = 0;
    w->audio_buffer.held.clear();
    w->audio_buffer.bytes = 0;
    w->next_scr = std::min(w->next_scr, std::max<int64_t>(0, w->video.queue.front().dts - PREROLL));
    VideoUnit& u = w->video.queue.front();
    size_t before = u.inserted.size();
    insert_sequence_header(w->video, u);
    w->video.held += u.inserted.size() - before;
    if (u.gop_at >= 0 && !u.closed_gop) u.broken_link = true;
    return true;
}

// Before each pack or block: the cut decides what it can; false while the front of the queues is
// not decided yet. *force: what is queued goes out without waiting for the other stream (at the
// end, when too much is held, or between the stretches of a cut).
bool ready_to_send(ProgramStreamWriter* w, bool* force) {
    VideoTiming& t = w->video;
    AudioPlacement& audio = w->audio;
    *force = w->finishing || t.held > MAX_HELD_VIDEO || audio.queue.size() > MAX_HELD_FRAMES;
    if (!cut_to_stretches(w->cut, t, audio, w->finishing)) return false;
    *force = *force || cut_between_stretches(w->cut, audio);
    return true;
}

// For a Matroska file: the timed pictures and placed frames in decoding order, held and forced
// out as the packs are.
void feed_matroska(ProgramStreamWriter* w) {
    MatroskaFeed& feed = *w->matroska;
    bool& failed = w->packs.write_failed;
    while (!failed) {
        bool force = false;
        if (!ready_to_send(w, &force) ||
            !matroska_feed_started(feed, w->video, w->audio, force, &failed) ||
            !feed_matroska_next(feed, w->video, w->audio, force, &failed))
            return;
    }
}

// Sends packs while what decides the next one is known: video and audio both waiting with a
// packet's worth (or at their ends), the stream whose next bytes are due first going first as
// far as its buffer has room.
void multiplex(ProgramStreamWriter* w) {
    VideoTiming& t = w->video;
    AudioPlacement& audio = w->audio;
    if (w->matroska) return feed_matroska(w);
    while (!w->packs.write_failed) {
        bool force = false;
        if (!ready_to_send(w, &force)) return;
        if (w->cutting) {
            // The audio shown before the cut ends this part; the rest waits for the next.
            int64_t before = 0;
            for (size_t i = 0; i < audio.queue.size() && audio.queue[i].pts < w->cut_at; ++i)
                before += int64_t(audio.queue[i].bytes.size() - audio.queue[i].sent);
            if (before > 0) {
                int64_t n = std::min<int64_t>(before, PES_ROOM);
                int64_t scr = std::max(w->next_scr, w->audio_buffer.room_at(w->next_scr, n));
                w->audio_buffer.advance(scr);
                write_audio_pack(w->packs, audio, w->audio_buffer, scr, before);
                w->next_scr = scr + PACK_TICKS;
                continue;
            }
            // The audio up to the cut is not in yet (a recording without audio waits for none).
            if (audio.queue.empty() && audio.started && !force) return;
            w->cutting = false;
            if (!start_next_part(w)) return;
            continue;
        }
        VideoWindow v = timed_video(t, PES_ROOM);
        int64_t a = unsent_audio(audio, PES_ROOM);
        bool video_ready = v.bytes > 0 && (v.bytes >= PES_ROOM - 9 || v.ends_at_group || force);
        bool audio_ready = a > 0 && (a >= PES_ROOM - 9 || force);
        // Which goes first is decided only when both streams' next bytes are known (or at the
        // end, or when memory runs short).
        if (!force && !(video_ready && audio_ready)) return;
        if (!video_ready && !audio_ready) return;

        int64_t now = w->next_scr;
        w->video_buffer.advance(now);
        w->audio_buffer.advance(now);
        int64_t video_at = INT64_MAX, audio_at = INT64_MAX;
        int64_t video_due = INT64_MAX, audio_due = INT64_MAX;
        if (video_ready) {
            const VideoUnit& u = t.queue.front();
            video_at = w->video_buffer.room_at(now, v.bytes < PES_ROOM ? v.bytes : PES_ROOM);
            video_due = u.dts;
        }
        if (audio_ready) {
            audio_at = w->audio_buffer.room_at(now, a < PES_ROOM ? a : PES_ROOM);
            audio_due = audio.queue.front().pts;
        }
        bool video_now = video_at <= now, audio_now = audio_at <= now;
        bool take_video;
        if (video_now && audio_now)
            take_video = video_due <= audio_due;
        else if (video_now || audio_now)
            take_video = video_now;
        else
            take_video = video_at <= audio_at;
        int64_t scr = take_video ? video_at : audio_at;
        if (scr < now) scr = now;
        if (take_video) {
            VideoUnit& u = t.queue.front();
            if (u.opens_gop && u.sent == 0 && w->options.split_bytes > 0) {
                int cut = cut_before_group(w, force);
                if (cut < 0) return;  // the group is not whole yet
                if (cut > 0) {
                    w->cutting = true;
                    w->cut_at = first_shown(t);
                    continue;
                }
            }
            if (u.opens_gop && u.sent == 0) {
                write_navigation_pack(w->packs, scr);
                scr += PACK_TICKS;
                u.opens_gop = false;  // the pack is written; the video follows
                w->next_scr = scr;
                continue;
            }
            w->video_buffer.advance(scr);
            write_video_pack(w->packs, t, w->video_buffer, scr);
        } else {
            w->audio_buffer.advance(scr);
            write_audio_pack(w->packs, audio, w->audio_buffer, scr);
        }
        w->next_scr = scr + PACK_TICKS;
    }
}

bool video_input(void* context, const ByteSpan* spans, int count) {
    ProgramStreamWriter* w = static_cast<ProgramStreamWriter*>(context);
    take_video(w->video, spans, count);
    multiplex(w);
    // The packs (or Matroska blocks) point into the caller's spans and into `kept`.
    flush_packs(w->packs);
    if (w->matroska && !flush_matroska_feed(*w->matroska)) w->packs.write_failed = true;
    keep_video_bytes(w->video);
    return !w->packs.write_failed;
}

void arrival_mark(void* context, int64_t video_bytes, int64_t audio_bytes, bool unreadable) {
    ProgramStreamWriter* w = static_cast<ProgramStreamWriter*>(context);
    if (unreadable) {
        // One mark per run; a disk of nothing but damage keeps only the latest.
        if (w->video.unreadable.size() < MAX_ARRIVAL_MARKS) {
            w->video.unreadable.push_back(video_bytes);
            w->audio.unreadable.push_back(audio_bytes);
        }
        return;
    }
    std::deque<ArrivalMark>& marks = w->video.arrivals;
    if (!marks.empty() && marks.back().video_at == video_bytes)
        marks.back().audio_at = audio_bytes;
    else
        marks.push_back({video_bytes, audio_bytes});
    if (marks.size() > MAX_ARRIVAL_MARKS) marks.pop_front();
}

bool audio_input(void* context, const ByteSpan* spans, int count) {
    ProgramStreamWriter* w = static_cast<ProgramStreamWriter*>(context);
    take_audio(w->audio, spans, count);
    multiplex(w);
    return !w->packs.write_failed;
}

// One notice for each gap met (the first few; the summary counts them all).
void repair_notices(const ProgramStreamWriter* w) {
    std::vector<StreamRepair> repairs = program_stream_repairs(w);
    size_t told = 0;
    for (const StreamRepair& r : repairs) {
        // A time-base jump had its notice when it was met.
        if (r.cause == TIME_BASE_JUMP || ++told > MAX_REPAIR_NOTICES) continue;
        char notice[MESSAGE_SIZE], dropped[64] = "";
        if (r.dropped_pictures > 0)
            snprintf(dropped, sizeof dropped, "; %lld pictures after it dropped (no reference)",
                     static_cast<long long>(r.dropped_pictures));
        put_message(notice, "Gap at %s, %.2f s of %s: %s%s.",
                    clock_text(r.at_ms * (CLOCK / 1000)).c_str(), double(r.duration_ms) / 1000,
                    r.video ? (r.audio ? "video and audio" : "video") : "audio",
                    repair_cause_text(r.cause), dropped);
        hook_notice(w->hooks, notice);
    }
}

// Where each stretch fell, beside where it was asked for, and what of the list the video never
// reached.
void cut_notices(const ProgramStreamWriter* w) {
    const StretchCut& c = w->cut;
    if (!c.active) return;
    size_t told = 0;
    for (const KeptStretchTimes& k : program_stream_stretches(w)) {
        if (++told > MAX_REPAIR_NOTICES) break;
        char notice[MESSAGE_SIZE];
        put_message(notice, "Kept %s to %s (asked for %s to %s).",
                    clock_time_text(k.begin_ms).c_str(),
                    k.end_ms < 0 ? "the end" : clock_time_text(k.end_ms).c_str(),
                    clock_time_text(k.asked.begin_ms).c_str(),
                    k.asked.end_ms < 0 ? "the end" : clock_time_text(k.asked.end_ms).c_str());
        hook_notice(w->hooks, notice);
    }
    size_t reached = c.inside ? c.next + 1 : c.next;
    if (reached < c.asked.size()) {
        char notice[MESSAGE_SIZE];
        put_message(notice, "The video ends before %s; nothing from there on is in the file.",
                    clock_time_text(c.asked[reached].begin_ms).c_str());
        hook_notice(w->hooks, notice);
    }
}

}  // namespace

namespace {

// What both kinds of output share: the two stream parts and where the first picture is shown.
ProgramStreamWriter* new_writer(const ProgramStreamOptions& options, const OperationHooks* hooks) {
    ProgramStreamWriter* w = new (std::nothrow) ProgramStreamWriter();
    if (!w) return nullptr;
    w->options = options;
    w->hooks = hooks;
    w->video_buffer.size = VIDEO_BUFFER_BYTES;
    w->audio_buffer.size = AUDIO_BUFFER_BYTES;
    int64_t earlier = options.av_offset_ms < 0 ? -options.av_offset_ms * (CLOCK / 1000) : 0;
    w->video.first_picture_pts = PREROLL + earlier;
    w->audio.hooks = hooks;
    w->video.audio = &w->audio;
    w->audio.video_origin = w->video.first_picture_pts;
    w->audio.origin = w->video.first_picture_pts + options.av_offset_ms * (CLOCK / 1000);
    std::vector<TimeStretch>& stretches = w->cut.asked;
    stretches = options.stretches;
    if (stretches.empty() && (options.from_ms > 0 || options.to_ms >= 0)) {
        TimeStretch range;
        range.begin_ms = std::max<int64_t>(0, options.from_ms);
        range.end_ms = options.to_ms;
        range.begin_after = options.from_ms > 0;
        stretches.push_back(range);
    }
    w->cut.active = !stretches.empty();
    return w;
}

}  // namespace

ProgramStreamWriter* create_program_stream(const ProgramStreamOptions& options,
                                           const ProgramStreamOutput& output,
                                           const OperationHooks* hooks) {
    ProgramStreamWriter* w = new_writer(options, hooks);
    if (!w) return nullptr;
    if (!init_pack_writer(w->packs, output)) {
        delete w;
        return nullptr;
    }
    w->part = options.split_bytes > 0 ? 1 : 0;
    if (!output.begin_part(output.context, w->part)) {
        delete w;
        return nullptr;
    }
    w->parts = 1;
    return w;
}

ProgramStreamWriter* create_matroska_feed_writer(const ProgramStreamOptions& options,
                                                 MatroskaFeed* feed, const OperationHooks* hooks) {
    ProgramStreamOptions one = options;
    one.split_bytes = 0;  // a Matroska file is never split
    ProgramStreamWriter* w = new_writer(one, hooks);
    if (!w) {
        destroy_matroska_feed(feed);
        return nullptr;
    }
    w->matroska = feed;
    w->parts = 1;
    return w;
}

void destroy_program_stream(ProgramStreamWriter* writer) {
    delete writer;
}

ByteSink program_stream_video_sink(ProgramStreamWriter* writer) {
    return ByteSink{writer, video_input};
}

ByteSink program_stream_audio_sink(ProgramStreamWriter* writer) {
    return ByteSink{writer, audio_input};
}

StreamArrivals program_stream_arrivals(ProgramStreamWriter* writer) {
    return StreamArrivals{writer, arrival_mark};
}

bool unreadable_between(std::deque<int64_t>& marks, int64_t after, int64_t upto) {
    while (!marks.empty() && marks.front() <= after)
        marks.pop_front();
    return !marks.empty() && marks.front() <= upto;
}

std::vector<StreamRepair> program_stream_repairs(const ProgramStreamWriter* w) {
    std::vector<Repair> all = w->video.repairs;
    all.insert(all.end(), w->audio.repairs.begin(), w->audio.repairs.end());
    std::stable_sort(all.begin(), all.end(),
                     [](const Repair& a, const Repair& b) { return a.at < b.at; });
    std::vector<StreamRepair> out;
    int64_t last_end = 0;
    for (const Repair& r : all) {
        // Only the gaps within the stretches written count.
        if (cut_time_in_file(w->cut, r.at + w->video.first_picture_pts) < 0) continue;
        // Both streams lost at once (a signal dropout) make one gap: their stretches meet.
        if (!out.empty()) {
            StreamRepair& p = out.back();
            bool other = (r.video && !p.video) || (r.audio && !p.audio);
            if (other && p.cause == r.cause && r.at <= last_end + SAME_GAP) {
                p.video = p.video || r.video;
                p.audio = p.audio || r.audio;
                int64_t end = std::max(last_end, r.at + r.duration);
                p.duration_ms = std::max(p.duration_ms, (r.duration - r.dropped) / (CLOCK / 1000));
                p.dropped_pictures += r.dropped_pictures;
                p.dropped_ms += r.dropped / (CLOCK / 1000);
                last_end = end;
                continue;
            }
        }
        StreamRepair s;
        s.at_ms = r.at / (CLOCK / 1000);
        s.duration_ms = (r.duration - r.dropped) / (CLOCK / 1000);
        s.dropped_pictures = r.dropped_pictures;
        s.dropped_ms = r.dropped / (CLOCK / 1000);
        s.video = r.video;
        s.audio = r.audio;
        s.cause = r.cause;
        out.push_back(s);
        last_end = r.at + r.duration;
    }
    return out;
}

std::string repairs_summary(const std::vector<StreamRepair>& repairs) {
    int64_t audio = 0, video = 0;
    size_t gaps = 0, jumps = 0;
    for (const StreamRepair& r : repairs) {
        if (r.cause == TIME_BASE_JUMP) {
            ++jumps;
            continue;
        }
        ++gaps;
        if (r.audio) audio += r.duration_ms;
        if (r.video) video += r.duration_ms;
    }
    char jumped[64] = "";
    if (jumps > 0)
        snprintf(jumped, sizeof jumped, "%s%zu time-base jump%s joined", gaps ? "; " : "", jumps,
                 jumps == 1 ? "" : "s");
    if (gaps == 0) return jumped;
    char text[MESSAGE_SIZE];
    std::string parts;
    if (audio > 0) {
        snprintf(text, sizeof text, "%.1f s of audio filled with silence", double(audio) / 1000);
        parts = text;
    }
    if (video > 0) {
        snprintf(text, sizeof text, "%.1f s of video held", double(video) / 1000);
        parts += (parts.empty() ? "" : ", ") + std::string(text);
    }
    snprintf(text, sizeof text, "%zu gap%s repaired: ", gaps, gaps == 1 ? "" : "s");
    return text + parts + jumped;
}

const char* repair_cause_text(RepairCause cause) {
    return cause == TIME_BASE_JUMP       ? "a time-base jump in the broadcast"
           : cause == UNREADABLE_ON_DISK ? "unreadable on this disk"
                                         : "lost in reception";
}

bool finish_program_stream(ProgramStreamWriter* w, char* message) {
    finish_video(w->video);
    finish_audio(w->audio);
    repair_notices(w);
    w->finishing = true;
    multiplex(w);
    cut_notices(w);
    if (w->matroska) {
        bool failed = w->packs.write_failed;
        if (!failed && !matroska_feed_started(*w->matroska, w->video, w->audio, true, &failed))
            failed = true;
        if (failed || !finish_matroska_feed(
                          *w->matroska, program_stream_chapters(w, w->options.chapter_every_ms))) {
            put_message(message, "Error while writing to disk.");
            return false;
        }
        return true;
    }
    write_end(w);
    if (!flush_packs(w->packs)) {
        put_message(message, w->part_failed ? "Could not create output file."
                                            : "Error while writing to disk.");
        return false;
    }
    return true;
}

ProgramStreamCounts program_stream_counts(const ProgramStreamWriter* w) {
    ProgramStreamCounts c;
    c.video_pictures = w->video.pictures;
    c.dropped_pictures = w->video.dropped;
    c.audio_frames = w->audio.frames;
    c.silent_frames = w->audio.silent;
    c.dropped_frames = w->audio.dropped;
    c.parts = w->parts;
    return c;
}

}  // namespace quarrow

namespace quarrow {
namespace {

// Chapters closer than this to the one before are left out: a join and a gap at the same place
// are one place to jump to.
constexpr int64_t CHAPTER_SPACING_MS = 1000;

std::string minutes_text(int64_t ms) {
    char text[32];
    snprintf(text, sizeof text, "%lld min", static_cast<long long>(ms / 60000));
    return text;
}

}  // namespace

std::vector<StreamChapter> program_stream_chapters(const ProgramStreamWriter* w, int64_t every_ms) {
    const int64_t origin = w->video.first_picture_pts;
    std::vector<StreamChapter> all;
    all.push_back({0, "Start"});
    for (size_t i = 0; i < w->cut.joins.size(); ++i)
        all.push_back({w->cut.joins[i] / (CLOCK / 1000), "Cut " + std::to_string(i + 1)});
    int gaps = 0;
    for (const StreamRepair& r : program_stream_repairs(w)) {
        if (r.cause == TIME_BASE_JUMP) continue;
        int64_t at = cut_time_in_file(w->cut, r.at_ms * (CLOCK / 1000) + origin);
        if (at >= 0)
            all.push_back({(at - origin) / (CLOCK / 1000), "Gap " + std::to_string(++gaps)});
    }
    int64_t end = (w->cut.active ? w->cut.out_end : w->video.display_clock) - origin;
    if (every_ms > 0)
        for (int64_t at = every_ms; at * (CLOCK / 1000) < end; at += every_ms)
            all.push_back({at, minutes_text(at)});
    std::stable_sort(all.begin(), all.end(), [](const StreamChapter& a, const StreamChapter& b) {
        return a.at_ms < b.at_ms;
    });
    std::vector<StreamChapter> out;
    for (const StreamChapter& c : all)
        if (out.empty() || c.at_ms >= out.back().at_ms + CHAPTER_SPACING_MS) out.push_back(c);
    return out;
}

std::vector<KeptStretchTimes> program_stream_stretches(const ProgramStreamWriter* w) {
    std::vector<KeptStretchTimes> out;
    const int64_t origin = w->video.first_picture_pts;
    for (const CutStretch& s : w->cut.kept) {
        KeptStretchTimes k;
        k.begin_ms = (s.begin - origin) / (CLOCK / 1000);
        k.end_ms = s.end == INT64_MAX ? -1 : (s.end - origin) / (CLOCK / 1000);
        k.asked = w->cut.asked[s.asked];
        out.push_back(k);
    }
    return out;
}

}  // namespace quarrow
