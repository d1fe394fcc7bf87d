// The two loops extraction spends its computing time in, over data shaped like a broadcast:
// the search for the video sequence header (00 00 01 B3) in compressed video with slice start
// codes every few kB, and the PES header removal over audio PES packets of one Layer II frame.
// Both report bytes per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "extract/stream_filters.h"

using namespace quarrow;

namespace {

std::vector<uint8_t> random_bytes(size_t n, uint64_t seed) {
    std::vector<uint8_t> b(n);
    uint64_t s = seed;
    for (size_t i = 0; i < n; ++i) {
        s ^= s << 13, s ^= s >> 7, s ^= s << 17;
        b[i] = uint8_t(s);
    }
    return b;
}

// An output that takes the bytes and drops them: the loop, not the file system, is measured.
bool discard(void*, const ByteSpan*, int) {
    return true;
}

void VideoStartCodeSearch(benchmark::State& state) {
    std::vector<uint8_t> video = random_bytes(size_t(state.range(0)), 1);
    for (size_t i = 0; i + 4 < video.size(); ++i)
        if (video[i] == 0 && video[i + 1] == 0 && video[i + 2] == 1 && video[i + 3] == 0xB3)
            video[i + 3] = 0xB2;
    for (size_t i = 1000; i + 4 < video.size(); i += 3000)
        video[i] = 0, video[i + 1] = 0, video[i + 2] = 1, video[i + 3] = 0x01;
    for (auto _ : state) {
        int64_t at =
            find_sequence_header(video.data(), int64_t(video.size()) - 4, int64_t(video.size()));
        benchmark::DoNotOptimize(at);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(VideoStartCodeSearch)->Arg(150 * 512)->Arg(8 << 20);

void PesHeaderRemoval(benchmark::State& state) {
    // Packets of a 14-byte header and a 576-byte frame with CRC, as 192 kbit/s at 48 kHz.
    std::vector<uint8_t> audio;
    std::vector<uint8_t> frame = random_bytes(576, 2);
    frame[0] = 0xFF, frame[1] = 0xFC;
    while (audio.size() < size_t(state.range(0))) {
        const uint8_t header[14] = {0,    0,    1,    0xC0, 0x02, 0x48, 0x84,
                                    0x80, 0x05, 0x21, 0,    5,    0xBF, 0x21};
        audio.insert(audio.end(), header, header + 14);
        audio.insert(audio.end(), frame.begin(), frame.end());
    }
    ByteSink sink{nullptr, discard};
    StreamFilterState filters{};
    reset_stream_filters(&filters);
    for (auto _ : state) {
        int ok = strip_pes_headers(&filters, &sink, audio.data(), int64_t(audio.size()));
        benchmark::DoNotOptimize(ok);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(audio.size()));
}
BENCHMARK(PesHeaderRemoval)->Arg(3 * 512)->Arg(8 << 20);

}  // namespace

BENCHMARK_MAIN();
