// The rules that make the ring tables, one stage at a time (the generator in
// ui/ring_generator.h runs them with its progress window).
#pragma once

#include <cstdint>

#include "bodies/ring_tables.h"

namespace gx {

// sweepRing lists the unvisited points of ring r starting at index `count` and returns
// the new count; codeForPoint gives the outward step code of point (px, py) of ring k.
int sweepRing(int r, uint8_t* visited, RingPoint* points, int count);
uint8_t codeForPoint(int px, int py, int k);

}  // namespace gx
