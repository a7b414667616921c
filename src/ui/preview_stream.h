// What a preview run (`--preview`) sends the settings dialog, taken apart as it comes
// in pieces: frames on its standard output, lines of text on its standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/preview_frames.h"

namespace gx {

class PreviewFrameReader {
public:
    // Takes the next bytes of the stream, in pieces of any size. False once they
    // cannot be a frame stream; nothing more is taken then.
    bool take(const uint8_t* bytes, size_t size);
    bool broken() const { return broken_; }

    // The latest complete frame: width * height pixels, 0x..RRGGBB, row after row.
    const std::vector<uint32_t>& frame() const { return frame_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    // Complete frames so far.
    uint64_t frames() const { return frames_; }

private:
    PreviewFrameHeader header_{};
    size_t headerBytes_ = 0;
    std::vector<uint32_t> incoming_;
    size_t incomingBytes_ = 0;
    std::vector<uint32_t> frame_;
    uint32_t width_ = 0, height_ = 0;
    uint64_t frames_ = 0;
    bool broken_ = false;
};

// The last line of text a preview run wrote, for the pane to show while it has no
// frame: the data file's progress, or why nothing can be shown.
class PreviewTextLine {
public:
    void take(const char* text, size_t size);
    // The run's output has ended: a last line without its line break counts too.
    void finish();
    // The last non-empty line, without the program's name in front.
    const std::string& line() const { return line_; }
    // Non-empty lines so far.
    uint64_t lines() const { return lines_; }

private:
    std::string partial_;
    std::string line_;
    uint64_t lines_ = 0;
};

}  // namespace gx
