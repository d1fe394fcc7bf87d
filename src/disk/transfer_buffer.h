// Memory for large transfers (whole clusters read and written again): aligned to the system's
// large pages where it has them, so that the copies into and out of it walk fewer page-table
// entries. Implementations: transfer_buffer_posix.cpp (2 MiB aligned, huge pages asked for with
// madvise on Linux), transfer_buffer_win32.cpp (page aligned).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quarrow {

// Null when memory runs short.
uint8_t* allocate_transfer_buffer(size_t bytes);
void release_transfer_buffer(uint8_t* buffer);

struct ReleaseTransferBuffer {
    void operator()(uint8_t* buffer) const { release_transfer_buffer(buffer); }
};
using TransferBuffer = std::unique_ptr<uint8_t[], ReleaseTransferBuffer>;

}  // namespace quarrow
