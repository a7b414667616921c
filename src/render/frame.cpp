#include "render/frame.h"

#include <cstring>
#include <new>
#include <vector>

#include "bodies/sprites.h"
#include "core/background_task.h"
#include "core/prefetch.h"
#include "core/stage_marks.h"
#include "framework/failures.h"
#include "framework/framework.h"
#include "render/collision_surfaces.h"
#include "render/resources.h"
#include "universe/picture_to_particles.h"
#include "universe/world.h"

namespace gx {

namespace {

OverlayFn overlay = nullptr;

// The framework's record of the back buffer, or the device's own parameters before the
// framework has one (a device made by hand).
gfx::SurfaceDesc backBufferOf(gfx::Device* device) {
    if (const gfx::SurfaceDesc* d = getD3D9BackBufferSurfaceDesc(); d && d->width && d->height)
        return *d;
    gfx::SurfaceDesc bb;
    bb.format = gfx::Format::X8R8G8B8;
    bb.usage = gfx::kUsageRenderTarget;
    if (device) {
        bb.width = device->presentParameters().backBufferWidth;
        bb.height = device->presentParameters().backBufferHeight;
        bb.format = device->presentParameters().backBufferFormat;
    }
    return bb;
}

// One texel per particle. Cells are laid out with the world's row length; the texture
// may be wider (power-of-two cards), so each cell goes to its own row and column.
class ParticleImageWriter {
public:
    ParticleImageWriter(uint32_t* bits, int32_t pitchPixels, int32_t texWidth, int32_t texHeight,
                        uint32_t* written, size_t room)
        : bits_(bits), pitch_(pitchPixels), width_(texWidth), height_(texHeight), written_(written),
          room_(room) {}

    void put(const Particle* p) {
        if (uint32_t* texel = texelOf(p)) {
            *texel = p->colour;
            if (count_ < room_) written_[count_] = uint32_t(texel - bits_);
            ++count_;
        }
    }
    // How many texels were written; more than the room means the record is incomplete.
    size_t count() const { return count_; }
    // Particles lie anywhere in an image of many megabytes: fetch the texel ahead.
    void fetch(const Particle* p) {
        if (const uint32_t* texel = texelOf(p)) prefetchForRead(texel);
    }

private:
    uint32_t* texelOf(const Particle* p) const {
        const int32_t cell = p->cell;
        if (cell < 0 || cell >= sim.cellCount) return nullptr;
        const int32_t row = cell / sim.worldWidth;
        const int32_t col = cell - row * sim.worldWidth;
        if (col >= width_ || row >= height_) return nullptr;
        return &bits_[size_t(row) * size_t(pitch_) + size_t(col)];
    }

    uint32_t* bits_;
    int32_t pitch_;
    int32_t width_;
    int32_t height_;
    uint32_t* written_;
    size_t room_;
    size_t count_ = 0;
};

// The loose list, from the kept walk while it holds (simulation.h).
void writeLooseList(ParticleImageWriter& writer) {
    LooseWalk& looseWalk = sim.looseWalk;
    if (looseWalk.valid) {
        const std::vector<const Particle*>& order = looseWalk.order;
        constexpr size_t kRecordAhead = 16, kTexelAhead = 8;
        for (size_t k = 0; k < order.size(); ++k) {
            if (k + kRecordAhead < order.size()) prefetchForRead(order[k + kRecordAhead]);
            if (k + kTexelAhead < order.size()) writer.fetch(order[k + kTexelAhead]);
            writer.put(order[k]);
        }
        return;
    }
    looseWalk.order.clear();
    bool kept = true;
    for (const Particle* p = sim.looseList; p != nullptr; p = p->links().listPrev) {
        writer.put(p);
        if (!kept) continue;
        try {
            looseWalk.order.push_back(p);
        } catch (const std::bad_alloc&) {
            kept = false;  // only a shortcut: without it the next frame walks the links again
            std::vector<const Particle*>().swap(looseWalk.order);
        }
    }
    looseWalk.valid = kept;
}

// The particle image of one frame: locked on the caller's thread, filled maybe on
// another, unlocked on the caller's thread once filled.
class ParticleImageFill {
public:
    // Locks the image; false when there is nothing to fill.
    bool begin() {
        gfx::SurfaceDesc desc;
        if (!ParticleImageTexture || gfx::failed(ParticleImageTexture->getLevelDesc(0, &desc)) ||
            gfx::failed(ParticleImageTexture->getSurfaceLevel(0, &level_)) || !level_) {
            level_.reset();
            internalError("Internal error - Failed to render1.");
            return false;
        }
        gfx::LockedRect locked;
        if (gfx::failed(level_->lockRect(&locked, nullptr, 0)) || locked.bits == nullptr) {
            level_.reset();
            return false;
        }
        bits_ = static_cast<uint32_t*>(locked.bits);
        pitch_ = locked.pitch;
        width_ = desc.width;
        height_ = desc.height;
        return true;
    }

