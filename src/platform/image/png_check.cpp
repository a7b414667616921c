#include "platform/image/png_check.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace gx::image {
namespace {

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

bool pngDataInflates(const uint8_t* data, size_t size) {
    if (size < 33) return true;
    // Enough output for the largest row layout (16-bit RGBA plus the filter byte); what
    // lies beyond that is never looked at, so inflating stops there.
    const uint64_t width = bigEndian32(data + 16), height = bigEndian32(data + 20);
    const uint64_t enough = height * (width * 8 + 1) + 1;

    z_stream z{};
    if (inflateInit(&z) != Z_OK) return true;
    std::vector<uint8_t> sink(1 << 16);
    uint64_t produced = 0;
    int status = Z_OK;
    for (size_t at = 8; at + 8 <= size && status == Z_OK && produced < enough;) {
        const uint32_t length = bigEndian32(data + at);
        const uint8_t* type = data + at + 4;
        if (length > size - at - 8) break;  // a cut chunk: the decoder refuses it
        if (std::memcmp(type, "IEND", 4) == 0) break;
        if (std::memcmp(type, "IDAT", 4) == 0) {
            z.next_in = const_cast<Bytef*>(data + at + 8);
            z.avail_in = length;
            while (z.avail_in > 0 && status == Z_OK && produced < enough) {
                z.next_out = sink.data();
                z.avail_out = uInt(sink.size());
                status = inflate(&z, Z_NO_FLUSH);
                produced += sink.size() - z.avail_out;
                if (status == Z_BUF_ERROR) status = Z_OK;  // needs the next chunk
            }
        }
        at += size_t(length) + 12;
    }
    inflateEnd(&z);
    return status == Z_OK || status == Z_STREAM_END;
}

}  // namespace gx::image
