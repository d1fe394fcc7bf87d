// POSIX: the spans go to writev as they are.
#include "extract/output_spans.h"

namespace quarrow {

bool write_output_spans(OutputFile* file, const ByteSpan* spans, int count) {
    return output_write(file, spans, count);
}

}  // namespace quarrow