    // Touches only the image, its record of written texels and the particles (read).
    void fill() {
        WrittenTexels& last = sim.writtenTexels;
        if (last.valid && last.generation == particleImageGeneration && last.pitch == pitch_ &&
            last.width == width_ && last.height == height_) {
            constexpr size_t kAhead = 16;
            for (size_t k = 0; k < last.count; ++k) {
                if (k + kAhead < last.count) prefetchForRead(&bits_[last.offsets[k + kAhead]]);
                bits_[last.offsets[k]] = 0;
            }
        } else {
            std::memset(bits_, 0, size_t(pitch_) * height_);
        }
        last.valid = false;
        last.generation = particleImageGeneration;
        last.pitch = pitch_;
        last.width = width_;
        last.height = height_;
        if (last.offsets.size() < sim.particleCount) {
            try {
                last.offsets.resize(sim.particleCount);
            } catch (const std::bad_alloc&) {
                std::vector<uint32_t>().swap(last.offsets);  // the next frame clears everything
            }
        }
        size_t written = 0;
        if (sim.worldWidth > 0) {
            ParticleImageWriter writer(bits_, pitch_ / 4, int32_t(width_), int32_t(height_),
                                       last.offsets.data(), last.offsets.size());
            if (sim.sparseFlag == 0) {
                // Back to front: of two particles in one cell the lower index shows.
                constexpr uint32_t kAhead = 16, kRecordAhead = 32;
                for (uint32_t i = sim.particleCount; i-- > 0;) {
                    if (i >= kRecordAhead) prefetchForRead(&sim.particles[i - kRecordAhead]);
                    if (i >= kAhead) writer.fetch(&sim.particles[i - kAhead]);
                    writer.put(&sim.particles[i]);
                }
            } else if (sim.sparseFlag == 1) {
                writeLooseList(writer);
            }
            written = writer.count();
        }
        if (written <= last.offsets.size()) {
            last.count = written;
            last.valid = true;
        }
    }

