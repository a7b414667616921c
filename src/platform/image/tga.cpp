// Targa pictures through stb_image. Targa has no signature: a file no other format
// claims comes here, and its header must be a Targa header before stb_image sees it,
// for stb_image tries every format it knows on what it is given (its Netpbm reader,
// for one, runs off the end of 16-bit files).
#include <stb_image.h>

#include <cstring>
#include <memory>

#include "platform/image/formats.h"

namespace gx::image {
namespace {

// The fields stb_image's Targa reader checks: colour map type 0 or 1, a known image
// type (mapped with a map, true-colour or grey, plain or run-length), known depths.
// No other format's first bytes pass this.
bool targaHeader(const std::vector<uint8_t>& h) {
    if (h.size() < 18) return false;
    const uint8_t mapType = h[1], type = h[2], mapDepth = h[7], depth = h[16];
    const bool mapped = type == 1 || type == 9;
    if (mapType > 1 || (mapped != (mapType == 1))) return false;
    if (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11) return false;
    if (mapped && mapDepth != 15 && mapDepth != 16 && mapDepth != 24 && mapDepth != 32)
        return false;
    if (mapped ? depth != 8 && depth != 16
               : depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        return false;
    return le16(&h[12]) > 0 && le16(&h[14]) > 0;
}

}  // namespace

bool readTgaInfo(const Bytes& in, ImageInfo* info) {
    const std::vector<uint8_t> head = in.take(0, 4096);
    int w = 0, h = 0, comp = 0;
    if (!targaHeader(head) ||
        !stbi_info_from_memory(head.data(), int(head.size()), &w, &h, &comp) || w <= 0 || h <= 0 ||
        !sizeAcceptable(uint32_t(w), uint32_t(h)))
        return false;
    describe(info, uint32_t(w), uint32_t(h), comp == 2 || comp == 4);
    return true;
}

bool decodeTga(const Bytes& in, Bitmap* out) {
    if (!in.data || in.size > uint64_t(INT32_MAX) || !targaHeader(in.take(0, 18))) return false;
    int w = 0, h = 0, comp = 0;
    std::unique_ptr<uint8_t, void (*)(void*)> px(
        stbi_load_from_memory(in.data, int(in.size), &w, &h, &comp, 4), stbi_image_free);
    if (!px || !allocateBitmap(out, uint32_t(w), uint32_t(h))) return false;
    std::memcpy(out->pixels.data(), px.get(), out->pixels.size() * 4);
    swapRedBlue(out->pixels.data(), out->pixels.size());
    return true;
}

}  // namespace gx::image
