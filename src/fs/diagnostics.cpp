#include "fs/diagnostics.h"
#include "fs/allocation_table.h"

#include <cstdio>
#include <cstring>

#include "fs/chain_checks.h"
#include "fs/layout.h"
#include "fs/maintenance_io.h"
#include "fs/text_folding.h"

namespace quarrow {

namespace {

// One cluster's worth in GB: 8 MiB, 128 clusters to the GB.
constexpr double GB_PER_CLUSTER = 0.0078125;

}  // namespace

int read_fs_notification(DiskHandle disk, char* text) {
    uint8_t toc[TOC_BYTES] = {0};
    if (read_sectors(disk, toc, TOC_SECTOR, TOC_SECTORS, SECTOR_SIZE) <= 0) return 0;
    // The field ends where the recording count begins; a text that fills it without a terminating
    // zero is shown as far as the field goes.
    size_t n = 0;
    const size_t width = TOC_NOTIFICATION_END - TOC_NOTIFICATION_OFFSET;
    while (n < width && toc[TOC_NOTIFICATION_OFFSET + n])
        ++n;
    memcpy(text, toc + TOC_NOTIFICATION_OFFSET, n);
    text[n] = 0;
    return 1;
}

int gather_fat_statistics(DiskHandle disk, FatStatistics* stats, ChainReport* report) {
    if (report) memset(report, 0, sizeof *report);
    stats->string_count = 0;
    stats->fat_entries = 0;
    stats->allocated_clusters = 0;
    stats->linked_clusters = 0;
    stats->entries_in_bounds = 1;
    stats->chain_loops = 0;
    uint16_t last = read_last_cluster_index(disk);
    if (last == 0) return 0;
    // A short read of the table is accepted: what did not arrive reads as zero.
    uint8_t table[FAT_BYTES] = {0};
    if (read_sectors(disk, table, FAT_SECTOR, FAT_SECTORS, SECTOR_SIZE) <= 0) return 0;

    stats->termination_found = (fat_entry(table, last) & FAT_CHAIN_END) == FAT_CHAIN_END ? 1 : 0;
    for (uint32_t i = 0; i <= last; ++i) {
        uint32_t v = fat_entry(table, i);
        ++stats->fat_entries;
        if (v == FAT_LAST_ALLOCATED) ++stats->string_count;
        if (v & FAT_ALLOCATED) ++stats->allocated_clusters;
    }
    uint8_t residue[4];
    fat_checksum_residue(table, residue, last);
    stats->checksum_ok = read_be32(residue) == 0 ? 1 : 0;

    uint8_t toc[TOC_BYTES] = {0};
    if (read_sectors(disk, toc, TOC_SECTOR, TOC_SECTORS, SECTOR_SIZE) <= 0) return 0;
    // Each listed chain is walked by the rule every operation uses: it ends at the end mark, a
    // link beyond the disk, a free entry or a loop. The first cluster is taken whole, so a word
    // with bit 15 set is out of bounds at once.
    ChainReport own;
    ChainReport* r = report ? report : &own;
    map_listed_chains(disk, toc, toc_count(toc), table, last, nullptr, r);
    stats->linked_clusters = r->linked_clusters;
    stats->entries_in_bounds = r->out_of_bounds == 0 ? 1 : 0;
    stats->chain_loops = r->loops > 0 ? 1 : 0;
    // A listed record that cannot be read (or that no slot could name) fails the run as a failed
    // read always has; the report says which one.
    return r->bad_records == 0 ? 1 : 0;
}

void diagnostics_notification_text(const char* notification, char out[DIAG_TEXT_BYTES]) {
    if (!notification[0]) {
        snprintf(out, DIAG_TEXT_BYTES, "No Message [Ok]");
        return;
    }
    snprintf(out, DIAG_TEXT_BYTES, "%s", notification);
    fold_to_ascii(out);
}

void format_diagnostics(const FatStatistics& s, int recording_count, DiagnosticsTexts* out) {
    snprintf(out->fat_size, DIAG_TEXT_BYTES, "%d clusters (%.2f GB)", int(s.fat_entries),
             s.fat_entries * GB_PER_CLUSTER);
    snprintf(out->allocated, DIAG_TEXT_BYTES, "%d clusters (%.2f GB)", int(s.allocated_clusters),
             s.allocated_clusters * GB_PER_CLUSTER);
    if (s.linked_clusters == s.allocated_clusters)
        snprintf(out->linked, DIAG_TEXT_BYTES, "%d [Ok]", int(s.linked_clusters));
    else
        snprintf(out->linked, DIAG_TEXT_BYTES,
                 "%d [Warning: Differs from the number of allocated clusters!]",
                 int(s.linked_clusters));
    if (recording_count >= 0 && s.string_count == static_cast<uint32_t>(recording_count))
        snprintf(out->strings, DIAG_TEXT_BYTES, "%d [Ok]", int(s.string_count));
    else
        snprintf(out->strings, DIAG_TEXT_BYTES,
                 "%d [Warning: Differs from the number of recordings!]", int(s.string_count));
    snprintf(out->termination, DIAG_TEXT_BYTES, "%s",
             s.termination_found ? "Correct"
                                 : "Error: Did not find FAT Termination word where expected!");
    snprintf(out->integrity, DIAG_TEXT_BYTES, "%s",
             !s.entries_in_bounds ? "Error: FAT entry out of bounds!"
             : s.chain_loops      ? "Error: Cluster chain loops back on itself!"
                                  : "Correct");
    snprintf(out->crc, DIAG_TEXT_BYTES, "%s", s.checksum_ok ? "Correct" : "Error: Incorrect CRC!");
}

}  // namespace quarrow
