#include "framework/preview_frames.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace gx {

bool writePreviewFrame(int fd, const uint32_t* pixels, uint32_t width, uint32_t height) {
    PreviewFrameHeader header;
    std::memcpy(header.magic, kPreviewFrameMagic, sizeof header.magic);
    header.width = width;
    header.height = height;
    // One call for both parts, so the reader mostly wakes once per frame.
    iovec parts[2] = {{&header, sizeof header},
                      {const_cast<uint32_t*>(pixels), size_t(width) * height * sizeof(uint32_t)}};
    int count = 2;
    iovec* part = parts;
    while (count > 0) {
        const ssize_t written = ::writev(fd, part, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        size_t left = size_t(written);
        while (count > 0 && left >= part->iov_len) {
            left -= part->iov_len;
            ++part;
            --count;
        }
        if (count > 0) {
            part->iov_base = static_cast<char*>(part->iov_base) + left;
            part->iov_len -= left;
        }
    }
    return true;
}

}  // namespace gx
