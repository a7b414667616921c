// A whole simulation scene without the phases: the headless framework's device at a
// chosen size, a picture drawn where the wind-up would leave it, the capture that makes
// the population, then simulation frames as the simulation phase runs them. Shared by
// the scene tests and the benchmarks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bodies/bodies.h"
#include "bodies/ring_tables.h"
#include "bodies/sprites.h"
#include "framework/backend.h"
#include "framework/framework.h"
#include "framework/run_options.h"
#include "platform/gfx/gfx.h"
#include "platform/image/image.h"
#include "platform/os/message_box.h"
#include "render/collision_surfaces.h"
#include "render/frame.h"
#include "render/resources.h"
#include "render/sprite_quads.h"
#include "support/rings.h"
#include "ui/error_report.h"
#include "ui/ring_generator.h"
#include "universe/motion.h"
#include "universe/picture_to_particles.h"
#include "universe/world.h"

namespace gx::scene {

// The ring tables built in memory once per program (the sprites walk them).
inline void ensureRingTables() { gxtest::ensureRingTables(); }

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB
};

// A fixed colourful picture with dark bands, the same on every run.
inline Picture testPicture(uint32_t w, uint32_t h) {
    Picture pic{w, h, std::vector<uint32_t>(size_t(w) * h)};
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t band = (x / 23 + y / 17) % 5;
            const uint32_t r = (x * 255) / w, g = (y * 255) / h, b = ((x + y) * 97) & 0xFF;
            pic.pixels[size_t(y) * w + x] =
                band == 0 ? 0xFF080808u : (0xFF000000u | (r << 16) | (g << 8) | b);
        }
    }
    return pic;
}

inline bool loadPicture(const std::string& path, Picture* out) {
    image::Bitmap bmp;
    if (gfx::failed(image::decodeImageFile(path, &bmp))) return false;
    out->width = bmp.width;
    out->height = bmp.height;
    out->pixels = std::move(bmp.pixels);
    return true;
}

class Scene {
public:
    ~Scene() { stop(); }

    // The headless framework's device at w x h with the renderer's resources.
    bool start(uint32_t w, uint32_t h) {
        ensureRingTables();
        setMessageBoxSink(
            [this](const std::string& text, const std::string&) { messages.push_back(text); });
        frameworkResetForTests();
        connectErrorReport();
        runOptions() = RunOptions{};
        runOptions().headless = true;
        runOptions().headlessWidth = w;
        runOptions().headlessHeight = h;
        renderHooks() = RenderHooks{};
        resetRenderResources();
        resetCollisionSurfaces();
        resetSimulation();
        setBackendForTests(makeHeadlessBackend());
        init(false, false, nullptr, false);
        createWindow("Glimmerax");
        setCallbackDeviceCreated([](gfx::Device* d, const gfx::SurfaceDesc&, void*) {
            onDeviceCreated(d);
            return gfx::kOk;
        });
        setCallbackDeviceReset(
            [](gfx::Device* d, const gfx::SurfaceDesc&, void*) { return onDeviceReset(d); });
        setCallbackDeviceLost([](void*) { onDeviceLost(); });
        setCallbackDeviceDestroyed([](void*) { onDeviceDestroyed(); });
        DeviceSettings ds;
        ds.pp.backBufferWidth = w;
        ds.pp.backBufferHeight = h;
        ds.pp.windowed = true;
        if (gfx::failed(createDeviceFromSettings(ds, false, true))) return false;
        device = getD3D9Device();
        resetSprites();
        started = true;
        return device != nullptr;
    }

    // Draws the picture centred into a rectangle fitting `fill` of the screen (0: the
    // wind-up's own target rectangle) and turns the screen into particles.
    bool capture(const Picture& pic, float fill = 0.6f) {
        if (gfx::failed(device->createTexture(pic.width, pic.height, 1, 0, gfx::Format::A8R8G8B8,
                                              gfx::Pool::Managed, &texture)))
            return false;
        gfx::LockedRect lr;
        if (gfx::failed(texture->lockRect(0, &lr, nullptr, 0))) return false;
        for (uint32_t y = 0; y < pic.height; ++y)
            std::memcpy(static_cast<uint8_t*>(lr.bits) + size_t(y) * size_t(lr.pitch),
                        pic.pixels.data() + size_t(y) * pic.width, size_t(pic.width) * 4);
        texture->unlockRect(0);
        const gfx::TexturePtr tex = texture;
        const uint32_t pw = pic.width, ph = pic.height;
        renderHooks().loadedPicture = [tex, pw, ph]() { return LoadedPicture{tex, pw, ph}; };
        if (gfx::failed(screenQuad.createForPicture())) return false;

        const gfx::SurfaceDesc* bb = getD3D9BackBufferSurfaceDesc();
        const float sw = float(bb->width), sh = float(bb->height);
        float w, h;
        if (fill > 0.0f) {
            const float scale = std::min(fill * sw / float(pw), fill * sh / float(ph));
            w = float(pw) * scale;
            h = float(ph) * scale;
        } else if (ph < pw) {  // the wind-up's own target rectangle
            w = 0.2f * sw;
            h = w * (float(ph) / float(pw));
        } else {
            h = 0.2f * sw * 0.75f;
            w = h * (float(pw) / float(ph));
        }
        sim.pictureLeft = float(int(0.5f * (sw - w)));
        sim.pictureTop = float(int(0.5f * (sh - h)));
        sim.pictureRight = sim.pictureLeft + float(int(w));
        sim.pictureBottom = sim.pictureTop + float(int(h));
        screenQuad.setRect(sim.pictureLeft, sim.pictureTop, sim.pictureRight, sim.pictureBottom,
                           0xFFFFFFFFu);

        // What the simulation phase does as it begins.
        releaseParticles();
        sim.processedCount = int32_t(sim.particleCount);
        sim.sparseFlag = 0;
        sim.bodyLimit = 1;
        sim.bodySnapshot = nullptr;
        resetBodies();
        readbackPaused = false;
        return gfx::succeeded(capturePicture());
    }

    // One simulation frame and its render.
    void simulate() {
        simulateFrame();
        updateAllSprites();
    }
    void render() { renderFrame(device, 0.0, 0.0f, nullptr); }
    void frame() {
        simulate();
        render();
    }

    void stop() {
        if (!started) return;
        started = false;
        freeSprites();
        frameworkCleanup();
        frameworkResetForTests();
        renderHooks() = RenderHooks{};
        texture.reset();
        resetRenderResources();
        resetCollisionSurfaces();
        resetSimulation();
        setMessageBoxSink({});
    }

    gfx::Device* device = nullptr;
    gfx::TexturePtr texture;
    std::vector<std::string> messages;
    bool started = false;
};

inline uint32_t spriteCount() {
    uint32_t n = 0;
    for (BodySprite* s = firstAttachedSprite(); s && s->body; s = nextAttachedSprite(s)) ++n;
    return n;
}

}  // namespace gx::scene
