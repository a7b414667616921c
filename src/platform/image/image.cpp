// Picture files to bitmaps and textures. The content picks the decoder: our readers for
// DDS and PFM, stb_image for the rest, with the EXIF orientation of JPEGs applied.
#include "platform/image/image.h"

#include <stb_image.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/image/dds.h"
#include "platform/image/exif_orientation.h"
#include "platform/image/hdr.h"
#include "platform/image/jpeg_check.h"
#include "platform/image/pfm.h"
#include "platform/image/png_check.h"

namespace gx::image {
namespace {

enum class Decoder { Dds, Pfm, Stb, StbFloat };

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool fileSize(FILE* f, uint64_t* size) {
    if (std::fseek(f, 0, SEEK_END) != 0) return false;
    long n = std::ftell(f);
    if (n < 0 || std::fseek(f, 0, SEEK_SET) != 0) return false;
    *size = uint64_t(n);
    return true;
}

// Reads up to max bytes from the start.
std::vector<uint8_t> readHead(FILE* f, size_t max) {
    std::vector<uint8_t> head(max);
    std::fseek(f, 0, SEEK_SET);
    head.resize(std::fread(head.data(), 1, max, f));
    std::fseek(f, 0, SEEK_SET);
    return head;
}

bool endsWithDib(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".dib";
}

// Decides the decoder by the first bytes; false for types that are not ours.
bool sniff(const std::vector<uint8_t>& h, const std::string& path, Decoder* decoder, FileFormat* format) {
    auto starts = [&](const char* magic, size_t n) { return h.size() >= n && std::memcmp(h.data(), magic, n) == 0; };
    if (starts("DDS ", 4)) {
        *decoder = Decoder::Dds;
        *format = FileFormat::Dds;
    } else if (h.size() >= 3 && h[0] == 'P' && (h[1] == 'F' || h[1] == 'f') &&
               (h[2] == '\n' || h[2] == '\r' || h[2] == ' ' || h[2] == '\t')) {
        *decoder = Decoder::Pfm;
        *format = FileFormat::Pfm;
    } else if (starts("BM", 2)) {
        *decoder = Decoder::Stb;
        *format = endsWithDib(path) ? FileFormat::Dib : FileFormat::Bmp;
    } else if (starts("\x89PNG\r\n\x1a\n", 8)) {
        *decoder = Decoder::Stb;
        *format = FileFormat::Png;
    } else if (starts("\xFF\xD8\xFF", 3)) {
        *decoder = Decoder::Stb;
        *format = FileFormat::Jpg;
    } else if (starts("#?", 2)) {
        *decoder = Decoder::StbFloat;
        *format = FileFormat::Hdr;
    } else if (starts("P5", 2) || starts("P6", 2)) {
        *decoder = Decoder::Stb;
        *format = FileFormat::Ppm;
    } else if (starts("GIF8", 4) || starts("8BPS", 4) || starts("\x53\x80\xF6\x34", 4)) {
        return false;  // stb_image reads these, the saver does not
    } else {
        // Targa has no signature; stb_image's own test decides.
        *decoder = Decoder::Stb;
        *format = FileFormat::Tga;
    }
    return true;
}

constexpr size_t kHeadBytes = 512;
// An EXIF block is at most 64 KiB and sits among the first segments.
constexpr size_t kJpegHeadBytes = 256 * 1024;

uint32_t packRgba(const uint8_t* p) {
    return uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

bool readAll(FILE* f, std::vector<uint8_t>* data) {
    uint64_t size = 0;
    if (!fileSize(f, &size) || size > SIZE_MAX / 2) return false;
    data->resize(size_t(size));
    return std::fread(data->data(), 1, data->size(), f) == data->size();
}

gfx::Result decodeStb(const std::vector<uint8_t>& data, Decoder decoder, Bitmap* out) {
    if (data.size() > size_t(INT32_MAX)) return kInvalidData;
    int w = 0, h = 0, comp = 0;
    if (decoder == Decoder::StbFloat) {
        if (!hdrScanlinesComplete(data.data(), data.size())) return kInvalidData;
        float* px = stbi_loadf_from_memory(data.data(), int(data.size()), &w, &h, &comp, 4);
        if (!px) return kInvalidData;
        out->width = uint32_t(w);
        out->height = uint32_t(h);
        out->pixels.resize(size_t(w) * size_t(h));
        for (size_t i = 0; i < out->pixels.size(); ++i) {
            const float* p = px + i * 4;
            out->pixels[i] = uint32_t(quantiseChannel(p[3])) << 24 | uint32_t(quantiseChannel(p[0])) << 16 |
                             uint32_t(quantiseChannel(p[1])) << 8 | quantiseChannel(p[2]);
        }
        stbi_image_free(px);
        return gfx::kOk;
    }
    uint8_t* px = stbi_load_from_memory(data.data(), int(data.size()), &w, &h, &comp, 4);
    if (!px) return kInvalidData;
    out->width = uint32_t(w);
    out->height = uint32_t(h);
    out->pixels.resize(size_t(w) * size_t(h));
    for (size_t i = 0; i < out->pixels.size(); ++i) out->pixels[i] = packRgba(px + i * 4);
    stbi_image_free(px);
    return gfx::kOk;
}

gfx::Result readInfo(FILE* f, const std::string& path, ImageInfo* info, Decoder* decoder) {
    uint64_t size = 0;
    if (!fileSize(f, &size)) return kInvalidData;
    std::vector<uint8_t> head = readHead(f, kHeadBytes);
    FileFormat format;
    if (!sniff(head, path, decoder, &format)) return kInvalidData;
    ImageInfo result;
    if (*decoder == Decoder::Dds) {
        if (!readDdsInfo(head.data(), head.size(), size, &result)) return kInvalidData;
    } else if (*decoder == Decoder::Pfm) {
        if (!readPfmInfo(head.data(), head.size(), size, &result)) return kInvalidData;
    } else {
        int w = 0, h = 0, comp = 0;
        if (!stbi_info_from_file(f, &w, &h, &comp)) return kInvalidData;
        std::fseek(f, 0, SEEK_SET);
        if (w <= 0 || h <= 0 || uint32_t(w) > kMaxDimension || uint32_t(h) > kMaxDimension) return kInvalidData;
        result.width = uint32_t(w);
        result.height = uint32_t(h);
        result.format = comp == 2 || comp == 4 ? gfx::Format::A8R8G8B8 : gfx::Format::X8R8G8B8;
        result.fileFormat = format;
        if (format == FileFormat::Jpg) {
            std::vector<uint8_t> jpegHead = readHead(f, kJpegHeadBytes);
            if (orientationSwapsSides(jpegOrientation(jpegHead.data(), jpegHead.size())))
                std::swap(result.width, result.height);
        }
    }
    *info = result;
    return gfx::kOk;
}

}  // namespace

gfx::Result getImageInfoFromFile(const std::string& path, ImageInfo* info) {
    if (!info) return gfx::kInvalidCall;
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return kInvalidData;
    Decoder decoder;
    return readInfo(f.get(), path, info, &decoder);
}

gfx::Result decodeImageFile(const std::string& path, Bitmap* out, ImageInfo* infoOut) {
    if (!out) return gfx::kInvalidCall;
    try {
        File f(std::fopen(path.c_str(), "rb"));
        if (!f) return kInvalidData;
        ImageInfo info;
        Decoder decoder;
        gfx::Result r = readInfo(f.get(), path, &info, &decoder);
        if (gfx::failed(r)) return r;
        std::vector<uint8_t> data;
        if (!readAll(f.get(), &data)) return kInvalidData;
        f.reset();
        Bitmap bitmap;
        if (decoder == Decoder::Dds) {
            if (!decodeDds(data.data(), data.size(), &bitmap)) return kInvalidData;
        } else if (decoder == Decoder::Pfm) {
            if (!decodePfm(data.data(), data.size(), &bitmap)) return kInvalidData;
        } else {
            if (info.fileFormat == FileFormat::Png && !pngDataInflates(data.data(), data.size())) return kInvalidData;
            if (info.fileFormat == FileFormat::Jpg && !jpegTablesDefined(data.data(), data.size())) return kInvalidData;
            r = decodeStb(data, decoder, &bitmap);
            if (gfx::failed(r)) return r;
            if (info.fileFormat == FileFormat::Jpg) applyOrientation(&bitmap, jpegOrientation(data.data(), data.size()));
        }
        // The header promised this size; a decoder that disagrees read something else.
        if (bitmap.width != info.width || bitmap.height != info.height) return kInvalidData;
        *out = std::move(bitmap);
        if (infoOut) *infoOut = info;
        return gfx::kOk;
    } catch (const std::bad_alloc&) {
        return gfx::kOutOfMemory;
    }
}

namespace {

gfx::Result checkLimits(gfx::Device* device, uint32_t width, uint32_t height) {
    gfx::Caps caps{};
    if (gfx::failed(device->getDeviceCaps(&caps))) return gfx::kInvalidCall;
    if (width == 0 || height == 0 || width > caps.MaxTextureWidth || height > caps.MaxTextureHeight)
        return gfx::kInvalidCall;
    return gfx::kOk;
}

}  // namespace

gfx::Result createTexture(gfx::Device* device, uint32_t width, uint32_t height, uint32_t mipLevels,
                          uint32_t usage, gfx::Format format, gfx::Pool pool, gfx::TexturePtr* out) {
    if (!device || !out || mipLevels > 1) return gfx::kInvalidCall;
    gfx::Result r = checkLimits(device, width, height);
    if (gfx::failed(r)) return r;
    if (format == gfx::Format::Unknown) format = gfx::Format::A8R8G8B8;
    return device->createTexture(width, height, 1, usage, format, pool, out);
}

gfx::Result createTextureFromFile(gfx::Device* device, const std::string& path, uint32_t width,
                                  uint32_t height, uint32_t mipLevels, uint32_t usage,
                                  gfx::Format format, gfx::Pool pool, uint32_t colourKey,
                                  ImageInfo* srcInfo, gfx::TexturePtr* out) {
    if (!device || !out) return gfx::kInvalidCall;
    ImageInfo info;
    gfx::Result r = getImageInfoFromFile(path, &info);
    if (gfx::failed(r)) return r;
    if ((width != 0 && width != info.width) || (height != 0 && height != info.height)) return gfx::kInvalidCall;
    // Refused by its size alone, before any pixel is allocated.
    gfx::TexturePtr texture;
    r = createTexture(device, info.width, info.height, mipLevels, usage, format, pool, &texture);
    if (gfx::failed(r)) return r;

    Bitmap bitmap;
    r = decodeImageFile(path, &bitmap, &info);
    if (gfx::failed(r)) return r;

    gfx::SurfaceDesc desc;
    if (gfx::failed(r = texture->getLevelDesc(0, &desc))) return r;
    gfx::LockedRect locked;
    if (gfx::failed(r = texture->lockRect(0, &locked, nullptr, 0))) return r;
    // A card limited to powers of two gives a larger texture; the rest stays clear.
    const uint32_t copyWidth = std::min(desc.width, bitmap.width);
    const uint32_t copyHeight = std::min(desc.height, bitmap.height);
    for (uint32_t y = 0; y < desc.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.bits) + size_t(locked.pitch) * y);
        uint32_t x = 0;
        if (y < copyHeight) {
            const uint32_t* src = &bitmap.pixels[size_t(y) * bitmap.width];
            for (; x < copyWidth; ++x) row[x] = colourKey != 0 && src[x] == colourKey ? 0u : src[x];
        }
        for (; x < desc.width; ++x) row[x] = 0;
    }
    texture->unlockRect(0);
    if (srcInfo) *srcInfo = info;
    *out = std::move(texture);
    return gfx::kOk;
}

}  // namespace gx::image
