// Fuzzes the cluster walk, and with it the one-file writer: the input is laid at the start of the
// first cluster's data area and at the end of the second's, so that its blocks, lengths and start
// codes meet both the start of the walk and the end of the loaded data; the first byte picks the
// start, the options and the audio type, or the one-file output (whose packs are thrown away),
// on a disk whose middle of the input cannot be read. Nothing may be read or written outside the
// working buffer (AddressSanitizer watches), and the walk must end.
//
// The disk is built once. Its reads hand over only what is not zero (the tables and the input)
// and give the system back the whole pages of the rest of the destination, which then read as
// zeros: each input costs what the walk does with it, not the copy of two cluster data areas.
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "disk/rescue_map.h"
#include "extract/extraction_engine.h"
#include "extract/program_stream.h"
#include "fs/damaged_disk.h"
#include "fs/layout.h"
#include "support/disk_sink.h"
#include "support/memory_disk.h"

namespace {

using namespace quarrow;

constexpr int64_t IMAGE_BYTES = int64_t(3) * CLUSTER_SECTORS * SECTOR_SIZE;

// The image's bytes that may not be zero: the system area, and the input where it was laid.
struct SparseImage {
    test::MemoryDisk disk;
    std::vector<std::pair<int64_t, int64_t>> laid;  // [from, to)
};

SparseImage& image() {
    static SparseImage* image = [] {
        auto* s = new SparseImage;
        s->disk.bytes.assign(size_t(IMAGE_BYTES), 0);
        write_be16(s->disk.bytes.data() + BOOT_CLUSTER_COUNT_OFFSET, 4);
        uint8_t* fat = s->disk.bytes.data() + FAT_SECTOR * SECTOR_SIZE;
        write_be16(fat, FAT_ALLOCATED | 1);
        write_be16(fat + 2, FAT_LAST_ALLOCATED);
        return s;
    }();
    return *image;
}

// Zeros n bytes at p: the whole pages inside go back to the system (a private anonymous mapping
// reads zeros afterwards), the rest is cleared.
void zero_fill(uint8_t* p, size_t n) {
    const uintptr_t page = 4096;
    uintptr_t from = (uintptr_t(p) + page - 1) & ~(page - 1);
    uintptr_t to = (uintptr_t(p) + n) & ~(page - 1);
    // Small pages: a huge page would be cleared whole at the first byte the walk looks at.
    if (to > from && to - from >= 16 * page &&
        madvise(reinterpret_cast<void*>(from), to - from, MADV_NOHUGEPAGE) == 0 &&
        madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED) == 0) {
        memset(p, 0, from - uintptr_t(p));
        memset(reinterpret_cast<void*>(to), 0, uintptr_t(p) + n - to);
        return;
    }
    memset(p, 0, n);
}

int64_t sparse_read_at(Disk*, int64_t offset, void* buffer, uint32_t len) {
    SparseImage& s = image();
    if (offset < 0) return -1;
    int64_t end = offset + int64_t(len) < IMAGE_BYTES ? offset + int64_t(len) : IMAGE_BYTES;
    if (offset >= end) return 0;
    uint8_t* to = static_cast<uint8_t*>(buffer);
    zero_fill(to, size_t(end - offset));
    auto copy = [&](int64_t a, int64_t b) {
        int64_t from = a > offset ? a : offset, until = b < end ? b : end;
        if (from < until)
            memcpy(to + (from - offset), s.disk.bytes.data() + from, size_t(until - from));
    };
    copy(0, int64_t(CLUSTER_SECTORS) * SECTOR_SIZE);  // the system area
    for (const auto& r : s.laid)
        copy(r.first, r.second);
    return end - offset;
}

bool discard_part(void*, int) {
    return true;
}

bool discard_packs(void*, const ByteSpan*, int) {
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    unsigned seed = data[0];
    const uint8_t* stream = data + 1;
    size_t n = size - 1;

    // The walk over the input as cluster data, with start, length and options from the seed.
    SparseImage& s = image();
    int64_t a_at = cluster_data_sector(0) * SECTOR_SIZE,
            b_at = cluster_data_sector(1) * SECTOR_SIZE;
    uint8_t* area_a = s.disk.bytes.data() + a_at;
    uint8_t* area_b = s.disk.bytes.data() + b_at;
    size_t laid = n < size_t(CLUSTER_DATA_BYTES) ? n : size_t(CLUSTER_DATA_BYTES);
    // The input opens cluster 0's data and closes cluster 1's, where blocks meet the end of the
    // loaded data.
    memcpy(area_a, stream, laid);
    memcpy(area_b + CLUSTER_DATA_BYTES - laid, stream, laid);
    s.laid = {{a_at, a_at + int64_t(laid)},
              {b_at + CLUSTER_DATA_BYTES - int64_t(laid), b_at + CLUSTER_DATA_BYTES}};
    test::MemoryDisk video, audio;
    DiskHandle d = test::open_memory_disk(&s.disk);
    d->read_at = sparse_read_at;
    DiskHandle v = test::open_memory_disk(&video);
    DiskHandle a = test::open_memory_disk(&audio);
    char message[MESSAGE_SIZE];
    int32_t start = (seed & 1) ? 0 : 2 * CLUSTER_DATA_SECTORS - int32_t((laid + 511) / 512) - 1;
    // Long enough to walk all of the input and step past the end of the loaded data; the empty
    // sectors between would add nothing but time.
    int32_t length = int32_t((laid + 511) / 512) + 4;
    ExtractionRequest r;
    r.start = start;
    r.length = length;
    r.audio_type = 1 + (seed >> 1 & 1);
    r.auto_video_sync = seed & 4;
    r.sync_tuning = int(seed >> 3 & 7);
    r.no_video = seed & 64;
    ExtractionOutputs outputs;
    outputs.video = test::disk_sink(v);
    outputs.audio = test::disk_sink(a);
    if (seed & 128) {
        // The one-file output, which takes no no_video: that bit makes the middle third of the
        // input unreadable by a rescue's map instead.
        ProgramStreamOptions options;
        options.split_bytes = (seed & 2) ? MIN_SPLIT_BYTES : 0;
        ProgramStreamOutput discard{nullptr, discard_part, discard_packs};
        ProgramStreamWriter* writer = create_program_stream(options, discard, nullptr);
        RescueMap map;
        DamagedReads damaged;
        if (seed & 64) {
            init_rescue_map(&map, IMAGE_BYTES);
            set_map_status(&map, 0, IMAGE_BYTES, MAP_FINISHED);
            int64_t third = int64_t(laid / 3) / SECTOR_SIZE * SECTOR_SIZE;
            set_map_status(&map, a_at + third, third, MAP_BAD);
            set_map_status(&map, b_at + CLUSTER_DATA_BYTES - 2 * third, third, MAP_BAD);
            damaged.map = &map;
            r.damaged = &damaged;
        }
        r.no_video = false;
        r.audio_type = AUDIO_TYPE_MPG;
        if (writer) {
            outputs.video = program_stream_video_sink(writer);
            outputs.audio = program_stream_audio_sink(writer);
            outputs.arrivals = program_stream_arrivals(writer);
            if (walk_recording(d, r, outputs, message)) finish_program_stream(writer, message);
            program_stream_repairs(writer);
            destroy_program_stream(writer);
        }
    } else {
        walk_recording(d, r, outputs, message);
    }
    close_disk(d);
    close_disk(v);
    close_disk(a);
    memset(area_a, 0, laid);
    memset(area_b + CLUSTER_DATA_BYTES - laid, 0, laid);
    s.laid.clear();
    return 0;
}
