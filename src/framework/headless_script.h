// Scripted input for headless runs: "TIME:ACTION[:ARGS]" entries separated by ','.
//   3.5:key:107      press and release a key (Windows virtual-key code)
//   3.5:keydown:19   / keyup:19
//   4:click[:1|2|3]  a mouse button (1 left, 2 right, 3 middle)
//   5:move:X:Y       the mouse moves to X, Y
//   6:resize:WxH     the display (or the window) changes size
//   7:alt-enter      toggles full screen and window
//   8:close          the window is closed
// TIME is seconds of virtual time.
#pragma once

#include <string>
#include <vector>

#include "framework/backend.h"

namespace gx {

struct ScriptEvent {
    double time = 0;
    InputEvent event;
};

bool parseScript(const std::string& text, std::vector<ScriptEvent>* out, std::string* error);

}  // namespace gx
