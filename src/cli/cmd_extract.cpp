// quarrow extract: one recording, or all of them, into an MPEG video elementary stream (.m2v)
// and an MPEG audio file (.mp2 without PES headers, or .mpg with the audio PES packets).
#include <CLI/CLI.hpp>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "cli/cli_common.h"
#include "cli/damage_report.h"
#include "cli/interrupts.h"
#include "disk/output_file.h"
#include "extract/cut_list.h"
#include "extract/extraction_engine.h"
#include "extract/extraction_setup.h"
#include "extract/matroska_writer.h"
#include "extract/nfo_writer.h"
#include "extract/output_name.h"
#include "fs/layout.h"
#include "fs/text_folding.h"
#include "quarrow_version.h"

namespace quarrow::cli {
namespace {

struct ExtractOptions {
    std::string source;
    std::string recording;
    std::string dir = ".";
    std::string prefix;
    int64_t start = -1;  // -1: the recording's own
    int64_t length = -1;
    std::string audio = "mp2";
    bool no_video = false;
    int sync = 1;
    bool no_auto_sync = false;
    bool quiet = false;
    bool mux = false;
    bool mkv = false;
    int64_t av_offset = 0;
    std::string split;
    int64_t split_bytes = 0;
    std::string from, to;  // --from, --to as given
    int64_t from_ms = -1, to_ms = -1;
    std::string cut, drop;         // --cut, --drop as given
    CutRequest cut_list;           // either, parsed, and --chapters
    std::string chapter_interval;  // --chapters' value, when one is given
    bool metadata = false;
    bool nfo = false;
    bool audio_given = false;
    bool av_offset_given = false;
    bool skip_bad = false;
    std::string map;
};

// "4000M", "2G", "700K", "1048576": bytes, with binary suffixes; -1 when it is not such a size.
int64_t parse_size(const std::string& text) {
    if (text.empty()) return -1;
    size_t digits = 0;
    while (digits < text.size() && isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    if (digits == 0 || digits > 12) return -1;
    int64_t n = std::stoll(text.substr(0, digits));
    std::string unit = text.substr(digits);
    int shift = 0;
    if (unit == "K" || unit == "k")
        shift = 10;
    else if (unit == "M" || unit == "m")
        shift = 20;
    else if (unit == "G" || unit == "g")
        shift = 30;
    else if (!unit.empty())
        return -1;
    // Twelve digits with a G do not fit 64 bits: refused, not shifted past the sign.
    if (n > (INT64_MAX >> shift)) return -1;
    return n << shift;
}

// The characters of text that check fails, quoted: "'/', '?'".
std::string refused_chars(const std::string& text, bool (*allowed)(unsigned char)) {
    std::string list;
    for (unsigned char c : text) {
        if (allowed(c)) continue;
        std::string one = std::string("'") + static_cast<char>(c) + "'";
        if (list.find(one) != std::string::npos) continue;
        list += (list.empty() ? "" : ", ") + one;
    }
    return list;
}

// The output-name refusal with its reason: which characters, or how long the name is.
std::string name_refusal(const char* message, const NameCheck& check, const std::string& dir,
                         const std::string& prefix) {
    std::string m = message;
    switch (check.refusal) {
        case NameRefusal::prefix_character:
            return m + " (" + refused_chars(prefix, prefix_char_allowed) + ")";
        case NameRefusal::path_character:
            return m + " (" + refused_chars(dir, path_char_allowed) + ")";
        case NameRefusal::too_long:
            return m + " (" + std::to_string(check.bytes) + " bytes; at most " +
                   std::to_string(max_output_name_bytes()) + ")";
        case NameRefusal::none:
            break;
    }
    return m;
}

// Why nothing was extracted, with the way out this command offers.
std::string nothing_written_text(const ExtractOptions& o, const ExtractionResult& result) {
    const char* reason = o.no_video ? "the range holds no audio"
                         : result.audio_blocks > 0
                             ? "the video has no sequence header, so no audio passed; for an "
                               "audio-only recording give --no-video"
                             : "the range holds no video sequence header and no audio";
    return std::string("Nothing was extracted. (") + reason + ")";
}

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return out;
}

// The terminal's hooks, with the notices also kept for the metadata file.
struct CollectingHooks {
    OperationHooks terminal;
    std::vector<std::string> notices;
};

void collect_notice(void* context, const char* text) {
    CollectingHooks* c = static_cast<CollectingHooks*>(context);
    c->notices.push_back(text);
    if (c->terminal.notice) c->terminal.notice(c->terminal.context, text);
}

void forward_progress(void* context, int64_t done, int64_t total) {
    CollectingHooks* c = static_cast<CollectingHooks*>(context);
    if (c->terminal.progress) c->terminal.progress(c->terminal.context, done, total);
}

// P.json beside the outputs: what the recording is and what was written, under a temporary name
// until complete like every output.
bool write_metadata(const OpenSource& src, int index, const ExtractOptions& o,
                    const std::string& dir, const std::string& prefix,
                    const ExtractionResult& result, const std::vector<std::string>& notices,
                    std::string* name) {
    return write_metadata_file(src.entries[index], index + 1, o.source, o.mux, result, notices, dir,
                               prefix, name);
}

// Extracts one recording; prints the engine's message (stdout on success, stderr on failure)
// and the files written. On a damaged disk (--skip-bad, --map) also the damaged time ranges. A
// recording with unreadable sectors, or one whose clusters ended before its range did, keeps its
// files but counts as failed.
int extract_one(const OpenSource& src, const DiskReach& reach, int index, const ExtractOptions& o,
                const std::string& dir, const std::string& prefix, const RescueMap* map) {
    const RecordingEntry& e = src.entries[index];
    if (reach.known && reach.no_clusters[index]) {
        std::cerr << "Error while accessing 1st cluster (FAT Entry " << e.first_cluster
                  << "). (recording " << index + 1
                  << " has no clusters: its first cluster is past the disk's last, "
                  << reach.clusters - 1 << ")\n";
        return EXIT_FAILED;
    }
    int64_t start = o.start >= 0 ? o.start : e.start_offset;
    int64_t length = o.length >= 0 ? o.length : e.length;
    // A start without a length runs to the recording's end, not a whole length past the start.
    if (o.start >= 0 && o.length < 0) {
        length = e.start_offset + e.length - start;
        if (length < 1) {
            std::cerr << "The start sector lies outside the recording's data.\n";
            return EXIT_FAILED;
        }
    }
    // The engine counts in signed 32-bit sectors (1 TiB), more than any disk of the receiver.
    if (start > INT32_MAX) start = INT32_MAX;
    if (length > INT32_MAX) length = INT32_MAX;
    int audio_type = o.audio == "mpg" ? AUDIO_TYPE_MPG : AUDIO_TYPE_MP2;

    TerminalProgress progress;
    progress.enabled = !o.quiet && stderr_is_terminal();
    CollectingHooks collecting{terminal_hooks(&progress), {}};
    OperationHooks hooks{};
    hooks.context = &collecting;
    hooks.progress = forward_progress;
    hooks.notice = collect_notice;
    ExtractionRequest request;
    request.first_cluster = e.first_cluster;
    request.start = static_cast<int32_t>(start);
    request.length = static_cast<int32_t>(length);
    request.audio_type = audio_type;
    request.auto_video_sync = !o.no_auto_sync;
    request.sync_tuning = o.sync;
    request.no_video = o.no_video;
    request.mux = o.mux;
    request.av_offset_ms = o.av_offset;
    request.split_bytes = o.split_bytes;
    MatroskaParams matroska;
    if (o.mkv) {
        fill_matroska_params(e, &matroska);
        request.matroska = &matroska;
    }
    request.from_ms = o.from_ms;
    request.to_ms = o.to_ms;
    char refused[MESSAGE_SIZE];
    if (!apply_cut(e, o.cut_list, &request, refused)) {
        std::cerr << (o.drop.empty() ? "--cut: " : "--drop: ") << refused << "\n";
        return EXIT_USAGE;
    }
    if (o.metadata) request.output_time = e.start_time;
    request.path = dir.c_str();
    request.prefix = prefix.c_str();
    request.hooks = &hooks;
    request.interrupt = interrupt_flag();
    std::vector<std::string> planned = planned_output_names(request);
    if (o.metadata) planned.push_back(output_name(dir.c_str(), prefix.c_str(), ".json"));
    if (o.nfo) planned.push_back(output_name(dir.c_str(), prefix.c_str(), ".nfo"));
    for (const std::string& name : planned)
        if (output_is_source(name, src, "read")) return EXIT_USAGE;
    DamagedReads damaged;
    damaged.skip_bad = o.skip_bad;
    damaged.map = map;
    if (o.skip_bad || map) request.damaged = &damaged;
    char message[MESSAGE_SIZE] = "";
    ExtractionResult result;
    clear_reason();
    int ok = extract_recording(src.disk, request, message, &result);
    finish_progress(&progress, ok);
    int64_t unreadable = request.damaged ? report_damage(damaged, e, start, start + length) : 0;
    // What a failed walk kept: the part before the failure, where it replaced nothing.
    for (const std::string& f : result.kept)
        std::cerr << "  kept: " << f << "\n";
    if (!ok && result.interrupted) {
        std::cerr << message
                  << (result.kept.empty() ? " (no files were written for this recording)" : "")
                  << "\n";
        return EXIT_FAILED;
    }
    if (!ok && result.nothing_written) {
        std::cerr << nothing_written_text(o, result) << "\n";
        return EXIT_FAILED;
    }
    if (!ok && result.names.refusal != NameRefusal::none) {
        std::cerr << name_refusal(message, result.names, dir, prefix) << "\n";
        return EXIT_FAILED;
    }
    if (!ok) {
        std::cerr << message << failure_reason();
        if (reach.known && reach.past_end[index] && result.read_failed)
            std::cerr << " (the image ends before this recording's clusters do: it holds "
                      << reach.clusters_held << " of the disk's " << reach.clusters << " clusters)";
        std::cerr << "\n";
        return EXIT_FAILED;
    }
    std::string json_name;
    clear_reason();
    if (o.metadata &&
        !write_metadata(src, index, o, dir, prefix, result, collecting.notices, &json_name)) {
        std::cerr << "Could not create output file." << failure_reason() << "\n";
        return EXIT_FAILED;
    }
    std::string nfo_name = output_name(dir.c_str(), prefix.c_str(), ".nfo");
    if (o.nfo && !write_nfo_file(nfo_name.c_str(), e, e.start_time)) {
        std::cerr << "Could not create output file." << failure_reason() << "\n";
        return EXIT_FAILED;
    }
    // One verdict: the engine's success text only when nothing was skipped or cut short.
    std::cout << (!result.ended_early && unreadable == 0 ? message : "Files written:") << "\n";
    for (const std::string& f : result.files)
        std::cout << "  " << f << "\n";
    if (!json_name.empty()) std::cout << "  " << json_name << "\n";
    if (o.nfo) std::cout << "  " << nfo_name << "\n";
    if (o.mux && result.mux.silent_frames > 0)
        std::cout << "  (" << result.mux.silent_frames
                  << " silent audio frames fill gaps in the broadcast's audio)\n";
    if (o.mux && !result.repairs.empty()) std::cout << repairs_summary(result.repairs) << "\n";
    if (result.ended_early) {
        std::cout.flush();
        std::cerr << "The extraction ended early; the files hold what was read.\n";
        return EXIT_FAILED;
    }
    return unreadable == 0 ? EXIT_OK : EXIT_FAILED;
}

// The one-file options' rules; a message and false when they do not go together.
bool check_mux_options(ExtractOptions* o) {
    if (o->mkv && !o->split.empty()) {
        std::cerr << "--mkv writes one Matroska file; it cannot be used with --split.\n";
        return false;
    }
    if (o->mkv) o->mux = true;  // the same pass and sync rules, another container
    if (o->mux && o->audio_given && o->audio == "mpg") {
        std::cerr << "--mux writes the audio into the one .mpg file; it cannot be used with "
                     "--audio mpg.\n";
        return false;
    }
    if (o->mux && o->no_video) {
        std::cerr << "--mux muxes video and audio into one file; it cannot be used with "
                     "--no-video.\n";
        return false;
    }
    if (!o->mux && (o->av_offset_given || !o->split.empty())) {
        std::cerr << "--av-offset and --split apply to the one-file output; give --mux too.\n";
        return false;
    }
    if (!o->mux && (!o->from.empty() || !o->to.empty())) {
        std::cerr << "--from and --to cut the one-file output by time; give --mux too (or give "
                     "the range in sectors with --start and --length).\n";
        return false;
    }
    for (auto [text, ms, name] : {std::make_tuple(&o->from, &o->from_ms, "--from"),
                                  std::make_tuple(&o->to, &o->to_ms, "--to")}) {
        if (text->empty()) continue;
        *ms = parse_clock_time(*text);
        if (*ms < 0) {
            std::cerr << name << " takes a time HH:MM:SS or HH:MM:SS.mmm: " << *text << "\n";
            return false;
        }
    }
    if (o->to_ms >= 0 && o->to_ms <= o->from_ms) {
        std::cerr << "--to must lie after --from.\n";
        return false;
    }
    if (!o->cut.empty() && !o->drop.empty()) {
        std::cerr << "--cut lists the stretches to keep and --drop those to remove; give one of "
                     "the two.\n";
        return false;
    }
    char refused[MESSAGE_SIZE];
    const std::string& list = o->cut.empty() ? o->drop : o->cut;
    CutRequest& cut = o->cut_list;
    cut.drop = !o->drop.empty();
    if (!list.empty() && !parse_cut_list(list, &cut.list, refused)) {
        std::cerr << (o->cut.empty() ? "--drop: " : "--cut: ") << refused << "\n";
        return false;
    }
    switch (cut_conflict(cut, o->mux, o->mkv, o->metadata)) {
        case CutConflict::needs_one_file:
            std::cerr << "--cut and --drop cut the one-file output by time; give --mux or --mkv "
                         "too.\n";
            return false;
        case CutConflict::chapters_have_no_place:
            std::cerr << "--chapters marks the chapters of the one-file output: give --mkv (they "
                         "go into the .mkv) or --mux with --metadata (they go into PREFIX.json).\n";
            return false;
        case CutConflict::none:
            break;
    }
    if (!o->chapter_interval.empty()) {
        cut.chapter_every_ms = parse_chapter_interval(o->chapter_interval);
        if (cut.chapter_every_ms < 0) {
            std::cerr << "--chapters takes " << CHAPTER_INTERVAL_FORM << ": " << o->chapter_interval
                      << "\n";
            return false;
        }
    }
    if (!o->split.empty()) {
        o->split_bytes = parse_size(o->split);
        if (o->split_bytes < MIN_SPLIT_BYTES) {
            std::cerr << "--split takes a size of at least 1M, with K, M or G (binary) as its "
                         "unit: "
                      << o->split << "\n";
            return false;
        }
    }
    return true;
}

int run_extract(ExtractOptions o) {
    o.audio = lower(o.audio);  // taken in any case
    if (!check_mux_options(&o)) return EXIT_USAGE;
    bool all = o.recording == "all";
    if (all && !o.prefix.empty()) {
        std::cerr << "--prefix names the files of one recording; with 'all' each recording is "
                     "named after its title.\n";
        return EXIT_USAGE;
    }
    if (all && !o.cut_list.list.empty()) {
        std::cerr << "--cut and --drop give times of one recording; they cannot be used with "
                     "'all'.\n";
        return EXIT_USAGE;
    }
    if (all && (o.start >= 0 || o.length >= 0)) {
        std::cerr << "--start and --length give a range of one recording; they cannot be used "
                     "with 'all'.\n";
        return EXIT_USAGE;
    }
    // Names go to the file calls as typed: UTF-8 on POSIX, the ANSI code page on Windows. An
    // empty folder (an unset variable in a script) is the current one, not the root.
    const std::string dir = o.dir.empty() ? "." : o.dir;
    std::string prefix = o.prefix;
    // A folder or a --prefix the names refuse is a wrong command line, told before the disk is
    // opened; a prefix made from a title is made to pass.
    char refused[MESSAGE_SIZE];
    NameCheck check;
    if (!check_output_names(dir.c_str(), prefix.c_str(), refused, &check)) {
        std::cerr << name_refusal(refused, check, dir, prefix) << "\n";
        return EXIT_USAGE;
    }

    RescueMap map;
    if (!o.map.empty() && (!load_map_option(o.map, &map) || refuse_unrescued_toc(o.map, map)))
        return EXIT_FAILED;
    const RescueMap* damage_map = o.map.empty() ? nullptr : &map;
    OpenSource src;
    if (!open_source(o.source, false, &src)) return EXIT_FAILED;
    if (!o.map.empty() && !fit_map_option(o.map, src.disk, &map)) return EXIT_FAILED;
    const DiskReach reach = measure_reach(src);
    // Ctrl-C: the walk stops at its next block and removes its unfinished files.
    defer_interrupts(nullptr);
    if (!all) {
        int index = recording_index(o.recording, src);
        if (index < 0) return EXIT_FAILED;
        if (o.prefix.empty()) prefix = default_prefix(src.entries[index], index + 1);
        if (!prepare_output_folder(dir)) return EXIT_FAILED;
        int status = extract_one(src, reach, index, o, dir, prefix, damage_map);
        if (interrupt_requested()) return EXIT_INTERRUPTED;
        return status;
    }
    if (src.count == 0) {
        std::cout << "There are no recordings on this disk.\n";
        return EXIT_OK;
    }
    if (!prepare_output_folder(dir)) return EXIT_FAILED;
    std::set<std::string> used;
    int failed = 0;
    int64_t batch_sectors = 0, done_sectors = 0;
    for (int i = 0; i < src.count; ++i)
        batch_sectors += src.entries[i].length;
    auto batch_start = std::chrono::steady_clock::now();
    for (int i = 0; i < src.count; ++i) {
        if (src.unreadable[i]) {
            std::cerr << "Recording " << (i + 1) << " of " << src.count
                      << ": its Recording Information record cannot be read; skipped.\n";
            ++failed;
            continue;
        }
        std::string name = unique_prefix(default_prefix(src.entries[i], i + 1), &used);
        std::cout << "Recording " << (i + 1) << " of " << src.count << ": "
                  << shown(src.entries[i].display_title);
        // The whole batch's time left, from the pace so far.
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - batch_start).count();
        if (done_sectors > 0 && elapsed > 1 && !o.quiet) {
            int64_t left =
                int64_t(elapsed * double(batch_sectors - done_sectors) / double(done_sectors));
            char text[64];
            snprintf(text, sizeof text, " (batch: about %lld:%02lld left)",
                     static_cast<long long>(left / 60), static_cast<long long>(left % 60));
            std::cout << text;
        }
        std::cout << std::endl;
        done_sectors += src.entries[i].length;
        if (extract_one(src, reach, i, o, dir, name, damage_map) != EXIT_OK) ++failed;
        if (interrupt_requested()) {
            std::cerr << "Interrupted: " << i << " of " << src.count
                      << " recordings were extracted.\n";
            return EXIT_INTERRUPTED;
        }
    }
    if (failed) {
        std::cerr << failed << " of " << src.count << " recordings could not be extracted.\n";
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

void add_extract_command(CLI::App& app, int* exit_code) {
    auto o = std::make_shared<ExtractOptions>();
    CLI::App* cmd = app.add_subcommand(
        "extract",
        "Extract a recording into an MPEG-2 video stream (PREFIX.m2v, from the first sequence "
        "header on) and its audio (PREFIX.mp2 as MPEG audio without PES headers, or PREFIX.mpg "
        "with the audio PES packets as broadcast).");
    cmd->footer(
        "The range is counted in 512-byte sectors from the first data sector of the recording's "
        "first cluster; by default the recording's own start and length.\n"
        "Audio is held back until video has started and SYNC video blocks have passed (with "
        "auto sync, only blocks after which no new sequence begins count), so that both files "
        "start together.\n"
        "Existing files of the same names are replaced, only once the extraction has "
        "succeeded; a failed or interrupted (Ctrl-C, exit status 130) one keeps what it "
        "extracted where no file of that name existed and leaves earlier files as they were. N = "
        "'all' extracts every recording, each named after its title (a second "
        "\"News\" becomes \"News (2)\").\n"
        "With --mux the audio is placed by its broadcast time stamps: the first audio frame "
        "with the first picture (plus --av-offset), each later one by its distance from the "
        "first, so audio lost in the broadcast becomes silence instead of shifting the rest.\n"
        "A missing output folder is created. An extraction that would write nothing (no video "
        "sequence header, all audio held back) writes no file and says why.\n"
        "Exit status: 0 done; 1 failed, nothing extracted, or the recording's clusters ended "
        "before the range did (the files are kept); 2 wrong command line (also a --prefix or "
        "folder the file names refuse, or an output that is the disk); 130 interrupted.");
    cmd->add_option("SOURCE", o->source, "Disk image, whole-disk device, or 'scan'")->required();
    add_recording_number(cmd, &o->recording,
                         "Recording number as 'quarrow list' shows it, or 'all'", true);
    cmd->add_option("-o,--output", o->dir,
                    "Folder for the files, created when missing (default, and \"\": the current "
                    "folder)");
    cmd->add_option("--prefix", o->prefix,
                    "File name without extension (default: the title in plain ASCII)");
    cmd->add_option("--start", o->start, "First sector of the range (default: the recording's)")
        ->check(CLI::Range(int64_t(0), int64_t(INT32_MAX)));
    cmd->add_option("--length", o->length,
                    "Sectors to extract, 1 or more (default: up to the recording's end)")
        ->check(CLI::Range(int64_t(1), int64_t(INT32_MAX)));
    cmd->add_option("--audio", o->audio,
                    "mp2: MPEG audio with the PES headers removed (default); mpg: the audio PES "
                    "packets unchanged (any case)")
        ->check(CLI::IsMember({"mp2", "mpg"}, CLI::ignore_case));
    cmd->add_flag("--no-video", o->no_video, "Leave the video out (no .m2v is written)");
    cmd->add_option("--sync", o->sync, "Video sync: video blocks audio waits for, 1 to 5")
        ->check(CLI::Range(SYNC_TUNING_MIN, SYNC_TUNING_MAX));
    cmd->add_flag("--no-auto-sync", o->no_auto_sync,
                  "Count every video block for the video sync, not only those after which no "
                  "new sequence begins");
    cmd->add_flag("-q,--quiet", o->quiet, "Show no progress bar");
    cmd->add_flag("--mux", o->mux,
                  "Write one MPEG-2 program stream PREFIX.mpg (video and audio with time stamps, "
                  "as DVD authoring tools take it) instead of .m2v and .mp2");
    cmd->add_flag("--mkv", o->mkv,
                  "Write one Matroska file PREFIX.mkv (MPEG-2 video and MPEG audio with the "
                  "time stamps of --mux, cues for seeking, the title, channel, date and duration "
                  "as tags) instead of .m2v and .mp2");
    cmd->add_option("--av-offset", o->av_offset,
                    "With --mux or --mkv: audio later by MS milliseconds (negative: earlier)")
        ->type_name("MS")
        ->check(CLI::Range(int64_t(-10000), int64_t(10000)));
    cmd->add_option("--split", o->split,
                    "With --mux: parts PREFIX-001.mpg, ... of at most SIZE bytes (K, M, G; at "
                    "least 1M), cut before a group of pictures; 4000M suits FAT32")
        ->type_name("SIZE");
    cmd->add_option("--from", o->from,
                    "With --mux: begin at the first group of pictures at or after this time "
                    "from the recording's start (HH:MM:SS or HH:MM:SS.mmm), the audio cut "
                    "there too")
        ->type_name("TIME");
    cmd->add_option("--to", o->to,
                    "With --mux: end before the first group of pictures at or after this time")
        ->type_name("TIME");
    cmd->add_option("--cut", o->cut,
                    "With --mux or --mkv: keep only these stretches of the recording, in its "
                    "time as 'quarrow list' and players show it: HH:MM:SS[.mmm]-HH:MM:SS[.mmm], "
                    "several joined by commas, in order; each begins with the group of pictures "
                    "that holds its start and ends before the first group at or after its end. "
                    "The joins play on without a jump in time or sync; the recording on the disk "
                    "is not changed. Within --from/--to where those are given")
        ->type_name("LIST");
    cmd->add_option("--drop", o->drop,
                    "With --mux or --mkv: remove these stretches (the same form as --cut) and "
                    "keep the rest, or the rest of --from/--to, e.g. the advertisements")
        ->type_name("LIST");
    cmd->add_option("--chapters", o->chapter_interval,
                    "Mark chapters: at the start, after each join of --cut or --drop, at each gap "
                    "repaired, and one every interval when given (10m, 90s, 1h). In the file "
                    "with --mkv; with --mux in PREFIX.json only (give --metadata), as a program "
                    "stream holds no chapters")
        ->type_name("[INTERVAL]")
        ->expected(0, 1);
    cmd->add_flag("--metadata", o->metadata,
                  "Also write PREFIX.json (title, channel, date, duration, attributes, files, "
                  "notices) and date every output with the recording's start time");
    cmd->add_flag("--nfo", o->nfo,
                  "Also write PREFIX.nfo for media libraries such as Kodi and Jellyfin (title, "
                  "channel as studio, date, running time, attributes as tags)");
    cmd->add_flag("--skip-bad", o->skip_bad,
                  "Go on past unreadable sectors (zeros in their place) and name each damaged "
                  "time range; exit status 1 when any, the files kept");
    cmd->add_option("--map", o->map,
                    "Map of an image made by 'quarrow rescue' or ddrescue: name the time ranges "
                    "whose sectors were not rescued");
    cmd->callback([o, exit_code, cmd] {
        o->audio_given = cmd->count("--audio") > 0;
        o->av_offset_given = cmd->count("--av-offset") > 0;
        o->cut_list.chapters = cmd->count("--chapters") > 0;
        *exit_code = run_extract(*o);
    });
}

const CommandRegistration registration(20, add_extract_command);

}  // namespace
}  // namespace quarrow::cli
