// Bitmap writers: stb_image_write where it covers the type, our own for the rest.
#include "platform/image/image_write.h"

#include <squish.h>
#include <stb_image_write.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace gx::image {
namespace {

std::vector<uint8_t> toBytes(const Bitmap& b, int channels) {
    std::vector<uint8_t> out(b.pixels.size() * size_t(channels));
    for (size_t i = 0; i < b.pixels.size(); ++i) {
        uint32_t p = b.pixels[i];
        uint8_t* o = &out[i * size_t(channels)];
        o[0] = uint8_t(p >> 16);
        o[1] = uint8_t(p >> 8);
        o[2] = uint8_t(p);
        if (channels == 4) o[3] = uint8_t(p >> 24);
    }
    return out;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    f.close();
    return bool(f);
}

void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

bool valid(const Bitmap& b) {
    return b.width > 0 && b.height > 0 && b.pixels.size() == size_t(b.width) * b.height;
}

}  // namespace

bool writePng(const std::string& path, const Bitmap& b) {
    if (!valid(b)) return false;
    auto bytes = toBytes(b, 4);
    return stbi_write_png(path.c_str(), int(b.width), int(b.height), 4, bytes.data(),
                          int(b.width) * 4) != 0;
}

bool writeFramePng(const std::string& path, const uint32_t* pixels, uint32_t width, uint32_t height,
                   size_t pitch) {
    if (!pixels || width == 0 || height == 0 || pitch < width || width > 0x7FFFFFFFu / 3 ||
        height > 0x7FFFFFFFu)
        return false;
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto putBig32 = [&](uint32_t x) {
        for (int i = 3; i >= 0; --i) file.push_back(uint8_t(x >> (8 * i)));
    };
    auto chunk = [&](const char* type, const uint8_t* data, size_t size) {
        putBig32(uint32_t(size));
        const size_t start = file.size();
        file.insert(file.end(), type, type + 4);
        file.insert(file.end(), data, data + size);
        putBig32(uint32_t(crc32(0L, file.data() + start, uInt(file.size() - start))));
    };
    // Width, height, 8 bits, colour type 2 (RGB), deflate, adaptive filters, no interlace.
    uint8_t header[13] = {uint8_t(width >> 24),
                          uint8_t(width >> 16),
                          uint8_t(width >> 8),
                          uint8_t(width),
                          uint8_t(height >> 24),
                          uint8_t(height >> 16),
                          uint8_t(height >> 8),
                          uint8_t(height),
                          8,
                          2,
                          0,
                          0,
                          0};
    chunk("IHDR", header, sizeof header);

    z_stream z{};
    if (deflateInit(&z, Z_BEST_SPEED) != Z_OK) return false;
    std::vector<uint8_t> row(size_t(width) * 3 + 1);  // filter 0 (none), then R, G, B
    std::vector<uint8_t> out(deflateBound(&z, uLong(row.size()) * height));
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    bool ok = true;
    for (uint32_t y = 0; y < height && ok; ++y) {
        const uint32_t* p = pixels + size_t(y) * pitch;
        uint8_t* o = row.data() + 1;
        for (uint32_t x = 0; x < width; ++x, o += 3) {
            o[0] = uint8_t(p[x] >> 16);
            o[1] = uint8_t(p[x] >> 8);
            o[2] = uint8_t(p[x]);
        }
        z.next_in = row.data();
        z.avail_in = uInt(row.size());
        const bool last = y + 1 == height;
        const int r = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        ok = (last ? r == Z_STREAM_END : r == Z_OK) && z.avail_in == 0;
    }
    const size_t packed = out.size() - z.avail_out;
    deflateEnd(&z);
    if (!ok) return false;
    chunk("IDAT", out.data(), packed);
    chunk("IEND", nullptr, 0);
    return writeFile(path, file);
}

bool writeBmp(const std::string& path, const Bitmap& b, bool withAlpha) {
    if (!valid(b)) return false;
    int channels = withAlpha ? 4 : 3;
    auto bytes = toBytes(b, channels);
    return stbi_write_bmp(path.c_str(), int(b.width), int(b.height), channels, bytes.data()) != 0;
}

bool writeTga(const std::string& path, const Bitmap& b, bool withAlpha) {
    if (!valid(b)) return false;
    int channels = withAlpha ? 4 : 3;
    auto bytes = toBytes(b, channels);
    return stbi_write_tga(path.c_str(), int(b.width), int(b.height), channels, bytes.data()) != 0;
}

bool writeJpg(const std::string& path, const Bitmap& b, int quality) {
    if (!valid(b)) return false;
    auto bytes = toBytes(b, 3);
    return stbi_write_jpg(path.c_str(), int(b.width), int(b.height), 3, bytes.data(), quality) != 0;
}

bool writeHdr(const std::string& path, const Bitmap& b) {
    if (!valid(b)) return false;
    std::vector<float> data(b.pixels.size() * 3);
    for (size_t i = 0; i < b.pixels.size(); ++i) {
        uint32_t p = b.pixels[i];
        data[i * 3 + 0] = float((p >> 16) & 0xFF) / 255.0f;
        data[i * 3 + 1] = float((p >> 8) & 0xFF) / 255.0f;
        data[i * 3 + 2] = float(p & 0xFF) / 255.0f;
    }
    return stbi_write_hdr(path.c_str(), int(b.width), int(b.height), 3, data.data()) != 0;
}

