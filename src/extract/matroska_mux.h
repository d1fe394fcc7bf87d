// --mkv for today's one-file writer: an output for the program stream writer that takes its packs
// apart again and hands the pictures and audio frames, with the time stamps the writer gave
// them, to the Matroska writer. The .mkv thus keeps every timing and sync rule of --mux. Kept
// apart from both writers so that it can give way to a direct feed from the picture timing and
// the audio placement.
#pragma once

#include "extract/extraction_engine.h"
#include "extract/matroska_writer.h"
#include "extract/program_stream.h"

namespace quarrow {

struct MatroskaFromPacks;

// texts: the title, tags and chapters (its tracks and origin are filled in from the stream).
// Null when memory runs short.
MatroskaFromPacks* create_matroska_from_packs(const MatroskaParams& texts,
                                              const MatroskaOutput& output);
void destroy_matroska_from_packs(MatroskaFromPacks* m);

// The program stream writer's output: one part only; the packs go to the .mkv.
ProgramStreamOutput matroska_pack_output(MatroskaFromPacks* m);

// After finish_program_stream: the last picture and the file's end. false when a write failed.
bool finish_matroska_from_packs(MatroskaFromPacks* m);

// extract_recording's --mkv: the walk into the one-file writer as with mux, its packs into
// "<prefix>.mkv" under the output file rule, with request.matroska's texts. 1 on success, else 0
// with the message.
int extract_to_matroska(DiskHandle disk, const ExtractionRequest& request, const char* path,
                        const char* prefix, char* message, ExtractionResult* result);

}  // namespace quarrow
