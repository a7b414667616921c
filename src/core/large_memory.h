// Zeroed allocations for the large arrays the simulation reads at random (the grid, the
// particles): mapped with huge pages where the system allows, which spares most of the
// address-translation misses of a random walk over many megabytes. Pages are zeroed on
// first touch, as calloc's are, so start-up does not pay for the whole array at once.
#pragma once

#include <cstddef>

namespace gx {

// count * size zero bytes, or null when that cannot be had (or overflows).
void* allocateLargeZeroed(size_t count, size_t size);
// Frees what allocateLargeZeroed gave (null is allowed).
void freeLarge(void* p);

}  // namespace gx
