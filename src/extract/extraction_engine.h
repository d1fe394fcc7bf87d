// The extraction engine: turns one recording's clusters into an MPEG video elementary stream
// (".m2v") and an audio file (".mpg" with the audio PES packets as they stand, or ".mp2" with
// their headers removed).
//
// The engine walks the recording's cluster chain through a working buffer of two cluster data
// areas, classifies each block header, and hands video payloads to the video filter and audio
// payloads, once the audio gate has opened, to the audio filter (stream_filters.h). It never shows
// anything itself: progress (sectors walked of the length) and the notices the user must see
// before the result message (skipped sectors, a walk that ran out of data) go through the
// OperationHooks the caller passes. Implemented by the command line (src/cli/cmd_extract.cpp,
// terminal progress bar and stderr) and by the Windows extraction panel (progress bar and the
// "Quarrow Error" box).
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/hooks.h"
#include "disk/sector_access.h"
#include "extract/output_name.h"
#include "extract/program_stream.h"
#include "extract/stream_filters.h"

namespace quarrow {

struct DamagedReads;    // fs/damaged_disk.h
struct MatroskaParams;  // extract/matroska_writer.h

// Sync tuning values the front ends offer: how many video blocks audio is held back by.
constexpr int SYNC_TUNING_MIN = 1;
constexpr int SYNC_TUNING_MAX = 5;

// One extraction as a front end asks for it: the recording and the range, how the audio is
// written and held back, where the files go, and who hears of progress. The command line
// (src/cli/cmd_extract.cpp) and the Windows extraction panel (src/ui/extraction_panel.cpp) fill it.
struct ExtractionRequest {
    // The recording's first cluster; start (sectors from the first data sector of the first
    // cluster) and length (sectors to walk) give the range.
    uint16_t first_cluster = 0;
    int32_t start = 0;
    int32_t length = 0;
    // AUDIO_TYPE_MPG or AUDIO_TYPE_MP2 (any other value is taken as MP2).
    int audio_type = AUDIO_TYPE_MP2;
    // How long audio is held back after the video has started: sync_tuning video blocks, with
    // auto sync only those after which no new sequence begins.
    bool auto_video_sync = true;
    int sync_tuning = SYNC_TUNING_MIN;
    // Leaves the video out: no ".m2v" is created.
    bool no_video = false;
    // One program stream "<prefix>.mpg" (video and audio with time stamps) instead of the two
    // files; the audio type and no_video do not apply. av_offset_ms moves the audio later
    // (negative: earlier); split_bytes > 0 cuts it into parts "<prefix>-001.mpg", ... of at most
    // that size.
    bool mux = false;
    int64_t av_offset_ms = 0;
    int64_t split_bytes = 0;
    // With mux: a Matroska file "<prefix>.mkv" with these texts, tags and chapters instead of
    // the program stream (split_bytes does not apply); null for the program stream.
    const MatroskaParams* matroska = nullptr;
    int64_t from_ms = -1, to_ms = -1;  // with mux: the stretch by time (ProgramStreamOptions)
    // With mux: the stretches to keep (cut_list.h, from_ms and to_ms folded in); empty: the
    // range by from_ms and to_ms, or all of it.
    std::vector<TimeStretch> stretches;
    // With mux: the chapters of the file are worked out (ExtractionResult::chapters; in the .mkv
    // too), one every chapter_every_ms of the file's time besides those at joins and gaps
    // (0: none of those).
    bool chapters = false;
    int64_t chapter_every_ms = 0;
    // The modification time every output gets (seconds since 1970, UTC); -1 leaves the time of
    // writing.
    int64_t output_time = -1;
    // Destination folder and file name without extension, in the encoding of the platform's file
    // names (output_name.h): Latin-1 for the Windows ANSI calls, UTF-8 on POSIX.
    const char* path = "";
    const char* prefix = "";
    // Progress (sectors walked of the length), notices, and a cancel question asked before each
    // block like the interrupt below; may be null.
    const OperationHooks* hooks = nullptr;
    // Set (by a signal handler) to stop the walk at the next block; may be null.
    const volatile std::sig_atomic_t* interrupt = nullptr;
    // A disk with unreadable sectors (the command line's --skip-bad and --map): they read as
    // zeros, which the walk steps over as unexpected sectors, the allocation table's copy stands
    // in for unreadable sectors of the first, and every damaged run is noted there. Null: the
    // first read error ends the extraction.
    DamagedReads* damaged = nullptr;
};

// Where a walk's two streams go.
struct ExtractionOutputs {
    ByteSink video;  // not used when no_video is set
    ByteSink audio;
    // Told where both streams stood at each audio block and at each run of unreadable sectors
    // (mark null: nobody asks). The audio held in the filter then reaches its sink before each
    // write of video, so that audio which came before a video byte is there before it.
    StreamArrivals arrivals{nullptr, nullptr};
    // The audio sink takes each payload where the walk holds it, during the call, rather than
    // gathered into large writes (it copies what it keeps).
    bool audio_in_place = false;
};

// The walk's message when the request's interrupt was set.
constexpr const char* EXTRACTION_INTERRUPTED = "The extraction was interrupted.";

// What an extraction did, for the front end's report: a front end decides its exit status and
// its notices from these fields, never from the message's text. A plain record: a later field
// says more without changing the ones before.
struct ExtractionResult {
    std::vector<std::string> files;  // the outputs' names, as the file system has them
    ProgramStreamCounts mux;         // with mux
    // After a failed or interrupted extraction: the outputs that hold what came before the
    // failure, and those left as they were because a file of the name existed before.
    std::vector<std::string> kept;
    std::vector<std::string> earlier_kept;
    std::vector<StreamRepair> repairs;        // with mux: the gaps met and mended
    std::vector<StreamChapter> chapters;      // with mux and chapters
    std::vector<KeptStretchTimes> stretches;  // with mux and a cut: where each stretch fell
    // Which output-name check refused the names, and on what (NameRefusal::none when they passed).
    NameCheck names;
    // The walk stopped before the range's end: the chain ended, or came back to a cluster met
    // before (chain_looped too). What was read is written.
    bool ended_early = false;
    bool chain_looped = false;
    int64_t sectors_walked = 0;
    // A cluster's data could not be read (the message names which).
    bool read_failed = false;
    // The request's interrupt stopped the walk.
    bool interrupted = false;
    // The walk ended with nothing for either file: the video never reached a sequence header
    // (and audio waits for it), or the range held no audio to go with no_video. No file is
    // written; audio_blocks tells an audio-only recording from an empty range.
    bool nothing_written = false;
    int64_t audio_blocks = 0;
};

// Extracts one recording as the request says. Each file is written under a temporary name and
// takes its final name, replacing an existing file, when the whole extraction succeeded. A
// failed or interrupted one leaves each file by the output rule (output_file.h): what was written
// is kept under its name where no file of that name existed (with a notice of where the walk
// stopped, and the names in result->kept), and an earlier file stays byte-identical.
// An extraction that would write nothing to either file writes none and fails with "Nothing
// was extracted." and its reason. Returns 1 on success, 0 on failure; message (MESSAGE_SIZE
// bytes) receives the result text in both cases; result (may be null) the names written and how
// the extraction ended.
int extract_recording(DiskHandle disk, const ExtractionRequest& request, char* message,
                      ExtractionResult* result = nullptr);

// The walk itself, into the caller's outputs; the request's path and prefix are not used.
// Returns 1 when the walk reached its end (message left for the caller), 0 with the message
// filled on failure; result (may be null) receives the walk's fields (how it ended, whether
// anything was written), its files left as they were.
int walk_recording(DiskHandle disk, const ExtractionRequest& request,
                   const ExtractionOutputs& outputs, char* message,
                   ExtractionResult* result = nullptr);

}  // namespace quarrow
