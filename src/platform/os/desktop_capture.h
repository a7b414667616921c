// A photograph of the desktop as it looks before the saver's window exists.
#pragma once

#include <cstdint>
#include <vector>

namespace gx {

// The X11 root window as packed 0xFFRRGGBB rows (width * height pixels). False under
// Wayland, without a display, or when the server refuses.
// Under a screensaver host the host's window may carry the desktop's picture.
void setSnapshotHostWindow(unsigned long window);

bool captureDesktop(std::vector<uint32_t>* pixels, uint32_t* width, uint32_t* height);

}  // namespace gx
