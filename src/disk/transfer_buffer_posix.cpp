#include <sys/mman.h>

#include <new>

#include "disk/transfer_buffer.h"

namespace quarrow {
namespace {

// The size of a huge page on x86-64 and most Linux systems; elsewhere only an alignment.
constexpr std::align_val_t LARGE_PAGE{size_t(2) << 20};

}  // namespace

uint8_t* allocate_transfer_buffer(size_t bytes) {
    uint8_t* buffer = new (LARGE_PAGE, std::nothrow) uint8_t[bytes];
#ifdef MADV_HUGEPAGE
    // Only a wish: where transparent huge pages are off, the buffer keeps small pages.
    if (buffer) madvise(buffer, bytes, MADV_HUGEPAGE);
#endif
    return buffer;
}

void release_transfer_buffer(uint8_t* buffer) {
    ::operator delete[](buffer, LARGE_PAGE);
}

}  // namespace quarrow
