#include "disk/partial_read.h"

#include <cstring>

namespace quarrow {
namespace {

// One transfer of whole sectors: bytes moved, -1 when the source refused it. A transfer never
// exceeds the handle's 32-bit length.
constexpr int64_t MAX_TRANSFER_SECTORS = 8192;

int64_t transfer(DiskHandle disk, uint8_t* buffer, int64_t first, int64_t count) {
    if (count > MAX_TRANSFER_SECTORS) count = MAX_TRANSFER_SECTORS;
    return disk->read_at(disk, first * SECTOR_SIZE, buffer,
                         static_cast<uint32_t>(count * SECTOR_SIZE));
}

struct Split {
    DiskHandle disk;
    int retries;
    std::vector<SectorRun>* bad;
};

// The last single sector: tried until it reads or its tries are spent. 1 when delivered (read or
// zeroed), 0 when the source ends there.
int64_t read_single(const Split& s, uint8_t* buffer, int64_t sector) {
    for (int attempt = 0; attempt < s.retries; ++attempt) {
        int64_t moved = transfer(s.disk, buffer, sector, 1);
        if (moved == SECTOR_SIZE) return 1;
        if (moved >= 0) return 0;  // the source ends inside or before this sector
    }
    memset(buffer, 0, SECTOR_SIZE);
    if (s.bad) add_sector_run(s.bad, sector, 1);
    return 1;
}

// Reads a run: one transfer for what reads whole; a refused transfer splits in two halves, each
// read the same way, so a bad sector among good ones costs about two refused reads per halving.
int64_t read_run(const Split& s, uint8_t* buffer, int64_t first, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        uint8_t* at = buffer + done * SECTOR_SIZE;
        int64_t left = count - done;
        if (left == 1) {
            int64_t got = read_single(s, at, first + done);
            if (got == 0) return done;
            done += got;
            continue;
        }
        int64_t moved = transfer(s.disk, at, first + done, count - done);
        if (moved > 0) {
            // A short transfer that delivered sectors: either the source ends, or a later sector
            // failed; the next transfer from there tells which.
            if (moved < SECTOR_SIZE) return done;
            done += moved / SECTOR_SIZE;
            continue;
        }
        if (moved == 0) return done;
        int64_t half = left / 2;
        int64_t got = read_run(s, at, first + done, half);
        done += got;
        if (got < half) return done;
        // The second half is tried as one transfer by the loop, and split again if refused.
    }
    return done;
}

}  // namespace

void add_sector_run(std::vector<SectorRun>* runs, int64_t first, int64_t count) {
    if (!runs || count <= 0) return;
    if (!runs->empty()) {
        SectorRun& last = runs->back();
        if (last.first + last.count == first) {
            last.count += count;
            return;
        }
    }
    runs->push_back({first, count});
}

int64_t read_sectors_partial(DiskHandle disk, void* buffer, int64_t first, int64_t count,
                             int retries, std::vector<SectorRun>* bad) {
    if (!disk || !buffer || first < 0 || count <= 0) return 0;
    Split s{disk, retries < 1 ? 1 : retries, bad};
    return read_run(s, static_cast<uint8_t*>(buffer), first, count);
}

}  // namespace quarrow
