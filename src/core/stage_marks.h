// Optional marks between the named stages of a frame, for the frame-budget benchmark.
// With no listener a mark costs one test of a pointer.
#pragma once

namespace gx {

// Called with the name of the stage that begins now (static strings).
using StageListener = void (*)(const char* stage);
extern StageListener stageListener;

inline void markStage(const char* stage) {
    if (stageListener != nullptr) stageListener(stage);
}

}  // namespace gx
