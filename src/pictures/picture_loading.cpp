// Picture loading and the capture fallback.
#include "pictures/picture_loading.h"

#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "framework/failures.h"
#include "framework/framework.h"
#include "pictures/picture_list.h"
#include "pictures/smoothing.h"
#include "platform/os/desktop_capture.h"
#include "platform/os/message_box.h"
#include "render/resources.h"

namespace gx {
namespace {

struct Snapshot {
    std::vector<uint32_t> pixels;
    uint32_t width = 0, height = 0;
};

struct PictureSourceState {
    gfx::Device* device = nullptr;  // borrowed
    gfx::TexturePtr texture;
    image::ImageInfo info;
    bool isCapture = false;
    Snapshot desktop;  // as taken, unsmoothed
    Snapshot kept;     // the smoothed capture, kept while there is no device
    std::function<void(uint32_t, uint32_t)> quadWriter;
};
PictureSourceState source;

void writeQuad(uint32_t width, uint32_t height) {
    if (source.quadWriter) source.quadWriter(width, height);
    else screenQuad.createForPicture(width, height);
}

// Copies packed rows into a new texture; false when it cannot be made.
bool textureFromPixels(const uint32_t* pixels, uint32_t width, uint32_t height, bool smooth,
                       gfx::TexturePtr* out) {
    if (!source.device || width == 0 || height == 0) return false;
    gfx::TexturePtr texture;
    if (gfx::failed(image::createTexture(source.device, width, height, 1, 0, gfx::Format::A8R8G8B8,
                                         gfx::Pool::Managed, &texture)))
        return false;
    gfx::LockedRect locked;
    if (gfx::failed(texture->lockRect(0, &locked, nullptr, 0))) return false;
    const int rowBytes = int(width * 4);
    if (smooth) {
        smoothSnapshot(pixels, rowBytes, locked.bits, locked.pitch, rowBytes, int(height));
    } else {
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(static_cast<uint8_t*>(locked.bits) + size_t(locked.pitch) * y,
                        pixels + size_t(y) * width, size_t(rowBytes));
    }
    texture->unlockRect(0);
    *out = std::move(texture);
    return true;
}

void install(gfx::TexturePtr texture, const image::ImageInfo& info, bool isCapture) {
    source.texture = std::move(texture);  // the old one goes only now
    source.info = info;
    source.isCapture = isCapture;
    writeQuad(info.width, info.height);
}

// The picture source as the renderer sees it. Installed at run time (start-up takes
// the snapshot before the device exists), never from a static initialiser, whose
// order against the renderer's own is not defined.
void connectToRenderer() {
    RenderHooks& hooks = renderHooks();
    if (hooks.loadedPicture) return;
    hooks.loadedPicture = [] {
        return LoadedPicture{source.texture, source.info.width, source.info.height};
    };
    hooks.setPictureDevice = setPictureDevice;
    hooks.releasePictureResources = keepCapturedPicture;
}

}  // namespace

const gfx::TexturePtr& pictureTexture() { return source.texture; }
const image::ImageInfo& pictureInfo() { return source.info; }
uint32_t loadedPictureWidth() { return source.info.width; }
uint32_t loadedPictureHeight() { return source.info.height; }
bool pictureIsCapture() { return source.isCapture; }
bool hasKeptCapture() { return !source.kept.pixels.empty(); }

void setPictureDevice(gfx::Device* device) { source.device = device; }

void takeDesktopSnapshot() {
    connectToRenderer();
    Snapshot shot;
    try {
        if (!captureDesktop(&shot.pixels, &shot.width, &shot.height)) return;
    } catch (const std::bad_alloc&) {
        return;  // the saver can run without it
    }
    source.desktop = std::move(shot);
}

void setDesktopSnapshot(std::vector<uint32_t> pixels, uint32_t width, uint32_t height) {
    if (pixels.size() != size_t(width) * height) pixels.clear();
    source.desktop.pixels = std::move(pixels);
    source.desktop.width = source.desktop.pixels.empty() ? 0 : width;
    source.desktop.height = source.desktop.pixels.empty() ? 0 : height;
}

void setPictureQuadWriter(std::function<void(uint32_t, uint32_t)> writer) {
    source.quadWriter = std::move(writer);
}

bool useScreenCapture() {
    gfx::TexturePtr texture;
    if (!source.kept.pixels.empty()) {
        if (!textureFromPixels(source.kept.pixels.data(), source.kept.width, source.kept.height,
                               false, &texture))
            return false;
        image::ImageInfo info = source.info;
        info.width = source.kept.width;
        info.height = source.kept.height;
        source.texture = std::move(texture);
        source.info = info;
        source.isCapture = true;
        return true;
    }
    const Snapshot& shot = source.desktop;
    if (shot.pixels.empty()) return false;
    if (!textureFromPixels(shot.pixels.data(), shot.width, shot.height, true, &texture))
        return false;
    image::ImageInfo info;
    info.width = shot.width;
    info.height = shot.height;
    info.format = gfx::Format::A8R8G8B8;
    source.texture = std::move(texture);
    source.info = info;
    source.isCapture = true;
    return true;
}

bool loadCurrentPicture() {
    connectToRenderer();
    if (!source.device) source.device = getD3D9Device();
    // No list at all: what is already shown stays, at its own size again (the quad
    // may hold any rectangle the last cycle left in it).
    if (!currentPicture() && source.texture) {
        writeQuad(source.info.width, source.info.height);
        return true;
    }
    std::string lastTried;
    // A picture whose texture cannot be made is passed over at most once per load.
    size_t refused = 0;
    while (PictureNode* node = currentPicture()) {
        if (refused >= pictureCount()) break;
        lastTried = node->path;
        image::ImageInfo info;
        gfx::Result r = image::getImageInfoFromFile(node->path, &info);
        if (gfx::succeeded(r)) {
            gfx::TexturePtr texture;
            r = source.device
                    ? image::createTextureFromFile(source.device, node->path, info.width,
                                                   info.height, 1, 0, gfx::Format::Unknown,
                                                   gfx::Pool::Managed, 0xFF000000u, &info, &texture)
                    : gfx::kInvalidCall;
            if (gfx::succeeded(r)) {
                install(std::move(texture), info, false);
                return true;
            }
        }
        if (r == image::kInvalidData) {
            // Unreadable: it leaves the list for good.
            advancePicture(true);
            continue;
        }
        // Readable but refused (too large for the device, no memory): it stays, and
        // the capture takes its place for this cycle when there is one.
        if (useScreenCapture()) {
            writeQuad(source.info.width, source.info.height);
            return true;
        }
        ++refused;
        advancePicture(false);
    }
    if (useScreenCapture()) {
        writeQuad(source.info.width, source.info.height);
        return true;
    }
    // During the run the previous picture stays rather than a message every cycle,
    // shown as a fresh load would show it.
    if (source.texture) {
        writeQuad(source.info.width, source.info.height);
        return true;
    }
    // Name what was tried: the last picture, else what the list was built from (a
    // device, a FIFO, a looping link or an empty folder gives no picture at all).
    showMessageBox("Could not load " + (lastTried.empty() ? pictureSources() : lastTried),
                   "Glimmerax");
    return false;
}

void keepCapturedPicture() {
    if (!RenderSuppressed && source.isCapture && source.kept.pixels.empty() && source.texture) {
        gfx::LockedRect locked;
        if (gfx::succeeded(source.texture->lockRect(0, &locked, nullptr, 0))) {
            const uint32_t width = source.info.width, height = source.info.height;
            try {
                source.kept.pixels.resize(size_t(width) * height);
                for (uint32_t y = 0; y < height; ++y)
                    std::memcpy(&source.kept.pixels[size_t(y) * width],
                                static_cast<const uint8_t*>(locked.bits) + size_t(locked.pitch) * y,
                                size_t(width) * 4);
                source.kept.width = width;
                source.kept.height = height;
            } catch (const std::bad_alloc&) {
                source.kept = Snapshot{};
                source.texture->unlockRect(0);
                source.texture.reset();
                reportOutOfMemory();
                return;
            }
            source.texture->unlockRect(0);
        }
    }
    source.texture.reset();
}

void releasePictures() {
    releasePictureList();
    source.texture.reset();
    source.kept = Snapshot{};
    source.desktop = Snapshot{};
    source.isCapture = false;
}

void resetPictureSource() {
    releasePictures();
    source.info = image::ImageInfo{};
    source.device = nullptr;
    source.quadWriter = nullptr;
}

}  // namespace gx
