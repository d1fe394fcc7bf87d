#include <new>

#include "disk/transfer_buffer.h"

namespace quarrow {
namespace {

// Large pages need a privilege on Windows that a user's program does not hold: page aligned.
constexpr std::align_val_t PAGE{4096};

}  // namespace

uint8_t* allocate_transfer_buffer(size_t bytes) {
    return new (PAGE, std::nothrow) uint8_t[bytes];
}

void release_transfer_buffer(uint8_t* buffer) {
    ::operator delete[](buffer, PAGE);
}

}  // namespace quarrow
