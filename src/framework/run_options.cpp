#include "framework/run_options.h"

namespace gx {
namespace {
PhaseNameFn phaseName = nullptr;
}

RunOptions& runOptions() {
    static RunOptions options;
    return options;
}

void setPhaseNameProvider(PhaseNameFn fn) { phaseName = fn; }

const char* currentPhaseName() {
    const char* n = phaseName ? phaseName() : nullptr;
    return n ? n : "";
}

}  // namespace gx
