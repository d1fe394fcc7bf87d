// Fuzzes the cluster walk: the input is laid at the start of the first cluster's data area and at
// the end of the second's, so that its blocks, lengths and start codes meet both the start of the
// walk and the end of the loaded data; the first byte picks the start, the options and the audio
// type. Nothing may be read or written outside the working buffer (AddressSanitizer watches), and
// the walk must end.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "extract/extraction_engine.h"
#include "fs/layout.h"
#include "support/disk_sink.h"
#include "support/memory_disk.h"

namespace {

using namespace quarrow;

// One static disk image: boot area, a table chaining cluster 0 to cluster 1, and both data
// areas; each run lays its input into them and clears it again afterwards.
test::MemoryDisk& image() {
    static test::MemoryDisk* disk = [] {
        auto* d = new test::MemoryDisk;
        d->bytes.assign(size_t(3) * CLUSTER_SECTORS * SECTOR_SIZE, 0);
        write_be16(d->bytes.data() + BOOT_CLUSTER_COUNT_OFFSET, 4);
        uint8_t* fat = d->bytes.data() + FAT_SECTOR * SECTOR_SIZE;
        write_be16(fat, FAT_ALLOCATED | 1);
        write_be16(fat + 2, FAT_LAST_ALLOCATED);
        return d;
    }();
    return *disk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    unsigned seed = data[0];
    const uint8_t* stream = data + 1;
    size_t n = size - 1;

    // The walk over the input as cluster data, with start, length and options from the seed.
    test::MemoryDisk& disk_image = image();
    uint8_t* area_a = disk_image.bytes.data() + cluster_data_sector(0) * SECTOR_SIZE;
    uint8_t* area_b = disk_image.bytes.data() + cluster_data_sector(1) * SECTOR_SIZE;
    size_t laid = n < size_t(CLUSTER_DATA_BYTES) ? n : size_t(CLUSTER_DATA_BYTES);
    // The input opens cluster 0's data and closes cluster 1's, where blocks meet the end of the
    // loaded data.
    memcpy(area_a, stream, laid);
    memcpy(area_b + CLUSTER_DATA_BYTES - laid, stream, laid);
    test::MemoryDisk video, audio;
    DiskHandle d = test::open_memory_disk(&disk_image);
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
    walk_recording(d, r, outputs, message);
    close_disk(d);
    close_disk(v);
    close_disk(a);
    memset(area_a, 0, laid);
    memset(area_b + CLUSTER_DATA_BYTES - laid, 0, laid);
    return 0;
}
