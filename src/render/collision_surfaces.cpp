#include "render/collision_surfaces.h"

#include "bodies/sprites.h"
#include "framework/failures.h"
#include "render/resources.h"

namespace gx {

gfx::TexturePtr SpriteLayerTexture;
gfx::TexturePtr CollisionTexture;
gfx::SurfacePtr CollisionReadback;
int spriteLayerWidth = 0;
int spriteLayerHeight = 0;
int collisionWidth = 0;
int collisionHeight = 0;
float collisionScaleX = 0.0f;
float collisionScaleY = 0.0f;
bool readbackPaused = false;

namespace {
constexpr uint32_t kCollisionSize = 128;
constexpr uint32_t kReadbackLockFlags =
    gfx::kLockReadOnly | gfx::kLockNoSysLock | gfx::kLockNoDirtyUpdate;

// Every attached sprite, in list order, as its own quads.
void drawSprites(gfx::Device* device) {
    for (BodySprite* s = firstAttachedSprite(); s != nullptr && s->body != nullptr;
         s = nextAttachedSprite(s)) {
        if (s->slot == nullptr) continue;
        device->setTexture(0, s->slot->texture);
        device->setStreamSource(0, s->slot->vertexBuffer,
                                uint32_t(s->slot->firstVertex) * uint32_t(sizeof(ScreenVertex)),
                                uint32_t(sizeof(ScreenVertex)));
        device->drawPrimitive(gfx::PrimitiveType::TriangleList, 0, uint32_t(2 * s->quadCount));
    }
}
}  // namespace

gfx::Result createCollisionBuffers(gfx::Device* device, const gfx::SurfaceDesc& backBuffer) {
    if (device == nullptr) {
        internalError("Internal error - Failed to create collision buffer1");
        return gfx::kFail;
    }
    const uint32_t bbWidth = backBuffer.width;
    const uint32_t bbHeight = backBuffer.height;

    SpriteLayerTexture.reset();
    gfx::Result r = device->createTexture(bbWidth, bbHeight, 1, backBuffer.usage, backBuffer.format,
                                          gfx::Pool::Default, &SpriteLayerTexture);
    if (gfx::failed(r) || !SpriteLayerTexture) {
        SpriteLayerTexture.reset();
        internalError("Internal error - Failed to create collision buffer1");
        return gfx::failed(r) ? r : gfx::kFail;
    }
    gfx::SurfaceDesc desc;
    SpriteLayerTexture->getLevelDesc(0, &desc);
    spriteLayerWidth = int(desc.width);
    spriteLayerHeight = int(desc.height);

    CollisionTexture.reset();
    r = device->createTexture(kCollisionSize, kCollisionSize, 1, backBuffer.usage,
                              backBuffer.format, gfx::Pool::Default, &CollisionTexture);
    if (gfx::failed(r) || !CollisionTexture) {
        CollisionTexture.reset();
        internalError("Internal error - Failed to create collision buffer2");
        return gfx::failed(r) ? r : gfx::kFail;
    }
    CollisionTexture->getLevelDesc(0, &desc);
    collisionWidth = int(desc.width);
    collisionHeight = int(desc.height);
    collisionScaleX = float(desc.width) / float(bbWidth);
    collisionScaleY = float(desc.height) / float(bbHeight);

    CollisionReadback.reset();
    r = device->createOffscreenPlainSurface(desc.width, desc.height, backBuffer.format,
                                            gfx::Pool::SystemMem, &CollisionReadback);
    if (gfx::failed(r) || !CollisionReadback) {
        CollisionReadback.reset();
        internalError("Internal error - Failed to create collision buffer3");
        return gfx::failed(r) ? r : gfx::kFail;
    }
    return screenQuad.setRect(0.0f, 0.0f, float(spriteLayerWidth), float(spriteLayerHeight),
                              0xFFFFFFFFu);
}

void releaseCollisionTextures() {
    SpriteLayerTexture.reset();
    CollisionTexture.reset();
}

void releaseCollisionBuffers() {
    SpriteLayerTexture.reset();
    CollisionTexture.reset();
    CollisionReadback.reset();
}

gfx::Result renderSpriteLayer(gfx::Device* device, const gfx::SurfacePtr& backBuffer) {
    gfx::SurfacePtr layer;
    if (!SpriteLayerTexture || gfx::failed(SpriteLayerTexture->getSurfaceLevel(0, &layer)) ||
        !layer) {
        internalError("Internal error - Failed to render2.");
        return gfx::kFail;
    }
    device->setRenderTarget(0, layer);
    device->clear(gfx::kClearTarget, 0x00000000u, 1.0f, 0);
    if (gfx::succeeded(device->beginScene())) {
        drawSprites(device);
        device->endScene();
    }
    layer.reset();

    gfx::SurfacePtr small;
    if (!CollisionTexture || gfx::failed(CollisionTexture->getSurfaceLevel(0, &small)) || !small) {
        device->setRenderTarget(0, backBuffer);
        internalError("Internal error - Failed to render2.");
        return gfx::kFail;
    }
    device->setRenderTarget(0, small);
    // The quad covers the whole small target, so it needs no clear.
    screenQuad.setRect(0.0f, 0.0f, float(spriteLayerWidth) * collisionScaleX,
                       float(spriteLayerHeight) * collisionScaleY, 0xFFFFFFFFu);
    screenQuad.drawTextured(SpriteLayerTexture);

    // A failed copy holds the phase until a copy succeeds again; the user's own pause
    // lives elsewhere and is not touched.
    if (!CollisionReadback || gfx::failed(device->getRenderTargetData(small, CollisionReadback))) {
        readbackPaused = true;
    } else {
        readbackPaused = false;
    }
    small.reset();
    return device->setRenderTarget(0, backBuffer);
}

bool lockCollisionReadback(CollisionView* view) {
    if (!CollisionReadback) return false;
    gfx::LockedRect locked;
    if (gfx::failed(CollisionReadback->lockRect(&locked, nullptr, kReadbackLockFlags)) ||
        locked.bits == nullptr) {
        return false;
    }
    view->bits = static_cast<const uint32_t*>(locked.bits);
    view->width = collisionWidth;
    view->height = collisionHeight;
    view->stride = locked.pitch / 4;
    view->scaleX = collisionScaleX;
    view->scaleY = collisionScaleY;
    return true;
}

void unlockCollisionReadback(CollisionView*) {
    if (CollisionReadback) CollisionReadback->unlockRect();
}

void resetCollisionSurfaces() {
    releaseCollisionBuffers();
    spriteLayerWidth = spriteLayerHeight = 0;
    collisionWidth = collisionHeight = 0;
    collisionScaleX = collisionScaleY = 0.0f;
    readbackPaused = false;
}

}  // namespace gx
