// Ctrl-C (SIGINT) and SIGTERM during a command that must stop cleanly: recorded instead of
// obeyed at once, so that the command stops only where nothing is left half done. A command that
// changes a disk stops with nothing changed before its first write; once it has begun it finishes
// the operation in hand and says so. Extraction and rescue stop at their next block and clean up
// after themselves. Commands that only read keep the system's default: they stop at once.
#pragma once

#include <csignal>

namespace quarrow::cli {

// From here on an interrupt is recorded, not obeyed; note (may be null) is written to stderr when
// one arrives.
inline constexpr const char* SAFE_POINT_NOTE =
    "\nInterrupted: the disk is left consistent; the command stops at the next safe point.\n";
void defer_interrupts(const char* note = SAFE_POINT_NOTE);

// Whether an interrupt has arrived since defer_interrupts; the flag itself for a core operation
// that polls it between blocks.
bool interrupt_requested();
const volatile std::sig_atomic_t* interrupt_flag();

}  // namespace quarrow::cli
