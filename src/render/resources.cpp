#include "render/resources.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "framework/failures.h"
#include "framework/framework.h"
#include "platform/os/message_box.h"
#include "render/collision_surfaces.h"
#include "render/sprite_quads.h"
#include "universe/world.h"

namespace gx {

ScreenLayout screenLayout;
ScreenQuad screenQuad;
gfx::SurfacePtr ScreenCaptureSurface;
gfx::TexturePtr ParticleImageTexture;
uint64_t particleImageGeneration = 0;

namespace {

RenderHooks hooks;

using BackBuffer = gfx::SurfaceDesc;

// The framework's record of the back buffer; before the framework has one (a device
// made by hand in a test) the device's own present parameters say the same.
BackBuffer backBuffer(gfx::Device* device) {
    if (const gfx::SurfaceDesc* d = getD3D9BackBufferSurfaceDesc(); d && d->width && d->height)
        return *d;
    BackBuffer bb;
    bb.format = gfx::Format::X8R8G8B8;
    bb.usage = gfx::kUsageRenderTarget;
    if (device) {
        const gfx::PresentParameters& pp = device->presentParameters();
        bb.width = pp.backBufferWidth;
        bb.height = pp.backBufferHeight;
        bb.format = pp.backBufferFormat;
    }
    return bb;
}

// The capture surface's row pitch in bytes, or -1 when it cannot be read.
int capturePitch() {
    if (!ScreenCaptureSurface) return -1;
    gfx::LockedRect lr;
    if (gfx::failed(ScreenCaptureSurface->lockRect(&lr, nullptr, gfx::kLockReadOnly))) return -1;
    int pitch = lr.pitch;
    ScreenCaptureSurface->unlockRect();
    return pitch;
}

}  // namespace

RenderHooks& renderHooks() { return hooks; }

gfx::Result ScreenLayout::measure() {
    int pitch = capturePitch();
    if (pitch < 0) {
        internalError("Internal error - Failed to create buffers.");
        return gfx::kFail;
    }
    rowPitchBytes = pitch;
    height = int(backBuffer(device).height);
    imageBytes = pitch * height;
    // The same height the framework's back buffer has (initWorld would ask it again).
    initWorldSized(pitch / 4, height);
    return gfx::kOk;
}

gfx::Result ScreenQuad::setRect(float x0, float y0, float x1, float y1, uint32_t colour) {
    if (!vertexBuffer) return gfx::kOk;
    const ScreenVertex v[6] = {
        {x0, y0, 0.0f, 1.0f, colour, 0.0f, 0.0f}, {x1, y1, 0.0f, 1.0f, colour, 1.0f, 1.0f},
        {x0, y1, 0.0f, 1.0f, colour, 0.0f, 1.0f}, {x0, y0, 0.0f, 1.0f, colour, 0.0f, 0.0f},
        {x1, y0, 0.0f, 1.0f, colour, 1.0f, 0.0f}, {x1, y1, 0.0f, 1.0f, colour, 1.0f, 1.0f},
    };
    void* data = nullptr;
    if (gfx::failed(vertexBuffer->lock(0, kQuadBytes, &data, 0)) || !data) {
        internalError("Internal error - Failed to render1.");
        return gfx::kFail;
    }
    std::memcpy(data, v, kQuadBytes);
    vertexBuffer->unlock();
    return gfx::kOk;
}

void ScreenQuad::setDefaultStates() {
    if (!device) return;
    using gfx::RenderState;
    using gfx::StageState;
    device->setRenderState(RenderState::AlphaBlendEnable, 1);
    device->setRenderState(RenderState::SrcBlend, gfx::kBlendSrcAlpha);
    device->setRenderState(RenderState::DestBlend, gfx::kBlendInvSrcAlpha);
    device->setTextureStageState(0, StageState::ColorOp, gfx::kTopModulate);
    device->setTextureStageState(0, StageState::ColorArg1, gfx::kTaTexture);
    device->setTextureStageState(0, StageState::ColorArg2, gfx::kTaDiffuse);
    device->setTextureStageState(0, StageState::AlphaOp, gfx::kTopModulate);
    device->setTextureStageState(0, StageState::AlphaArg1, gfx::kTaTexture);
    device->setTextureStageState(0, StageState::AlphaArg2, gfx::kTaDiffuse);
    device->setFVF(gfx::kFvfScreenVertex);
}

void ScreenQuad::drawTextured(const gfx::TexturePtr& texture) {
    if (!device) return;
    if (!texture) device->clear(gfx::kClearTarget, 0x00000000u, 1.0f, 0);
    if (gfx::failed(device->beginScene())) return;
    if (!texture) {
        // The picture: its colour times white, its alpha from the vertices (the fade).
        LoadedPicture pic = hooks.loadedPicture ? hooks.loadedPicture() : LoadedPicture{};
        device->setTexture(0, pic.texture);
        device->setTextureStageState(0, gfx::StageState::ColorOp, gfx::kTopModulate);
        device->setTextureStageState(0, gfx::StageState::ColorArg1, gfx::kTaTexture);
        device->setTextureStageState(0, gfx::StageState::ColorArg2, gfx::kTaDiffuse);
        device->setTextureStageState(0, gfx::StageState::AlphaOp, gfx::kTopDisable);
    } else {
        device->setTexture(0, texture);
    }
    device->setStreamSource(0, vertexBuffer, 0, sizeof(ScreenVertex));
    device->setFVF(gfx::kFvfScreenVertex);
    device->drawPrimitive(gfx::PrimitiveType::TriangleList, 0, 2);
    device->endScene();
}

gfx::Result ScreenQuad::createForPicture() {
    LoadedPicture pic = hooks.loadedPicture ? hooks.loadedPicture() : LoadedPicture{};
    return createForPicture(pic.width, pic.height);
}

gfx::Result ScreenQuad::createForPicture(uint32_t w, uint32_t h) {
    release();
    if (!device) {
        internalError("Internal error - Uninitialised1");
        return gfx::kFail;
    }
    if (gfx::failed(device->createVertexBuffer(kBufferBytes, 0, gfx::kFvfScreenVertex,
                                               gfx::Pool::Managed, &vertexBuffer))) {
        vertexBuffer.reset();
        internalError("Internal error - Failed to create buffer.");
        return gfx::kFail;
    }
    BackBuffer bb = backBuffer(device);
    float x0 = float(bb.width) * 0.5f - float(w) * 0.5f;
    float y0 = float(bb.height) * 0.5f - float(h) * 0.5f;
    // White with alpha 0: the wind-up fades the alpha in.
    return setRect(x0, y0, x0 + float(w), y0 + float(h), 0x00FFFFFFu);
}

void ScreenQuad::onReset(gfx::Device* d) {
    device = d;
    setDefaultStates();
    if (hooks.loadedPicture && hooks.loadedPicture().texture) createForPicture();
}

void ScreenQuad::release() { vertexBuffer.reset(); }

bool checkDeviceCaps() {
    gfx::Caps caps{};
    if (const gfx::Caps* c = getD3D9DeviceCaps()) caps = *c;
    return checkDeviceCaps(caps);
}

bool checkDeviceCaps(const gfx::Caps& caps) {
    // Each missing capability replaces the name: the last one missing is reported.
    const char* missing = nullptr;
    if (!(caps.SrcBlendCaps & gfx::kBlendCapsInvDestColor)) missing = "D3DBLEND_INVDESTCOLOR";
    if (!(caps.SrcBlendCaps & gfx::kBlendCapsSrcAlpha)) missing = "D3DBLEND_SRCALPHA";
    if (!(caps.DestBlendCaps & gfx::kBlendCapsOne)) missing = "D3DBLEND_ONE";
    if (!(caps.DestBlendCaps & gfx::kBlendCapsInvSrcAlpha)) missing = "D3DBLEND_INVSRCALPHA";
    if (!(caps.TextureOpCaps & gfx::kTexOpCapsModulate)) missing = "D3DTOP_MODULATE";
    if (!(caps.TextureOpCaps & gfx::kTexOpCapsDisable)) missing = "D3DTOP_DISABLE";
    if (!missing) return true;
    char text[512];
    std::snprintf(text, sizeof text,
                  "Your graphics card does not have the capabilities needed: %s.", missing);
    showMessageBox(text, "Glimmerax");
    shutdown(0);
    return false;
}

void onDeviceCreated(gfx::Device* device) {
    screenLayout.device = device;
    screenQuad.device = device;
    // From now on the sprites have textures and quads, and the particle pass a read-back.
    connectSpriteSurfaces();
}

gfx::Result onDeviceReset(gfx::Device* device) {
    BackBuffer bb = backBuffer(device);
    // 1, 2: the layout and the quad follow the device.
    screenLayout.device = device;
    screenQuad.onReset(device);

    // 3: the capture surface.
    ScreenCaptureSurface.reset();
    if (gfx::failed(device->createOffscreenPlainSurface(
            bb.width, bb.height, bb.format, gfx::Pool::SystemMem, &ScreenCaptureSurface))) {
        ScreenCaptureSurface.reset();
        internalError("Internal error - Failed to create surface1");
        return gfx::kOk;
    }

    // 4: the particle image.
    ParticleImageTexture.reset();
    ++particleImageGeneration;
    if (gfx::failed(device->createTexture(bb.width, bb.height, 1, 0, gfx::Format::A8R8G8B8,
                                          gfx::Pool::Managed, &ParticleImageTexture))) {
        ParticleImageTexture.reset();
        internalError("Internal error - Failed to create collision surface1.5");
        return gfx::kOk;
    }

    // 5: the picture source loads its textures on this device.
    if (hooks.setPictureDevice) hooks.setPictureDevice(device);

    // 6: the new row pitch.
    int pitch = capturePitch();
    if (pitch < 0) {
        internalError("Internal error - Failed to get render target.");
        pitch = 0;
    }
    if (pitch == 0) {
        internalError("Internal error - Failed to create surface2");
        return gfx::kOk;
    }

    // 7, 8: the world takes the new size and its contents stay centred on the screen.
    int oldPitch = screenLayout.rowPitchBytes;
    int oldHeight = screenLayout.height;
    initWorldSized(pitch / 4, int32_t(bb.height));
    recentreWorld(pitch, oldPitch, oldHeight);
    int dx = int(float((pitch - oldPitch) / 4) * 0.5f);
    int dy = int(float(int(bb.height) - oldHeight) * 0.5f);
    if (hooks.moveWindUpRect) hooks.moveWindUpRect(dx, dy);

    // 9, 10.
    screenLayout.rowPitchBytes = pitch;
    screenLayout.height = int(bb.height);
    screenLayout.imageBytes = pitch * int(bb.height);
    rebuildGrid(0, 0);

    // 11.
    createCollisionBuffers(device, bb);
    return gfx::kOk;
}

void onDeviceLost() {
    ScreenCaptureSurface.reset();
    releaseCollisionTextures();
}

void onDeviceDestroyed() {
    screenQuad.release();
    if (hooks.releasePictureResources) hooks.releasePictureResources();
    releaseCollisionBuffers();
    ScreenCaptureSurface.reset();
    ParticleImageTexture.reset();
}

void resetRenderResources() {
    screenLayout = ScreenLayout{};
    screenQuad = ScreenQuad{};
    ScreenCaptureSurface.reset();
    ParticleImageTexture.reset();
}

}  // namespace gx
