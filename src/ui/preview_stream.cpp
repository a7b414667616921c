#include "ui/preview_stream.h"

#include <algorithm>
#include <cstring>

namespace gx {

bool PreviewFrameReader::take(const uint8_t* bytes, size_t size) {
    while (size > 0 && !broken_) {
        if (headerBytes_ < sizeof header_) {
            const size_t n = std::min(size, sizeof header_ - headerBytes_);
            std::memcpy(reinterpret_cast<uint8_t*>(&header_) + headerBytes_, bytes, n);
            headerBytes_ += n;
            bytes += n;
            size -= n;
            if (headerBytes_ < sizeof header_) break;
            if (std::memcmp(header_.magic, kPreviewFrameMagic, sizeof header_.magic) != 0 ||
                header_.width == 0 || header_.height == 0 || header_.width > kPreviewFrameMaxSide ||
                header_.height > kPreviewFrameMaxSide) {
                broken_ = true;
                break;
            }
            incoming_.resize(size_t(header_.width) * header_.height);
            incomingBytes_ = 0;
        }
        const size_t frameBytes = incoming_.size() * sizeof(uint32_t);
        const size_t n = std::min(size, frameBytes - incomingBytes_);
        std::memcpy(reinterpret_cast<uint8_t*>(incoming_.data()) + incomingBytes_, bytes, n);
        incomingBytes_ += n;
        bytes += n;
        size -= n;
        if (incomingBytes_ == frameBytes) {
            frame_.swap(incoming_);
            width_ = header_.width;
            height_ = header_.height;
            ++frames_;
            headerBytes_ = 0;
        }
    }
    return !broken_;
}

namespace {

// A line that is too long to show is cut; what counts is that it does not grow forever.
constexpr size_t kLongestLine = 1024;

std::string shown(std::string line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    for (const char* name : {"Glimmerax: ", "glimmerax: "})
        if (line.rfind(name, 0) == 0) line.erase(0, std::strlen(name));
    return line;
}

}  // namespace

void PreviewTextLine::take(const char* text, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            std::string line = shown(std::move(partial_));
            partial_.clear();
            if (!line.empty()) {
                line_ = std::move(line);
                ++lines_;
            }
        } else if (partial_.size() < kLongestLine) {
            partial_ += c;
        }
    }
}

void PreviewTextLine::finish() { take("\n", 1); }

}  // namespace gx
