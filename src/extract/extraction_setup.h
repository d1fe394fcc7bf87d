// What both front ends wire around one extraction beyond the range and the audio choices: the
// names a recording's files get when the user gives none, the Matroska file's texts, the
// metadata file beside the outputs, and the report of a damaged disk's unreadable time ranges.
// The command line (src/cli/cmd_extract.cpp) and the Windows program (src/ui/extraction_panel.cpp,
// src/ui/extras_menu.cpp) take them from here, so that the same recording and options give the
// same files from either.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "extract/cut_list.h"
#include "extract/extraction_engine.h"
#include "extract/matroska_writer.h"
#include "fs/damaged_disk.h"
#include "fs/recording_table.h"

namespace quarrow {

// The part size "Split at 4 GB" and '--split 4000M' give: a part stays below the 4 GiB that a
// FAT32 file cannot reach.
constexpr int64_t FAT32_SPLIT_BYTES = int64_t(4000) << 20;

// The display title folded to plain ASCII, with what a file prefix may not hold made "_"; a
// recording without any title is named "Recording <number>".
std::string default_prefix(const RecordingEntry& e, int number);

// "News", then "News (2)", "News (3)", ...; compared without regard to case, so that the files
// stay apart on file systems that ignore it. used keeps the names given so far.
std::string unique_prefix(const std::string& base, std::set<std::string>* used);

// The Matroska file's title, channel, date and duration tags for the recording.
void fill_matroska_params(const RecordingEntry& e, MatroskaParams* params);

// A cut list and chapters as the user gives them, before they are fitted to one recording: the
// stretches read from the text (parse_cut_list), whether they are the ones to keep or to remove,
// and the chapters.
struct CutRequest {
    std::vector<TimeStretch> list;  // empty: no cut
    bool drop = false;              // the list names the stretches to remove
    bool chapters = false;
    int64_t chapter_every_ms = 0;  // with chapters: also one every so often (0: none of those)
};

// What a cut and chapters need of the outputs chosen: only the one-file output is cut by time,
// and its chapters go into the .mkv, or for the .mpg into the metadata file (a program stream
// holds none). Each front end words the conflict in its own terms (options, menu items).
enum class CutConflict { none, needs_one_file, chapters_have_no_place };
CutConflict cut_conflict(const CutRequest& cut, bool one_file, bool matroska, bool metadata);

// The cut fitted to recording e: request->stretches (request->from_ms and to_ms folded in), its
// chapters. False with a message (MESSAGE_SIZE bytes) when a stretch lies past the recording's
// end or outside from/to, or when nothing would be left to keep; the request is then unchanged.
bool apply_cut(const RecordingEntry& e, const CutRequest& cut, ExtractionRequest* request,
               char* message);

// <prefix>.json beside the outputs: what the recording is (number: its list number) and what
// was written; source names the disk as the user gave it; notices are the walk's (Latin-1, as
// the disk's texts); mux adds the repairs of the one-file output. Written under the one output
// rule, dated with the recording's start time. False when it could not be written completely.
bool write_metadata_file(const RecordingEntry& e, int number, const std::string& source, bool mux,
                         const ExtractionResult& result, const std::vector<std::string>& notices,
                         const std::string& dir, const std::string& prefix, std::string* name);

// What the damaged reads found within the recording's sectors [from, to): a line on the
// allocation table's unreadable sectors, a line for each damaged time range ("Unreadable:
// 00:10:01 - 00:10:02 (...)") and the total. unreadable (may be null) receives the number of
// unreadable sectors, 0 when nothing was damaged.
std::vector<std::string> damage_report_lines(const DamagedReads& damaged, const RecordingEntry& e,
                                             int64_t from, int64_t to, int64_t* unreadable);

}  // namespace quarrow
