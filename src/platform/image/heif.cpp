// HEIF, HEIC and AVIF through libheif: the primary image, with the file's own
// rotation, mirroring and cropping applied by libheif, converted to 8-bit RGBA.
#include <libheif/heif.h>

#include <cstring>
#include <memory>

#include "platform/image/formats.h"

namespace gx::image {
namespace {

struct Input {
    const Bytes* in;
    uint64_t at;
};

int64_t position(void* user) { return int64_t(static_cast<Input*>(user)->at); }
int readInput(void* out, size_t n, void* user) {
    auto* s = static_cast<Input*>(user);
    if (!s->in->read(s->at, out, n)) return 1;
    s->at += n;
    return 0;
}
int seekInput(int64_t to, void* user) {
    auto* s = static_cast<Input*>(user);
    if (to < 0 || uint64_t(to) > s->in->size) return 1;
    s->at = uint64_t(to);
    return 0;
}
heif_reader_grow_status waitForSize(int64_t target, void* user) {
    return target >= 0 && uint64_t(target) <= static_cast<Input*>(user)->in->size
               ? heif_reader_grow_status_size_reached
               : heif_reader_grow_status_size_beyond_eof;
}
const heif_reader kReader = {1, position, readInput, seekInput, waitForSize};

struct Deleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
    void operator()(heif_image* i) const { heif_image_release(i); }
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
template <typename T>
using Owned = std::unique_ptr<T, Deleter>;

// The primary image's handle; the context and input must outlive it.
Owned<heif_image_handle> primaryImage(const Owned<heif_context>& context, Input* input) {
    if (!context) return nullptr;
    // libheif refuses sides beyond this before it allocates anything for them.
    heif_context_set_maximum_image_size_limit(context.get(),
                                              int(std::min<uint32_t>(kMaxDimension, 1u << 16)));
    heif_error e = input->in->data
                       ? heif_context_read_from_memory_without_copy(
                             context.get(), input->in->data, size_t(input->in->size), nullptr)
                       : heif_context_read_from_reader(context.get(), &kReader, input, nullptr);
    if (e.code != heif_error_Ok) return nullptr;
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &handle).code != heif_error_Ok)
        return nullptr;
    return Owned<heif_image_handle>(handle);
}

}  // namespace

bool readHeifInfo(const Bytes& in, ImageInfo* info) {
    Input input{&in, 0};
    Owned<heif_context> context(heif_context_alloc());
    Owned<heif_image_handle> handle = primaryImage(context, &input);
    if (!handle) return false;
    // The size as shown: libheif gives it with the rotation already applied.
    const int w = heif_image_handle_get_width(handle.get()),
              h = heif_image_handle_get_height(handle.get());
    if (w <= 0 || h <= 0 || !sizeAcceptable(uint32_t(w), uint32_t(h))) return false;
    describe(info, uint32_t(w), uint32_t(h),
             heif_image_handle_has_alpha_channel(handle.get()) != 0);
    return true;
}

bool decodeHeif(const Bytes& in, Bitmap* out) {
    Input input{&in, 0};
    Owned<heif_context> context(heif_context_alloc());
    Owned<heif_image_handle> handle = primaryImage(context, &input);
    Owned<heif_decoding_options> options(heif_decoding_options_alloc());
    if (!handle || !options) return false;
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    if (heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                          options.get())
            .code != heif_error_Ok)
        return false;
    Owned<heif_image> image(decoded);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || w <= 0 || h <= 0 || stride < w * 4 ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
        return false;
    if (!allocateBitmap(out, uint32_t(w), uint32_t(h))) return false;
    for (int y = 0; y < h; ++y) {
        uint32_t* row = &out->pixels[size_t(y) * uint32_t(w)];
        std::memcpy(row, plane + size_t(y) * size_t(stride), size_t(w) * 4);
        swapRedBlue(row, size_t(w));
    }
    return true;
}

}  // namespace gx::image
