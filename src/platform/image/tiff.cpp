// TIFF through libtiff: the first directory, read by libtiff's RGBA reader (strips and
// tiles; 1 to 16 bits; grey, palette, RGB, CMYK, YCbCr; the compressions libtiff has),
// stored order kept so that our orientation code applies the Orientation tag.
#include <tiffio.h>

#include <cstdarg>
#include <memory>

#include "platform/image/exif_orientation.h"
#include "platform/image/formats.h"

namespace gx::image {
namespace {

struct Handle {
    const Bytes* in;
    uint64_t at;
};

tmsize_t readProc(thandle_t h, void* out, tmsize_t n) {
    auto* s = static_cast<Handle*>(h);
    if (n <= 0 || s->at >= s->in->size) return 0;
    const size_t count = size_t(std::min<uint64_t>(uint64_t(n), s->in->size - s->at));
    if (!s->in->read(s->at, out, count)) return -1;
    s->at += count;
    return tmsize_t(count);
}
tmsize_t writeProc(thandle_t, void*, tmsize_t) { return -1; }
toff_t seekProc(thandle_t h, toff_t offset, int whence) {
    auto* s = static_cast<Handle*>(h);
    uint64_t base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? s->in->size : 0;
    s->at = base + offset;
    return s->at;
}
int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t h) { return static_cast<Handle*>(h)->in->size; }
int mapProc(thandle_t h, void** base, toff_t* size) {
    auto* s = static_cast<Handle*>(h);
    if (!s->in->data) return 0;
    *base = const_cast<uint8_t*>(s->in->data);
    *size = s->in->size;
    return 1;
}
void unmapProc(thandle_t, void*, toff_t) {}
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct Closer {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using Tiff = std::unique_ptr<TIFF, Closer>;

Tiff open(Handle* handle) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    // One strip or tile buffer of a picture we would show is far below this.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(256) << 20);
    // "m": no memory mapping of the file; one in memory is handed over as it is.
    TIFF* t =
        TIFFClientOpenExt("picture", handle->in->data ? "r" : "rm", handle, readProc, writeProc,
                          seekProc, closeProc, sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    return Tiff(t);
}

struct TiffLayout {
    uint32_t width = 0, height = 0;
    int orientation = 1;
    bool alpha = false;
};

bool readLayout(TIFF* t, TiffLayout* L) {
    uint16_t orientation = ORIENTATION_TOPLEFT, extraCount = 0;
    uint16_t* extraTypes = nullptr;
    char message[1024];
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &L->width) ||
        !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &L->height) || !sizeAcceptable(L->width, L->height) ||
        !TIFFRGBAImageOK(t, message))
        return false;
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
    L->orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    if (TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) &&
        extraCount > 0 && extraTypes)
        L->alpha =
            extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA;
    return true;
}

}  // namespace

bool readTiffInfo(const Bytes& in, ImageInfo* info) {
    Handle handle{&in, 0};
    Tiff t = open(&handle);
    TiffLayout L;
    if (!t || !readLayout(t.get(), &L)) return false;
    describe(info, L.width, L.height, L.alpha, L.orientation);
    return true;
}

bool decodeTiff(const Bytes& in, Bitmap* out) {
    Handle handle{&in, 0};
    Tiff t = open(&handle);
    TiffLayout L;
    if (!t || !readLayout(t.get(), &L)) return false;
    TIFFRGBAImage image;
    char message[1024];
    if (!TIFFRGBAImageBegin(&image, t.get(), 1, message)) return false;
    // Rows as stored, top first: the orientation is ours to apply, all eight of them
    // (libtiff's reader would only flip).
    image.req_orientation = ORIENTATION_TOPLEFT;
    image.orientation = ORIENTATION_TOPLEFT;
    bool ok = image.width == L.width && image.height == L.height;
    try {
        ok = ok && allocateBitmap(out, L.width, L.height);
    } catch (...) {
        TIFFRGBAImageEnd(&image);
        throw;
    }
    ok = ok && TIFFRGBAImageGet(&image, out->pixels.data(), L.width, L.height);
    const bool premultiplied = image.alpha != 0;
    TIFFRGBAImageEnd(&image);
    if (!ok) return false;
    // libtiff gives 0xAABBGGRR with the colour multiplied by alpha.
    for (uint32_t& p : out->pixels) {
        uint32_t a = p >> 24, r = p & 0xFF, g = p >> 8 & 0xFF, b = p >> 16 & 0xFF;
        if (premultiplied && a != 0 && a != 255)
            r = std::min(255u, (r * 255 + a / 2) / a), g = std::min(255u, (g * 255 + a / 2) / a),
            b = std::min(255u, (b * 255 + a / 2) / a);
        p = argb(a, r, g, b);
    }
    applyOrientation(out, L.orientation);
    return true;
}

}  // namespace gx::image
