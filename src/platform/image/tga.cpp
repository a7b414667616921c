// Targa pictures through stb_image. Targa has no signature: a file no other format
// claims comes here, and stb_image's own test of the header decides.
#include <stb_image.h>

#include <memory>

#include "platform/image/formats.h"

namespace gx::image {

bool readTgaInfo(const Bytes& in, ImageInfo* info) {
    const std::vector<uint8_t> head = in.take(0, 4096);
    int w = 0, h = 0, comp = 0;
    if (!stbi_info_from_memory(head.data(), int(head.size()), &w, &h, &comp) || w <= 0 || h <= 0 ||
        !sizeAcceptable(uint32_t(w), uint32_t(h)))
        return false;
    describe(info, uint32_t(w), uint32_t(h), comp == 2 || comp == 4);
    return true;
}

bool decodeTga(const Bytes& in, Bitmap* out) {
    if (!in.data || in.size > uint64_t(INT32_MAX)) return false;
    int w = 0, h = 0, comp = 0;
    std::unique_ptr<uint8_t, void (*)(void*)> px(stbi_load_from_memory(in.data, int(in.size), &w, &h, &comp, 4),
                                                 stbi_image_free);
    if (!px || !allocateBitmap(out, uint32_t(w), uint32_t(h))) return false;
    std::memcpy(out->pixels.data(), px.get(), out->pixels.size() * 4);
    swapRedBlue(out->pixels.data(), out->pixels.size());
    return true;
}

}  // namespace gx::image
