// Loading the current picture as a texture, with the smoothed desktop snapshot as the
// stand-in when no picture can be shown, and keeping that snapshot across device
// re-creation.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/gfx/gfx.h"
#include "platform/image/image.h"

namespace gx {

// Loads the current picture (dropping unreadable files on the way) or, failing that,
// the snapshot, and has the renderer write the picture quad. False (after telling the
// user "Could not load ...") only when nothing at all can be shown.
bool loadCurrentPicture();
// Makes the picture texture from the kept capture or the desktop snapshot.
bool useScreenCapture();
// The device is going: a capture's pixels are kept, the texture is released.
void keepCapturedPicture();
void setPictureDevice(gfx::Device* device);
// Frees the list, the texture, the kept capture and the snapshot.
void releasePictures();
// Photographs the desktop; called before the saver's window exists.
void takeDesktopSnapshot();

const gfx::TexturePtr& pictureTexture();
const image::ImageInfo& pictureInfo();
uint32_t loadedPictureWidth();
uint32_t loadedPictureHeight();
// True while the texture shows the snapshot rather than a picture file.
bool pictureIsCapture();

// Tests: a snapshot of their own (empty pixels: none), a stand-in for the renderer's
// picture quad (empty: the renderer's), and a clean start.
void setDesktopSnapshot(std::vector<uint32_t> pixels, uint32_t width, uint32_t height);
void setPictureQuadWriter(std::function<void(uint32_t width, uint32_t height)> writer);
bool hasKeptCapture();
void resetPictureSource();

}  // namespace gx
