// The renderer's fixed screen-sized resources and what happens to them when the
// device is created, reset, lost and destroyed; the start-up capability check; the
// one screen-space quad used to show the picture.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/gfx/gfx.h"

namespace gx {

using ScreenVertex = gfx::ScreenVertex;

// Ties the screen to the particle world: the world is exactly as wide as the capture
// surface's rows, so a cell index is also a pixel index in any surface of that pitch.
struct ScreenLayout {
    gfx::Device* device = nullptr;  // borrowed
    int imageBytes = 0;             // rowPitchBytes * height
    int rowPitchBytes = 0;
    int height = 0;

    // Locks the capture surface for its pitch and re-initialises the world with it.
    gfx::Result measure();
};
extern ScreenLayout screenLayout;

// System-memory copy of the back buffer; locking it tells the row pitch.
extern gfx::SurfacePtr ScreenCaptureSurface;
// Back-buffer sized managed texture every particle writes its colour into.
extern gfx::TexturePtr ParticleImageTexture;
// Counts the particle images made, so a drawer can tell its texture was replaced.
extern uint64_t particleImageGeneration;

// One quad over the screen, used for the picture during the wind-up.
struct ScreenQuad {
    static constexpr uint32_t kBufferBytes = 672;  // room for 24 vertices
    static constexpr uint32_t kQuadBytes = 168;    // the six vertices written here

    gfx::Device* device = nullptr;  // borrowed
    gfx::VertexBufferPtr vertexBuffer;

    // Writes an axis-aligned quad; success without writing when there is no buffer.
    gfx::Result setRect(float x0, float y0, float x1, float y1, uint32_t colour);
    // Draws the six vertices in a scene of their own; no texture draws the picture.
    void drawTextured(const gfx::TexturePtr& texture);
    void setDefaultStates();
    // (Re)creates the buffer and writes the loaded picture centred at its own size.
    gfx::Result createForPicture();
    // The same with the size the picture source has just loaded.
    gfx::Result createForPicture(uint32_t width, uint32_t height);
    void onReset(gfx::Device* device);
    void release();
};
extern ScreenQuad screenQuad;

// The picture source as this module sees it: set by the picture source.
struct LoadedPicture {
    gfx::TexturePtr texture;  // null when no picture is loaded
    uint32_t width = 0;
    uint32_t height = 0;
};

// Calls into modules built on top of the renderer; unset hooks do nothing.
struct RenderHooks {
    std::function<LoadedPicture()> loadedPicture;
    // Reset step 5: the picture source keeps the device for loading textures.
    std::function<void(gfx::Device*)> setPictureDevice;
    // Destroy: the picture source releases its textures.
    std::function<void()> releasePictureResources;
    // Reset step 8: the wind-up moves its stored picture rectangle by (dx, dy).
    std::function<void(int dx, int dy)> moveWindUpRect;
};
RenderHooks& renderHooks();

// Start-up capability check; false after telling the user and asking for shutdown.
bool checkDeviceCaps();
// The same on a given record (the framework's device record by default).
bool checkDeviceCaps(const gfx::Caps& caps);

void onDeviceCreated(gfx::Device* device);
// Always succeeds towards the framework: failures go to the error report.
gfx::Result onDeviceReset(gfx::Device* device);
void onDeviceLost();
void onDeviceDestroyed();

// Tests: forget every resource and the layout, keep the hooks.
void resetRenderResources();

}  // namespace gx
