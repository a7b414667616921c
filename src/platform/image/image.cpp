// Picture files to bitmaps and textures. The first bytes pick the decoder (the name
// only tells BMP from DIB); the description is read from the open file, the pixels
// from the whole file in memory, both through the same format code.
#include "platform/image/image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "platform/image/formats.h"

namespace gx::image {

static_assert(std::endian::native == std::endian::little,
              "decoders write BGRA bytes as 0xAARRGGBB");

bool allocateBitmap(Bitmap* out, uint32_t width, uint32_t height) {
    if (!sizeAcceptable(width, height) || uint64_t(width) * height > kMaxPixels) return false;
    const size_t count = size_t(width) * height;
    if (out->pixels.capacity() < count) {
        out->pixels = {};
        out->pixels.reserve(count);
        // The pages made in one call: a fault for each of them would cost as much as
        // decoding a camera's picture. Where the kernel cannot, the faults come as usual.
        constexpr uintptr_t kPage = 4096;
        const auto begin =
            (reinterpret_cast<uintptr_t>(out->pixels.data()) + kPage - 1) & ~(kPage - 1);
        const auto end = (reinterpret_cast<uintptr_t>(out->pixels.data() + count)) & ~(kPage - 1);
        if (end > begin + (kPage << 8))
            madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
    }
    out->width = width;
    out->height = height;
    out->pixels.assign(count, 0);
    return true;
}

namespace {

struct Codec {
    FileFormat format;
    InfoReader info;
    Decoder decode;
};

bool endsWithDib(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".dib";
}

bool isSpace(uint8_t c) { return c == '\n' || c == '\r' || c == ' ' || c == '\t'; }

// An ISO base media file: "ftyp" at 4, then brands. AVIF when an AV1 brand is among
// them, HEIF for the HEVC and generic image brands; anything else is not ours.
bool isobmffKind(const uint8_t* h, size_t n, FileFormat* format) {
    if (n < 16 || std::memcmp(h + 4, "ftyp", 4) != 0) return false;
    const size_t end = std::min<size_t>(n, be32(h));
    bool heif = false;
    for (size_t at = 8; at + 4 <= end; at += 4) {
        if (at == 12) continue;  // the minor version
        const char* b = reinterpret_cast<const char*>(h + at);
        if (std::memcmp(b, "avif", 4) == 0 || std::memcmp(b, "avis", 4) == 0) {
            *format = FileFormat::Avif;
            return true;
        }
        for (const char* brand :
             {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1"})
            heif |= std::memcmp(b, brand, 4) == 0;
    }
    if (heif) *format = FileFormat::Heif;
    return heif;
}

// Decides the codec by the first bytes; false for files that are not ours.
bool sniff(const uint8_t* h, size_t n, const std::string& path, Codec* codec) {
    auto starts = [&](const char* magic, size_t k) {
        return n >= k && std::memcmp(h, magic, k) == 0;
    };
    FileFormat isobmff;
    if (starts("\xFF\xD8\xFF", 3)) {
        *codec = {FileFormat::Jpg, readJpegInfo, decodeJpeg};
    } else if (starts("\x89PNG\r\n\x1a\n", 8)) {
        *codec = {FileFormat::Png, readPngInfo, decodePng};
    } else if (starts("BM", 2)) {
        *codec = {endsWithDib(path) ? FileFormat::Dib : FileFormat::Bmp, readBmpInfo, decodeBmp};
    } else if (starts("DDS ", 4)) {
        *codec = {FileFormat::Dds, readDdsInfo, decodeDds};
    } else if (n >= 3 && h[0] == 'P' && (h[1] == 'F' || h[1] == 'f') && isSpace(h[2])) {
        *codec = {FileFormat::Pfm, readPfmInfo, decodePfm};
    } else if (n >= 3 && h[0] == 'P' && h[1] >= '1' && h[1] <= '6' && isSpace(h[2])) {
        *codec = {FileFormat::Ppm, readPnmInfo, decodePnm};
    } else if (starts("#?", 2)) {
        *codec = {FileFormat::Hdr, readHdrInfo, decodeHdr};
    } else if (starts("GIF87a", 6) || starts("GIF89a", 6)) {
        *codec = {FileFormat::Gif, readGifInfo, decodeGif};
    } else if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) ||
               starts("MM\0+", 4)) {
        *codec = {FileFormat::Tiff, readTiffInfo, decodeTiff};
    } else if (n >= 12 && starts("RIFF", 4) && std::memcmp(h + 8, "WEBP", 4) == 0) {
        *codec = {FileFormat::Webp, readWebpInfo, decodeWebp};
    } else if (isobmffKind(h, n, &isobmff)) {
        *codec = {isobmff, readHeifInfo, decodeHeif};
    } else if (starts("\xFF\x0A", 2) || starts("\0\0\0\x0CJXL \r\n\x87\n", 12)) {
        *codec = {FileFormat::Jxl, readJxlInfo, decodeJxl};
    } else {
        // Targa has no signature; its reader's test of the header decides.
        *codec = {FileFormat::Tga, readTgaInfo, decodeTga};
    }
    return true;
}

struct OpenFile {
    int fd = -1;
    ~OpenFile() {
        if (fd >= 0) close(fd);
    }
};

// Opens the file (never waiting on a pipe that took a picture's name), picks its
// codec and reads its description.
gfx::Result readInfo(const std::string& path, OpenFile* file, Bytes* bytes, Codec* codec,
                     ImageInfo* info) {
    file->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (file->fd < 0 || fstat(file->fd, &st) != 0 || !S_ISREG(st.st_mode)) return kInvalidData;
    *bytes = Bytes{nullptr, file->fd, uint64_t(st.st_size)};
    uint8_t head[64];
    const size_t n = size_t(std::min<uint64_t>(sizeof head, bytes->size));
    if (!bytes->read(0, head, n) || !sniff(head, n, path, codec)) return kInvalidData;
    ImageInfo result;
    if (!codec->info(*bytes, &result)) return kInvalidData;
    result.fileFormat = codec->format;
    *info = result;
    return gfx::kOk;
}

}  // namespace

gfx::Result getImageInfoFromFile(const std::string& path, ImageInfo* info) {
    if (!info) return gfx::kInvalidCall;
    try {
        OpenFile file;
        Bytes bytes;
        Codec codec;
        return readInfo(path, &file, &bytes, &codec, info);
    } catch (const std::bad_alloc&) {
        return gfx::kOutOfMemory;
    }
}

gfx::Result decodeImageFile(const std::string& path, Bitmap* out, ImageInfo* infoOut) {
    if (!out) return gfx::kInvalidCall;
    try {
        OpenFile file;
        Bytes bytes;
        Codec codec;
        ImageInfo info;
        gfx::Result r = readInfo(path, &file, &bytes, &codec, &info);
        if (gfx::failed(r)) return r;
        // Refused by its size alone, before a byte of pixels is allocated.
        if (uint64_t(info.width) * info.height > kMaxPixels) return gfx::kInvalidCall;
        if (bytes.size > SIZE_MAX / 2) return kInvalidData;
        std::vector<uint8_t> data(size_t(bytes.size));
        if (!bytes.read(0, data.data(), data.size())) return kInvalidData;
        const Bytes whole{data.data(), -1, data.size()};
        // The caller's pixel storage is reused: fresh pages for a camera's picture cost
        // as much as decoding it.
        Bitmap bitmap;
        bitmap.pixels.swap(out->pixels);
        const bool decoded = codec.decode(whole, &bitmap);
        // The description promised this size; a decoder that disagrees read something else.
        if (!decoded || bitmap.width != info.width || bitmap.height != info.height ||
            bitmap.pixels.size() != size_t(bitmap.width) * bitmap.height) {
            out->width = out->height = 0;
            out->pixels.swap(bitmap.pixels);
            out->pixels.clear();
            return kInvalidData;
        }
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
                          uint32_t usage, gfx::Format format, gfx::Pool pool,
                          gfx::TexturePtr* out) {
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
    if ((width != 0 && width != info.width) || (height != 0 && height != info.height))
        return gfx::kInvalidCall;
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
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.bits) +
                                                size_t(locked.pitch) * y);
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
