// What reaches the screen: the picture alone during the wind-up, and afterwards the
// universe composed from the sprite layer and the particle image over black. Also the
// one-off capture that turns the shown picture into particles.
#pragma once

#include <cstdint>

#include "platform/gfx/gfx.h"

namespace gx {

// Frame-render callback of the wind-up: the picture quad on black.
void drawPictureFrame(gfx::Device* device, double time, float elapsed, void* ctx);
// Frame-render callback of the simulation and the wind-down.
void renderFrame(gfx::Device* device, double time, float elapsed, void* ctx);
// The on-screen layers of renderFrame: sprites, then particles over them.
void composeFrame(gfx::Device* device);
// Draws the picture, reads the screen back and builds the population from it.
gfx::Result capturePicture();

// Where renderFrame fills the particle image: on its own thread, or on a second thread
// while the sprite layer is drawn. Auto does the latter when there are sprites and at
// least particleImageBesideMinimum particles. The frames come out the same either way.
enum class ImageFill { Auto, Inline, Beside };
extern ImageFill particleImageFill;
extern uint32_t particleImageBesideMinimum;

// Drawn last in every composed frame (the current phase state's overlay); none by default.
using OverlayFn = void (*)();
void setFrameOverlay(OverlayFn fn);

}  // namespace gx
