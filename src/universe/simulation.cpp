#include "universe/simulation.h"

#include <cstdlib>

#include "bodies/bodies.h"
#include "bodies/sprites.h"
#include "core/large_memory.h"
#include "universe/world.h"

namespace gx {

Simulation sim;

void resetSimulation() {
    freeSprites();
    releaseBodies();
    freeLarge(sim.particles);
    freeLarge(sim.particleLinks);
    freeLarge(sim.grid);
    std::free(sim.matchSlots);
    std::free(sim.colourBucket);
    sim = Simulation{};
}

}  // namespace gx
