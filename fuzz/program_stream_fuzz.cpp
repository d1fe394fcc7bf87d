// Fuzzes the program stream writer: the first input byte picks how the rest is split between the
// video elementary stream and the audio PES stream and how it is cut into calls. Nothing may be
// read or written outside the data (AddressSanitizer watches), no call may hang, and what comes
// out must be whole packs.
#include <cstdint>
#include <cstdlib>

#include "disk/sector_access.h"
#include "extract/program_stream.h"
#include "support/disk_sink.h"
#include "support/memory_disk.h"

namespace {

using namespace quarrow;

bool begin_part(void*, int) {
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    unsigned seed = data[0];
    const uint8_t* stream = data + 1;
    size_t n = size - 1;
    test::MemoryDisk out;
    DiskHandle file = test::open_memory_disk(&out);
    ByteSink collect = test::disk_sink(file);
    ProgramStreamOptions options;
    options.av_offset_ms = (seed & 1) ? -300 : 0;
    options.split_bytes = (seed & 2) ? MIN_SPLIT_BYTES : 0;
    ProgramStreamWriter* w =
        create_program_stream(options, {collect.context, begin_part, collect.write}, nullptr);
    if (!w) {
        close_disk(file);
        return 0;
    }
    ByteSink video = program_stream_video_sink(w), audio = program_stream_audio_sink(w);
    size_t split = n * ((seed >> 2) & 7) / 8, piece = 1 + (seed >> 5) * 97;
    for (size_t at = 0; at < split; at += piece)
        sink_write(&video, stream + at, int64_t(at + piece < split ? piece : split - at));
    for (size_t at = split; at < n; at += piece)
        sink_write(&audio, stream + at, int64_t(at + piece < n ? piece : n - at));
    char message[MESSAGE_SIZE];
    finish_program_stream(w, message);
    destroy_program_stream(w);
    close_disk(file);
    if (out.bytes.size() % PACK_SIZE != 0) abort();
    return 0;
}
