// make_sample_disk: writes the sample MediaMaster disk image (README's demo, the integration
// tests) from the committed fixture media. The image covers all 48 clusters of the disk; it is
// sparse where the disk holds nothing.
#include <cstdio>
#include <string>

#include "fs/layout.h"
#include "fs/recording_table.h"
#include "support/sample_disk.h"

int main(int argc, char** argv) {
    using namespace quarrow;
    if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        fprintf(stderr,
                "usage: make_sample_disk IMAGE [FIXTURE_DIR]\n"
                "Writes a MediaMaster disk image with five recordings made from the fixture "
                "media\n(sample.m2v, sample.mp2 in FIXTURE_DIR, by default the source tree's "
                "tests/fixtures).\n");
        return argc < 2 ? 2 : (argc == 2 ? 0 : 2);
    }
    test::SampleMedia media;
    std::string dir = argc > 2 ? argv[2] : "";
    if (!test::load_sample_media(dir, &media)) {
        fprintf(stderr, "Cannot read sample.m2v and sample.mp2 from %s\n",
                dir.empty() ? test::fixture_path("").c_str() : dir.c_str());
        return 1;
    }
    test::TestDisk disk = test::sample_disk(media);
    DiskHandle out = create_output_file(argv[1]);
    if (!out) {
        fprintf(stderr, "Cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = test::write_sample_disk(disk, out);
    out = close_disk(out);
    if (!ok) {
        fprintf(stderr, "Writing %s failed\n", argv[1]);
        return 1;
    }
    printf("%s: MediaMaster disk of %u clusters with %zu recordings\n", argv[1],
           unsigned(disk.cluster_count), disk.recordings.size());
    for (const test::TestRecording& r : disk.recordings) {
        printf("  clusters");
        for (uint16_t c : r.clusters)
            printf(" %u", unsigned(c));
        printf(", %u sectors from offset %u, %u.%02u s\n", unsigned(r.length),
               unsigned(r.start_offset), unsigned(r.duration / 100), unsigned(r.duration % 100));
    }
    return 0;
}
