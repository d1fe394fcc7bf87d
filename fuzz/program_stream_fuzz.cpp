// Fuzzes the one-file writer: the first input byte picks how the rest is split between the video
// elementary stream and the audio PES stream and how it is cut into calls; the second, whether
// the output is packs or a Matroska file (whose blocks point into the video the writer holds) and
// whether video and audio come in turns, as a walk hands them over. Nothing may be read or
// written outside the data (AddressSanitizer watches), no call may hang, and what comes out must
// be whole packs, or a file that begins with its EBML header.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "disk/sector_access.h"
#include "extract/matroska_mux.h"
#include "extract/program_stream.h"
#include "support/disk_sink.h"
#include "support/matroska_media.h"
#include "support/memory_disk.h"

namespace {

using namespace quarrow;

bool begin_part(void*, int) {
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    unsigned seed = data[0];
    bool matroska = (data[1] & 1) != 0, in_turns = (data[1] & 2) != 0;
    const uint8_t* stream = data + 2;
    size_t n = size - 2;
    test::MemoryDisk out;
    DiskHandle file = test::open_memory_disk(&out);
    ByteSink collect = test::disk_sink(file);
    test::MemoryMatroska mkv;
    ProgramStreamOptions options;
    options.av_offset_ms = (seed & 1) ? -300 : 0;
    options.split_bytes = (seed & 2) ? MIN_SPLIT_BYTES : 0;
    ProgramStreamWriter* w =
        matroska
            ? create_matroska_stream(options, {}, test::memory_output(&mkv), nullptr)
            : create_program_stream(options, {collect.context, begin_part, collect.write}, nullptr);
    if (!w) {
        close_disk(file);
        return 0;
    }
    ByteSink video = program_stream_video_sink(w), audio = program_stream_audio_sink(w);
    size_t split = n * ((seed >> 2) & 7) / 8, piece = 1 + (seed >> 5) * 97;
    size_t v = 0, a = split;
    for (bool video_turn = true; v < split || a < n; video_turn = !video_turn) {
        bool take_video = v < split && (a >= n || !in_turns || video_turn);
        size_t& at = take_video ? v : a;
        size_t end = take_video ? split : n;
        size_t k = at + piece < end ? piece : end - at;
        sink_write(take_video ? &video : &audio, stream + at, int64_t(k));
        at += k;
    }
    char message[MESSAGE_SIZE];
    finish_program_stream(w, message);
    destroy_program_stream(w);
    close_disk(file);
    if (out.bytes.size() % PACK_SIZE != 0) abort();
    static const uint8_t EBML[4] = {0x1A, 0x45, 0xDF, 0xA3};
    if (!mkv.bytes.empty() && (mkv.bytes.size() < 4 || memcmp(mkv.bytes.data(), EBML, 4) != 0))
        abort();
    return 0;
}
