// Watching a run from outside: --trace (a hash of the particle states per simulation
// frame) and --dump-state (the population after a chosen simulation frame, JSON lines).
#pragma once

#include <cstdint>
#include <string>

namespace gx {

void openRunObservers();
void closeRunObservers();
// FNV-1a over every particle's state, in array order.
uint64_t hashParticleStates();
// Writes the population and bodies as JSON lines; false when the file cannot be written.
bool dumpState(int32_t frame, const std::string& path);

}  // namespace gx
