// --mkv: the one-file writer (program_stream.h) with a Matroska file as its output instead of
// packs. Its pictures, timed by the video timing, and its audio frames, placed by the audio
// placement, go straight to the Matroska writer with their times, so the .mkv keeps every timing
// and sync rule of --mux and the same single pass; no MPEG pack is made.
#pragma once

#include "extract/matroska_writer.h"
#include "extract/program_stream.h"

namespace quarrow {

// texts: the title, tags and chapters (its tracks and origin are filled in from the stream).
// options.split_bytes does not apply. The file's first bytes are written once the tracks are
// known; finish_program_stream writes the rest. Null when memory runs short.
ProgramStreamWriter* create_matroska_stream(const ProgramStreamOptions& options,
                                            const MatroskaParams& texts,
                                            const MatroskaOutput& output,
                                            const OperationHooks* hooks);

}  // namespace quarrow
