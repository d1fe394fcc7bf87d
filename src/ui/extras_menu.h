// The Extras menu of the main window: what the command line offers beyond the extraction
// panel. Five toggles (check marks, kept in the registry beside the four settings and read at
// start) change what "Begin Extraction" and "Extract All Recordings..." write, as the command
// line's options do:
//   "One Playable File (.mpg)"     --mux: one program stream; greys the panel's RAW audio choice
//   "Matroska (.mkv)"              --mkv: one Matroska file; exclusive with the one above
//   "Split at 4 GB"                --split 4000M with the one .mpg: parts a FAT32 drive takes
//   "Write Metadata File"          --metadata: <prefix>.json beside, every output dated
//   "Read Past Unreadable Sectors" --skip-bad: zeros for unreadable sectors, the damaged time
//                                  ranges named in the result
// then "Cut List..." (cut_list_dialog.h: --cut or --drop and --chapters for the selected
// recording, checked while set, never stored), and two commands: "Extract All Recordings..."
// (every recording into one folder, named as the command line names them; refused while a cut
// list is set, as 'all' refuses --cut) and "Rescue Failing Disk..." (rescue_dialog.h).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "disk/hooks.h"
#include "extract/extraction_engine.h"
#include "extract/extraction_setup.h"
#include "fs/recording_table.h"

namespace quarrow::ui {

// The toggles as the extraction reads them.
struct ExtraChoices {
    bool one_file = false;
    bool matroska = false;
    bool split = false;
    bool metadata = false;
    bool skip_bad = false;
    CutRequest cut;  // the cut list set for the selected recording (none: empty)
};

// What the user is told when the cut list and the outputs chosen do not go together.
const char* cut_conflict_text(CutConflict conflict);
// From the check marks of the main window's menu, and the cut list.
ExtraChoices extra_choices();
// At start: the check marks from the registry, and the panel's audio choice to match.
void load_extras_settings();
// The Extras commands; false for any other command.
bool handle_extras_command(int command);
// The panel's "RAW System Audio Stream (MPG)" greyed while a one-file output is chosen.
void apply_extras_to_panel();

// One recording's extraction with the toggles: the request as the panel or the batch fills it
// (range, audio, sync, folder, prefix, hooks), the one-file, Matroska, cut, chapters, metadata
// and damaged-disk parts added here as the command line adds them, then the metadata file. No
// window is touched: it runs where the background work runs it. number is the recording's list
// number.
struct ExtrasOutcome {
    bool ok = false;
    std::string text;  // the result message: the engine's, and what the toggles add
    ExtractionResult result;
};
ExtrasOutcome extract_with_extras(DiskHandle disk, const RecordingEntry& entry, int number,
                                  ExtractionRequest request, const ExtraChoices& choices);

}  // namespace quarrow::ui
