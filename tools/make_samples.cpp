// Draws the bundled sample pictures: a handful of colourful scenes of different sizes
// and shapes, saved in several of the picture types the saver reads.
// Usage: make_samples [output folder]   (default: data/samples)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/image/image.h"
#include "platform/image/image_write.h"
#include "platform/os/paths.h"

using gx::image::Bitmap;

namespace {

struct Colour {
    float r, g, b;
};

Colour hsv(float h, float s, float v) {
    h = std::fmod(h, 1.0f);
    if (h < 0) h += 1.0f;
    float i = std::floor(h * 6.0f), f = h * 6.0f - i;
    float p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (int(i) % 6) {
    case 0: return {v, t, p};
    case 1: return {q, v, p};
    case 2: return {p, v, t};
    case 3: return {p, q, v};
    case 4: return {t, p, v};
    default: return {v, p, q};
    }
}

Colour mix(Colour a, Colour b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

uint32_t pack(Colour c) {
    auto ch = [](float v) { return uint32_t(std::fmin(std::fmax(v, 0.0f), 1.0f) * 255.0f + 0.5f); };
    return 0xFF000000u | ch(c.r) << 16 | ch(c.g) << 8 | ch(c.b);
}

Bitmap draw(uint32_t w, uint32_t h, const std::function<Colour(float x, float y)>& shade) {
    Bitmap b;
    b.width = w;
    b.height = h;
    b.pixels.resize(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) b.at(x, y) = pack(shade(float(x), float(y)));
    return b;
}

// A small fixed generator, so the samples come out the same on every machine.
struct Lcg {
    uint32_t s;
    float next() {
        s = s * 1664525u + 1013904223u;
        return float(s >> 8) / 16777216.0f;
    }
};

// Coloured gas clouds and stars on a near-black sky.
Bitmap nebula() {
    struct Cloud {
        float x, y, r;
        Colour c;
    };
    Lcg rng{7};
    Cloud clouds[9];
    for (auto& c : clouds) {
        c = {rng.next() * 640, 80 + rng.next() * 240, 30 + rng.next() * 70,
             hsv(rng.next(), 0.8f, 1.0f)};
    }
    Bitmap b = draw(640, 400, [&](float x, float y) {
        Colour out{0.01f, 0.01f, 0.02f};
        for (const auto& c : clouds) {
            float d2 = ((x - c.x) * (x - c.x) + (y - c.y) * (y - c.y)) / (c.r * c.r);
            float k = std::exp(-d2 * 2.0f) * 0.9f;
            out = {out.r + c.c.r * k, out.g + c.c.g * k, out.b + c.c.b * k};
        }
        return out;
    });
    for (int i = 0; i < 260; ++i) {
        uint32_t x = uint32_t(rng.next() * 639), y = uint32_t(rng.next() * 399);
        b.at(x, y) = pack(hsv(rng.next(), 0.2f, 0.8f + 0.2f * rng.next()));
    }
    return b;
}

// Evening sky over dark hills, mirrored in a lake.
Bitmap sunset() {
    const float w = 480, horizon = 170;
    auto above = [&](float x, float y) {
        float hill = horizon - 30 - 25 * std::sin(x / 53.0f) - 12 * std::sin(x / 17.0f + 1.0f);
        if (y > hill) return Colour{0.03f, 0.02f, 0.05f};
        Colour sky = mix({0.35f, 0.1f, 0.5f}, {1.0f, 0.55f, 0.15f}, y / horizon);
        float d = std::hypot(x - w * 0.62f, y - 120);
        if (d < 34) return Colour{1.0f, 0.92f, 0.55f};
        float glow = std::exp(-(d - 34) / 40.0f) * 0.5f;
        return Colour{sky.r + glow, sky.g + glow * 0.7f, sky.b + glow * 0.2f};
    };
    return draw(480, 270, [&](float x, float y) {
        if (y <= horizon) return above(x, y);
        Colour c = above(x + 4 * std::sin(y * 0.9f), 2 * horizon - y);
        return Colour{c.r * 0.55f, c.g * 0.55f, c.b * 0.65f};
    });
}

// A striped lighthouse against a blue sky, portrait.
Bitmap lighthouse() {
    return draw(200, 320, [](float x, float y) {
        Colour sky = mix({0.2f, 0.45f, 0.9f}, {0.7f, 0.85f, 1.0f}, y / 320.0f);
        if (y > 280)
            return mix(Colour{0.9f, 0.8f, 0.5f}, Colour{0.6f, 0.5f, 0.3f}, (y - 280) / 40.0f);
        float half = 18 + (y - 60) * 0.06f;
        if (y > 60 && std::fabs(x - 100) < half) {
            int band = int((y - 60) / 28);
            return band % 2 ? Colour{0.95f, 0.95f, 0.95f} : Colour{0.85f, 0.1f, 0.12f};
        }
        if (y > 30 && y <= 60 && std::fabs(x - 100) < 14) return Colour{1.0f, 0.95f, 0.4f};
        float beam = std::fabs(y - 45 - (x - 100) * 0.15f);
        if (beam < 6 && x > 114) return mix(Colour{1.0f, 0.95f, 0.5f}, sky, (x - 114) / 90.0f);
        return sky;
    });
}

// Rainbow rings on black, square.
Bitmap rings() {
    return draw(256, 256, [](float x, float y) {
        float d = std::hypot(x - 128, y - 128);
        float ring = std::fmod(d, 22.0f);
        if (d > 120 || ring > 14) return Colour{0, 0, 0};
        return hsv(d / 120.0f + std::atan2(y - 128, x - 128) / 12.0f, 0.85f, 1.0f);
    });
}

// Coloured tiles with dark grout, square.
Bitmap tiles() {
    return draw(180, 180, [](float x, float y) {
        int tx = int(x) / 20, ty = int(y) / 20;
        if (int(x) % 20 < 2 || int(y) % 20 < 2) return Colour{0.08f, 0.08f, 0.1f};
        float shade = 0.75f + 0.25f * (1 - (std::fmod(x, 20.0f) + std::fmod(y, 20.0f)) / 40.0f);
        return hsv(float(tx * 3 + ty * 5) / 27.0f, 0.7f, shade);
    });
}

// Flowers on a meadow, portrait.
Bitmap flowers() {
    struct Flower {
        float x, y, r;
        Colour c;
    };
    Lcg rng{11};
    Flower fs[14];
    for (auto& f : fs)
        f = {10 + rng.next() * 140, 10 + rng.next() * 220, 8 + rng.next() * 10,
             hsv(rng.next(), 0.75f, 1.0f)};
    return draw(160, 240, [&](float x, float y) {
        Colour c = mix({0.25f, 0.6f, 0.2f}, {0.1f, 0.35f, 0.1f}, y / 240.0f);
        for (const auto& f : fs) {
            float dx = x - f.x, dy = y - f.y, d = std::hypot(dx, dy);
            float petal = f.r * (0.65f + 0.35f * std::cos(5 * std::atan2(dy, dx)));
            if (d < f.r * 0.3f) c = {1.0f, 0.85f, 0.2f};
            else if (d < petal) c = f.c;
        }
        return c;
    });
}

// A glowing aurora over a dark horizon, saved as a floating-point picture.
Bitmap aurora() {
    return draw(240, 120, [](float x, float y) {
        float curtain = 40 + 18 * std::sin(x / 23.0f) + 6 * std::sin(x / 7.0f);
        float k = std::exp(-std::fabs(y - curtain) / 14.0f);
        if (y > 100) return Colour{0.02f, 0.02f, 0.03f};
        return Colour{0.05f + 0.3f * k * (x / 240.0f), 0.05f + 0.9f * k, 0.1f + 0.5f * k};
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : "data/samples";
    if (!gx::makeFolders(folder)) {
        std::fprintf(stderr, "make_samples: cannot create %s\n", folder.c_str());
        return 1;
    }
    auto at = [&](const char* name) { return gx::joinPath(folder, name); };
    bool ok = true;
    ok &= gx::image::writeJpg(at("nebula.jpg"), nebula(), 88);
    ok &= gx::image::writePng(at("sunset.png"), sunset());
    ok &= gx::image::writeTga(at("lighthouse.tga"), lighthouse());
    ok &= gx::image::writeDds(at("rings.dds"), rings(), gx::image::DdsEncoding::Bc1);
    ok &= gx::image::writeBmp(at("tiles.bmp"), tiles());
    ok &= gx::image::writePpm(at("flowers.ppm"), flowers());
    ok &= gx::image::writeHdr(at("aurora.hdr"), aurora());
    if (!ok) {
        std::fprintf(stderr, "make_samples: writing into %s failed\n", folder.c_str());
        return 1;
    }
    std::printf("samples written to %s\n", folder.c_str());
    return 0;
}