bool writePpm(const std::string& path, const Bitmap& b) {
    if (!valid(b)) return false;
    std::string header =
        "P6\n" + std::to_string(b.width) + " " + std::to_string(b.height) + "\n255\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    auto bytes = toBytes(b, 3);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return writeFile(path, out);
}

bool writePfm(const std::string& path, const Bitmap& b, bool grey, bool littleEndian) {
    if (!valid(b)) return false;
    std::string header = std::string(grey ? "Pf" : "PF") + "\n" + std::to_string(b.width) + " " +
                         std::to_string(b.height) + "\n" + (littleEndian ? "-1.0" : "1.0") + "\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    auto putFloat = [&](float f) {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> (littleEndian ? 8 * i : 24 - 8 * i)));
    };
    for (uint32_t row = 0; row < b.height; ++row) {
        uint32_t y = b.height - 1 - row;  // bottom row first
        for (uint32_t x = 0; x < b.width; ++x) {
            uint32_t p = b.at(x, y);
            if (grey) {
                putFloat(float((p >> 16) & 0xFF) / 255.0f);
            } else {
                putFloat(float((p >> 16) & 0xFF) / 255.0f);
                putFloat(float((p >> 8) & 0xFF) / 255.0f);
                putFloat(float(p & 0xFF) / 255.0f);
            }
        }
    }
    return writeFile(path, out);
}

bool writeDds(const std::string& path, const Bitmap& b, DdsEncoding encoding) {
    if (!valid(b)) return false;
    const bool compressed = encoding == DdsEncoding::Bc1 || encoding == DdsEncoding::Bc2 ||
                            encoding == DdsEncoding::Bc3;
    int squishFlags = encoding == DdsEncoding::Bc1   ? squish::kDxt1
                      : encoding == DdsEncoding::Bc2 ? squish::kDxt3
                                                     : squish::kDxt5;
    std::vector<uint8_t> payload;
    uint32_t pitchOrSize = 0;
    if (compressed) {
        auto rgba = toBytes(b, 4);
        payload.resize(
            size_t(squish::GetStorageRequirements(int(b.width), int(b.height), squishFlags)));
        squish::CompressImage(rgba.data(), int(b.width), int(b.height), payload.data(),
                              squishFlags | squish::kColourIterativeClusterFit);
        pitchOrSize = uint32_t(payload.size());
    } else {
        int channels = encoding == DdsEncoding::Rgb24 ? 3 : 4;
        pitchOrSize = b.width * uint32_t(channels);
        payload.reserve(size_t(pitchOrSize) * b.height);
        for (uint32_t p : b.pixels) {
            payload.push_back(uint8_t(p));  // blue, green, red(, alpha): little-endian masks
            payload.push_back(uint8_t(p >> 8));
            payload.push_back(uint8_t(p >> 16));
            if (channels == 4) payload.push_back(uint8_t(p >> 24));
        }
    }
    std::vector<uint8_t> out = {'D', 'D', 'S', ' '};
    put32(out, 124);
    put32(out, 0x1 | 0x2 | 0x4 | 0x1000 | (compressed ? 0x80000 : 0x8));
    put32(out, b.height);
    put32(out, b.width);
    put32(out, pitchOrSize);
    put32(out, 0);  // depth
    put32(out, 1);  // mip levels
    for (int i = 0; i < 11; ++i) put32(out, 0);
    put32(out, 32);
    if (compressed) {
        put32(out, 0x4);
        const char* cc = encoding == DdsEncoding::Bc1   ? "DXT1"
                         : encoding == DdsEncoding::Bc2 ? "DXT3"
                                                        : "DXT5";
        out.insert(out.end(), cc, cc + 4);
        for (int i = 0; i < 5; ++i) put32(out, 0);
    } else {
        bool alpha = encoding == DdsEncoding::Argb32;
        put32(out, 0x40 | (alpha ? 0x1 : 0));
        put32(out, 0);
        put32(out, alpha ? 32 : 24);
        put32(out, 0x00FF0000);
        put32(out, 0x0000FF00);
        put32(out, 0x000000FF);
        put32(out, alpha ? 0xFF000000 : 0);
    }
    put32(out, 0x1000);  // caps: texture
    for (int i = 0; i < 4; ++i) put32(out, 0);
    out.insert(out.end(), payload.begin(), payload.end());
    return writeFile(path, out);
}

bool addJpegOrientation(const std::string& path, int orientation) {
    std::vector<uint8_t> jpeg;
    {
        std::ifstream in(path, std::ios::binary);
        jpeg.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    // Little-endian TIFF block holding one IFD with the orientation entry.
    std::vector<uint8_t> tiff = {'I',
                                 'I',
                                 42,
                                 0,
                                 8,
                                 0,
                                 0,
                                 0,
                                 1,
                                 0,  // one entry
                                 0x12,
                                 0x01,
                                 3,
                                 0,
                                 1,
                                 0,
                                 0,
                                 0,  // tag 0x0112, SHORT, count 1
                                 uint8_t(orientation),
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0};  // no next IFD
    std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    size_t length = app1.size() - 2;
    app1[2] = uint8_t(length >> 8);
    app1[3] = uint8_t(length);
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return writeFile(path, jpeg);
}

}  // namespace gx::image
