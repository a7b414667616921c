// Sizing the world from the device's back buffer.
#include "framework/framework.h"
#include "universe/world.h"

namespace gx {

bool initWorld(int32_t rowPixels) {
    const gfx::SurfaceDesc* bb = getD3D9BackBufferSurfaceDesc();
    const int32_t height = bb ? int32_t(bb->height) : 0;
    return initWorldSized(rowPixels, height);
}

}  // namespace gx
