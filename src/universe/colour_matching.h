// Re-forming the picture at the start of the wind-down: every particle whose colour
// changed during the run takes the home of a particle whose picture colour is its
// present colour; those left over take the homes nobody took.
#pragma once

#include <cstdint>

namespace gx {

// The colour matching, on the current population (uses matchSlots when it is there).
void matchColours();
// Bucket size for n particles.
int32_t bucketSize(uint32_t n);
// Frees sim.colourBucket (one byte per 24-bit colour: the bucket of slots where that
// colour's chain starts).
void releaseColourBuckets();

}  // namespace gx
