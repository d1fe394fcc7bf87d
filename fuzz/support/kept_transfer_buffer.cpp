// The fuzz targets' transfer memory: one area, allocated at the first request and lent again to
// every later one of the same size, so that an input does not cost the sanitizer's map, poison
// and unmap of two cluster data areas. It stays an allocation of its own, so that a read or
// write past either end still meets the sanitizer's red zones. A second request while the area is
// lent, or one of another size, gets memory of its own.
#include <new>

#include "disk/transfer_buffer.h"

namespace quarrow {
namespace {

uint8_t* kept = nullptr;
size_t kept_bytes = 0;
bool lent = false;

}  // namespace

uint8_t* allocate_transfer_buffer(size_t bytes) {
    if (!kept) {
        kept = new (std::nothrow) uint8_t[bytes];
        kept_bytes = kept ? bytes : 0;
    }
    if (kept && !lent && bytes == kept_bytes) {
        lent = true;
        return kept;
    }
    return new (std::nothrow) uint8_t[bytes];
}

void release_transfer_buffer(uint8_t* buffer) {
    if (buffer && buffer == kept) {
        lent = false;
        return;
    }
    delete[] buffer;
}

}  // namespace quarrow
