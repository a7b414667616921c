// Module state of the bodies, shared by the files of this folder.
#pragma once

#include <cstdint>

#include "bodies/bodies.h"

namespace gx {

struct BodyState {
    BodyNode* head = nullptr;
    BodyNode* tail = nullptr;
    uint32_t clumpCounter = 0;
    SpriteAttachFn attachHook = nullptr;
};
extern BodyState bodyState;

}  // namespace gx
