// make_scattered_disk IMAGE: writes a sparse MediaMaster disk image of 2 GiB and a cluster
// (256 clusters of 8 MiB after the system area) holding four recordings of six clusters each,
// scattered over the disk as a receiver leaves them after years of deletions; every other
// cluster is a hole. Prints, for the benchmark, one line per recording, newest first:
// "N first_sector_of_each_cluster..." so that the script can place damage inside them.
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/temp_files.h"

using namespace quarrow;

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_scattered_disk IMAGE\n");
        return 2;
    }
    constexpr int CLUSTERS = 256, RECORDINGS = 4, PER_RECORDING = 6;
    test::TestDisk disk;
    disk.cluster_count = CLUSTERS;
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < RECORDINGS; ++i) {
        test::TestRecording r;
        r.default_title = "Recording " + std::to_string(i + 1);
        r.duration = 360000;  // an hour
        // Spread over the disk: recording i takes every 42nd cluster from 7 * i + 3, so that
        // the newest lies near the end and the chains interleave.
        for (int k = 0; k < PER_RECORDING; ++k)
            r.clusters.push_back(uint16_t(7 * i + 3 + 42 * k));
        r.data.resize(size_t(PER_RECORDING) * CLUSTER_DATA_SECTORS * SECTOR_SIZE);
        for (size_t b = 0; b < r.data.size(); b += 8) {
            seed ^= seed << 13;
            seed ^= seed >> 7;
            seed ^= seed << 17;
            for (int j = 0; j < 8; ++j)
                r.data[b + size_t(j)] = uint8_t(seed >> (8 * j));
        }
        disk.recordings.push_back(r);
    }
    DiskHandle out = create_output_file(argv[1]);
    bool ok = out && test::write_test_disk(disk, out);
    ok = close_disk(out) == nullptr && ok;
    if (!ok ||
        !test::resize_file(argv[1], uint64_t(CLUSTERS + 1) * CLUSTER_SECTORS * SECTOR_SIZE)) {
        fprintf(stderr, "writing %s failed\n", argv[1]);
        return 1;
    }
    for (int i = RECORDINGS - 1; i >= 0; --i) {
        printf("%d", RECORDINGS - i);
        for (uint16_t c : disk.recordings[size_t(i)].clusters)
            printf(" %" PRId64, cluster_first_sector(c));
        printf("\n");
    }
    return 0;
}