    void end() {
        if (!level_) return;
        level_->unlockRect();
        level_.reset();
    }

private:
    gfx::SurfacePtr level_;
    uint32_t* bits_ = nullptr;
    int32_t pitch_ = 0;
    uint32_t width_ = 0, height_ = 0;
};

BackgroundTask imageTask;

// The particle image filled beside the sprite layer's drawing: the two touch nothing
// in common, and each alone is mostly waiting on memory.
class ParticleImageStage {
public:
    explicit ParticleImageStage(bool beside) {
        if (!fill_.begin()) return;
        active_ = true;
        beside_ = beside && imageTask.start([this] { fill_.fill(); });
        if (!beside_) fill_.fill();
    }
    // Waits for the fill and unlocks the image, before anything draws with it.
    void finish() {
        if (!active_) return;
        if (beside_) imageTask.wait();
        fill_.end();
        active_ = false;
    }
    ~ParticleImageStage() { finish(); }

private:
    ParticleImageFill fill_;
    bool active_ = false, beside_ = false;
};

}  // namespace

ImageFill particleImageFill = ImageFill::Auto;
uint32_t particleImageBesideMinimum = 20000;

void setFrameOverlay(OverlayFn fn) { overlay = fn; }

void drawPictureFrame(gfx::Device*, double, float, void*) { screenQuad.drawTextured(nullptr); }

void renderFrame(gfx::Device* device, double, float, void*) {
    if (device == nullptr) device = screenLayout.device;
    if (device == nullptr) return;
    markStage("render.clear");
    device->clear(gfx::kClearTarget, 0x00000000u, 1.0f, 0);

    if (!ParticleImageTexture) {
        internalError("Internal error - Failed to render1.");
        return;
    }
    markStage("render.particles");
    // Without sprites there is nothing to overlap, and a fill on the other core is slower
    // than here, where the simulation has just walked the particles.
    const bool beside =
        particleImageFill == ImageFill::Beside ||
        (particleImageFill == ImageFill::Auto && sim.particleCount >= particleImageBesideMinimum &&
         firstAttachedSprite() != nullptr);
    ParticleImageStage image(beside);

    gfx::SurfacePtr backBuffer;
    if (gfx::failed(device->getRenderTarget(0, &backBuffer)) || !backBuffer) return;
    markStage("render.sprites");
    renderSpriteLayer(device, backBuffer);
    backBuffer.reset();
    image.finish();

    markStage("render.compose");
    device->clear(gfx::kClearTarget, 0x00000000u, 1.0f, 0);
    if (gfx::failed(device->beginScene())) return;
    composeFrame(device);
    device->endScene();
}

void composeFrame(gfx::Device* device) {
    device->setFVF(gfx::kFvfScreenVertex);
    device->setStreamSource(0, screenQuad.vertexBuffer, 0, sizeof(ScreenVertex));
    screenQuad.setRect(0.0f, 0.0f, float(spriteLayerWidth), float(spriteLayerHeight), 0xFFFFFFFFu);
    device->setRenderState(gfx::RenderState::SrcBlend, gfx::kBlendSrcAlpha);
    device->setRenderState(gfx::RenderState::DestBlend, gfx::kBlendInvSrcAlpha);
    device->setTexture(0, SpriteLayerTexture);
    device->drawPrimitive(gfx::PrimitiveType::TriangleList, 0, 2);
    device->setTexture(0, ParticleImageTexture);
    // Every texel the last fill did not record is clear, so the recorded ones are the
    // whole layer: a few hundred thousand pixels instead of the whole screen. A cell two
    // particles share is listed twice; particle colours are opaque, so drawing it twice
    // leaves what drawing it once does.
    // The generation names the image the record was made on; the device refuses a list
    // for an image that is not the screen's size.
    const WrittenTexels& written = sim.writtenTexels;
    const bool recorded = written.valid && written.generation == particleImageGeneration &&
                          written.pitch == int32_t(written.width * 4) &&
                          spriteLayerWidth == int(written.width) &&
                          spriteLayerHeight == int(written.height);
    if (!recorded ||
        gfx::failed(device->drawTexels(0xFFFFFFFFu, written.offsets.data(), written.count)))
        device->drawPrimitive(gfx::PrimitiveType::TriangleList, 0, 2);
    if (overlay != nullptr) overlay();
}

gfx::Result capturePicture() {
    gfx::Device* device = screenQuad.device;
    if (device == nullptr) return gfx::kFail;
    device->clear(gfx::kClearTarget, 0x00000000u, 1.0f, 0);
    if (gfx::failed(device->beginScene())) return gfx::kFail;

    // The picture where the wind-up left its quad.
    const LoadedPicture picture =
        renderHooks().loadedPicture ? renderHooks().loadedPicture() : LoadedPicture{};
    device->setTexture(0, picture.texture);
    device->setTextureStageState(0, gfx::StageState::ColorOp, gfx::kTopModulate);
    device->setTextureStageState(0, gfx::StageState::ColorArg1, gfx::kTaTexture);
    device->setTextureStageState(0, gfx::StageState::ColorArg2, gfx::kTaDiffuse);
    device->setTextureStageState(0, gfx::StageState::AlphaOp, gfx::kTopDisable);
    device->setStreamSource(0, screenQuad.vertexBuffer, 0, sizeof(ScreenVertex));
    device->setFVF(gfx::kFvfScreenVertex);
    device->drawPrimitive(gfx::PrimitiveType::TriangleList, 0, 2);

    screenQuad.setRect(0.0f, 0.0f, float(spriteLayerWidth), float(spriteLayerHeight), 0xFFFFFFFFu);

    // On a failure below the scene is still closed, so the device stays usable.
    auto fail = [device]() {
        device->endScene();
        return gfx::kFail;
    };
    if (gfx::failed(screenLayout.measure())) return fail();
    if (!ScreenCaptureSurface) return fail();
    gfx::SurfacePtr target;
    if (gfx::failed(device->getRenderTarget(0, &target)) || !target) return fail();
    const gfx::Result copied = device->getRenderTargetData(target, ScreenCaptureSurface);
    target.reset();
    if (gfx::failed(copied)) return fail();
    gfx::LockedRect locked;
    if (gfx::failed(ScreenCaptureSurface->lockRect(&locked, nullptr, gfx::kLockReadOnly)) ||
        locked.bits == nullptr) {
        return fail();
    }

    const gfx::SurfaceDesc bb = backBufferOf(device);
    CapturedImage image;
    image.pixels = static_cast<const uint32_t*>(locked.bits);
    image.rowPixels = locked.pitch / 4;
    image.rows = int32_t(bb.height);
    image.backBufferWidth = int32_t(bb.width);
    image.backBufferHeight = int32_t(bb.height);
    countBrightPixels(image);
    ScreenCaptureSurface->unlockRect();

    settleAllSprites();
    settleAllSprites();

    device->endScene();
    screenQuad.setDefaultStates();
    return gfx::kOk;
}

}  // namespace gx
