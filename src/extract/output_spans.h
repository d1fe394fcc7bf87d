// How the program stream's spans reach its output file. The writer hands over many small spans
// (a pack's headers between pieces of video that stay where the walk read them): POSIX gives
// them to the system in one call (writev); Windows would write them one by one, so there they
// are joined into one piece first.
#pragma once

#include "disk/output_file.h"

namespace quarrow {

bool write_output_spans(OutputFile* file, const ByteSpan* spans, int count);

}  // namespace quarrow
