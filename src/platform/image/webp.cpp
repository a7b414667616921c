// WebP through libwebp: still pictures decoded straight into the bitmap, animations
// through the demuxer's animation decoder for their first frame. The EXIF chunk of the
// RIFF container gives the orientation, wherever it lies.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>

#include "platform/image/exif_orientation.h"
#include "platform/image/formats.h"

namespace gx::image {
namespace {

constexpr uint32_t kMaxExifBytes = 1u << 20;

struct WebpLayout {
    uint32_t width = 0, height = 0;
    bool alpha = false, animated = false;
    int orientation = 1;
};

bool readLayout(const Bytes& in, WebpLayout* L) {
    const std::vector<uint8_t> head = in.take(0, 4096);
    if (head.size() < 12 || std::memcmp(head.data(), "RIFF", 4) != 0 ||
        std::memcmp(head.data() + 8, "WEBP", 4) != 0)
        return false;
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(head.data(), head.size(), &features) != VP8_STATUS_OK) return false;
    if (features.width <= 0 || features.height <= 0 ||
        !sizeAcceptable(uint32_t(features.width), uint32_t(features.height)))
        return false;
    L->width = uint32_t(features.width);
    L->height = uint32_t(features.height);
    L->alpha = features.has_alpha != 0;
    L->animated = features.has_animation != 0;
    // The chunks of the container: four-letter name, little-endian size, padded to even.
    const uint64_t end = std::min<uint64_t>(in.size, uint64_t(le32(head.data() + 4)) + 8);
    for (uint64_t at = 12; at + 8 <= end;) {
        uint8_t header[8];
        if (!in.read(at, header, 8)) break;
        const uint32_t length = le32(header + 4);
        if (std::memcmp(header, "EXIF", 4) == 0) {
            if (length <= kMaxExifBytes) {
                std::vector<uint8_t> exif = in.take(at + 8, length);
                if (exif.size() == length)
                    L->orientation = exifOrientation(exif.data(), exif.size());
            }
            break;
        }
        at += 8 + uint64_t(length) + (length & 1);
    }
    return true;
}

bool decodeFirstFrame(const Bytes& in, const WebpLayout& L, Bitmap* out) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return false;
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData data{in.data, size_t(in.size)};
    std::unique_ptr<WebPAnimDecoder, void (*)(WebPAnimDecoder*)> decoder(
        WebPAnimDecoderNew(&data, &options), WebPAnimDecoderDelete);
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info) || info.canvas_width != L.width ||
        info.canvas_height != L.height)
        return false;
    uint8_t* frame = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp) || !frame) return false;
    if (!allocateBitmap(out, L.width, L.height)) return false;
    std::memcpy(out->pixels.data(), frame, out->pixels.size() * 4);
    return true;
}

}  // namespace

bool readWebpInfo(const Bytes& in, ImageInfo* info) {
    WebpLayout L;
    if (!readLayout(in, &L)) return false;
    describe(info, L.width, L.height, L.alpha, L.orientation);
    return true;
}

bool decodeWebp(const Bytes& in, Bitmap* out) {
    WebpLayout L;
    if (!in.data || !readLayout(in, &L)) return false;
    if (L.animated) {
        if (!decodeFirstFrame(in, L, out)) return false;
    } else {
        if (!allocateBitmap(out, L.width, L.height)) return false;
        // BGRA bytes are the bitmap's 0xAARRGGBB; opaque pictures get alpha 255.
        const size_t bytes = out->pixels.size() * 4;
        if (!WebPDecodeBGRAInto(in.data, size_t(in.size),
                                reinterpret_cast<uint8_t*>(out->pixels.data()), bytes,
                                int(L.width * 4)))
            return false;
    }
    applyOrientation(out, L.orientation);
    return true;
}

}  // namespace gx::image
