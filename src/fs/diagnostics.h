// File system diagnostics: the figures of the allocation table and the Table of Contents, checked
// against each other and against the loaded recording list, with the texts the "MediaMaster File
// System Diagnostics" dialog (src/ui) and `quarrow diagnose` (src/cli) show. Reads only.
#pragma once

#include <cstdint>

#include "disk/sector_access.h"
#include "fs/chain_checks.h"

namespace quarrow {

struct FatStatistics {
    uint32_t string_count;        // words 0 ... last_cluster equal to 0xBFFF
    uint32_t fat_entries;         // words counted: cluster_count
    uint32_t allocated_clusters;  // words with FAT_ALLOCATED set
    uint32_t linked_clusters;     // clusters reached through the listed recordings' chains
    uint32_t checksum_ok;         // the stored checksum matches the words
    uint32_t entries_in_bounds;   // 0 when a chain led beyond last_cluster
    uint32_t termination_found;   // word last_cluster has its low 14 bits set
    // 1 when a chain ran for more links than the disk has clusters: it loops back on itself.
    // Its walk stops there; "FAT Integrity:" reports it as an error.
    uint32_t chain_loops;
};

// Copies the Table of Contents' notification text (bytes 12 ... 39) into text (at least
// MESSAGE_SIZE bytes), NUL-terminated even when the disk's field has no terminating zero.
// 0, text untouched, when the Table of Contents cannot be read.
int read_fs_notification(DiskHandle disk, char* text);

// Fills stats from the disk; 0 when the boot area, the table, the Table of Contents or a listed
// record cannot be read (the fields then hold what the run had reached). At most the slots that
// fit in the Table of Contents are walked, each by walk_chain's rule. report (may be null)
// receives what the walk found beyond the dialog's figures: cross-linked clusters, chains that
// run into free entries, slots sharing a record, and which record could not be read; it is
// filled whenever the Table of Contents was read.
int gather_fat_statistics(DiskHandle disk, FatStatistics* stats, ChainReport* report = nullptr);

// The dialog's labels, in the order the dialog shows them from top to bottom.
constexpr const char* DIAG_LABEL_NOTIFICATION = "File System Error Notification:";
constexpr const char* DIAG_LABEL_FAT_SIZE = "FAT Size:";
constexpr const char* DIAG_LABEL_ALLOCATED = "Allocated Space:";
constexpr const char* DIAG_LABEL_LINKED = "Linked Clusters:";
constexpr const char* DIAG_LABEL_STRINGS = "Number of strings:";
constexpr const char* DIAG_LABEL_TERMINATION = "FAT Termination:";
constexpr const char* DIAG_LABEL_INTEGRITY = "FAT Integrity:";
constexpr const char* DIAG_LABEL_CRC = "FAT CRC:";

constexpr const char* DIAG_TOC_FAILED = "Failed to read Table Of Contents from Disk.";
constexpr const char* DIAG_FAT_FAILED = "Failed to retrieve File Allocation Table information.";

constexpr int DIAG_TEXT_BYTES = 128;

// The notification as shown: folded to plain ASCII, or "No Message [Ok]" when empty.
void diagnostics_notification_text(const char* notification, char out[DIAG_TEXT_BYTES]);

// The seven figure texts of the dialog, each with its verdict.
struct DiagnosticsTexts {
    char fat_size[DIAG_TEXT_BYTES];
    char allocated[DIAG_TEXT_BYTES];
    char linked[DIAG_TEXT_BYTES];
    char strings[DIAG_TEXT_BYTES];
    char termination[DIAG_TEXT_BYTES];
    char integrity[DIAG_TEXT_BYTES];
    char crc[DIAG_TEXT_BYTES];
};

// recording_count is the number of entries of the loaded recording list.
void format_diagnostics(const FatStatistics& stats, int recording_count, DiagnosticsTexts* out);

}  // namespace quarrow
