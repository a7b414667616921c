// The frame stream of a preview run (--preview): every presented frame as a small
// header and the back buffer's rows, on a pipe to the settings dialog.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gx {

struct PreviewFrameHeader {
    char magic[4];    // kPreviewFrameMagic
    uint32_t width;   // in pixels
    uint32_t height;  // rows of `width` X8R8G8B8 pixels (bytes B, G, R, X) follow
};
static_assert(sizeof(PreviewFrameHeader) == 12);

inline constexpr char kPreviewFrameMagic[4] = {'G', 'X', 'P', 'F'};
// No side is larger: --size accepts at most this.
inline constexpr uint32_t kPreviewFrameMaxSide = 16384;

// Writes one frame whole. False when the reader has gone (the pipe closed) or the
// write fails otherwise.
bool writePreviewFrame(int fd, const uint32_t* pixels, uint32_t width, uint32_t height);

}  // namespace gx
