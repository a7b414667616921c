// Turning the captured screen into the particle population: every bright pixel
// becomes a particle weighted by its brightness and sent outward, random cracks split
// the picture area, and a flood fill groups the touching particles into first bodies.
#pragma once

#include <cstdint>

#include "universe/world.h"

namespace gx {

struct Element {
    const char* symbol;
    const char* name;
    float mass;
};
constexpr int kElementCount = 37;
extern const Element elementTable[kElementCount];

// The screen rectangle the wind-up drew the picture into (sim.pictureLeft and the
// others, simulation.h): the cracks stay inside it. Written by the wind-up phase before
// the capture (and moved with the particles on a screen-size change).

// The captured screen as the renderer hands it over.
struct CapturedImage {
    const uint32_t* pixels = nullptr;  // 0xAARRGGBB, row-major
    int32_t rowPixels = 0;             // pixels per row (locked pitch / 4)
    int32_t rows = 0;                  // back-buffer height
    float left = 0.0f;                 // world position of the first pixel
    float top = 0.0f;
    int32_t backBufferWidth = 0;   // columns at or beyond this make no particle
    int32_t backBufferHeight = 0;  // with the width: the burst's centre
};

// Red, green or blue above 0x20; alpha is ignored.
inline bool isBrightPixel(uint32_t p) {
    return (p & 0xFF0000u) >= 0x210000u || (p & 0xFF00u) >= 0x2100u || (p & 0xFFu) >= 0x21u;
}
// The element row of a colour by its brightness, 0 (black) to 36 (white).
int32_t elementRowOf(uint32_t colour);
inline float massOfColour(uint32_t colour) { return elementTable[elementRowOf(colour)].mass; }

// Counts the bright pixels of the whole image and builds the population from them.
// The world must have been initialised for this image just before (empty grid).
void countBrightPixels(const CapturedImage& image);
// Builds the population for n counted bright pixels (only through countBrightPixels).
void createParticles(const CapturedImage& image, uint32_t n);

}  // namespace gx
