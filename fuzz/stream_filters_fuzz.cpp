// Fuzzes the stream filters: the first input byte picks the piece sizes; the rest is an audio
// stream. The stream goes through the PES header remover whole and in pieces (of any size, also
// below the 16-byte look-ahead), and through the audio filter while it waits for its first start
// code; the bytes written must not depend on the cutting, and nothing may be read or written
// outside the pieces (AddressSanitizer watches).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "extract/extraction_engine.h"
#include "extract/stream_filters.h"
#include "fs/layout.h"
#include "support/disk_sink.h"
#include "support/memory_disk.h"

namespace {

using namespace quarrow;

std::vector<uint8_t> run_pieces(const uint8_t* data, size_t size, unsigned seed, bool audio,
                                int type) {
    test::MemoryDisk out;
    DiskHandle file = test::open_memory_disk(&out);
    ByteSink sink = test::disk_sink(file);
    StreamFilterState state{};
    reset_stream_filters(&state);
    if (!audio) state.audio_waiting = false;
    size_t at = 0;
    unsigned r = seed | 1;
    while (at < size) {
        r = r * 1103515245u + 12345u;
        size_t n = seed == 0 ? size - at : 1 + (r >> 16) % (seed % 64 + 1);
        if (n > size - at) n = size - at;
        if (audio)
            write_audio_block(&state, &sink, data + at, int64_t(n), type);
        else
            strip_pes_headers(&state, &sink, data + at, int64_t(n));
        at += n;
    }
    flush_audio_output(&state, &sink);
    close_disk(file);
    return out.bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    unsigned seed = data[0];
    const uint8_t* stream = data + 1;
    size_t n = size - 1;

    if (run_pieces(stream, n, 0, false, 0) != run_pieces(stream, n, seed, false, 0)) abort();
    if (run_pieces(stream, n, 0, true, AUDIO_TYPE_MP2) !=
        run_pieces(stream, n, seed, true, AUDIO_TYPE_MP2))
        abort();
    if (run_pieces(stream, n, 0, true, AUDIO_TYPE_MPG) !=
        run_pieces(stream, n, seed, true, AUDIO_TYPE_MPG))
        abort();

    return 0;
}
