// Textures, surfaces and vertex buffers of the software device. A resource owns its
// memory and knows nothing of the device: what it shares with the device is the fault
// injector and, for the default pool, the counter that lets reset refuse while such
// resources live.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gfx/faults.h"
#include "platform/gfx/gfx.h"

namespace gx::gfx {

// Pixels in packed rows (pitch = width * 4), 64-byte aligned, zero at start.
class PixelBuffer {
public:
    PixelBuffer() = default;
    ~PixelBuffer();
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;
    // False when the memory cannot be had.
    bool allocate(uint32_t width, uint32_t height);
    uint32_t* data() const { return data_; }
    // Uses memory someone else owns (and frees) from now on.
    void share(uint32_t* memory);
    bool shared() const { return shared_; }

private:
    uint32_t* data_ = nullptr;
    bool shared_ = false;
};

struct Bounds {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open
    bool empty() const { return x0 >= x1 || y0 >= y1; }
    void add(int ax0, int ay0, int ax1, int ay1);
};

// A render target cleared to one colour and drawn on since. A clear costs nothing:
// each row is cut into at most 64 tiles, and a tile holds real pixels only once
// something was drawn into it; the others read the colour. Drawing makes the tiles
// it reaches real (filling them with the colour first); every path that reads the
// memory as a whole goes through materialise() or the tile-aware copies.
struct LazyFill {
    bool active = false;
    uint32_t colour = 0;
    int width = 0;
    int tileShift = 4;           // tiles of 1 << tileShift pixels
    std::vector<uint64_t> rows;  // per row, bit k set: tile k holds real pixels

    int tileEnd(int k) const { return std::min(width, (k + 1) << tileShift); }
    // The tiles that pixels [a, b) reach (a < b).
    uint64_t tilesOf(int a, int b) const {
        int k0 = a >> tileShift, k1 = (b - 1) >> tileShift;
        uint64_t hi = k1 >= 63 ? ~uint64_t(0) : (uint64_t(2) << k1) - 1;
        return hi & ~((uint64_t(1) << k0) - 1);
    }
    bool isReal(int y, int x) const { return (rows[size_t(y)] >> (x >> tileShift)) & 1; }
    // Calls f(a, b, real) for the maximal runs of [a, b) on row y that are all real or
    // all cleared.
    template <class F>
    void forRuns(int y, int a, int b, F&& f) const {
        const uint64_t m = rows[size_t(y)];
        while (a < b) {
            int k = a >> tileShift;
            bool real = (m >> k) & 1;
            uint64_t differs = (real ? ~m : m) >> k;
            int e = differs ? std::min(b, (k + __builtin_ctzll(differs)) << tileShift) : b;
            f(a, e, real);
            a = e;
        }
    }
};

// The memory and state behind a surface, whether plain, a texture level or a back buffer.
struct Storage {
    ~Storage();

    SurfaceDesc desc;
    bool textureLevel = false;
    PixelBuffer pixels;
    bool locked = false;
    std::shared_ptr<std::atomic<int>> defaultPoolCount;  // set for counted default-pool resources
    std::shared_ptr<FaultInjector> faults;

    // A clear is only recorded; see LazyFill.
    LazyFill lazy;

    uint32_t width() const { return desc.width; }
    uint32_t height() const { return desc.height; }
    bool opaqueAlpha() const { return desc.format == Format::X8R8G8B8; }
    bool isRenderTarget() const { return (desc.usage & kUsageRenderTarget) != 0; }
    bool lockable() const;
    uint32_t faultKinds() const;
};

class SurfaceImpl final : public Surface {
public:
    explicit SurfaceImpl(std::shared_ptr<Storage> storage) : storage_(std::move(storage)) {}
    Result getDesc(SurfaceDesc* desc) const override;
    Result lockRect(LockedRect* locked, const Rect* rect, uint32_t flags) override;
    Result unlockRect() override;
    Storage& storage() const { return *storage_; }

private:
    std::shared_ptr<Storage> storage_;
};

class TextureImpl final : public Texture {
public:
    explicit TextureImpl(std::shared_ptr<SurfaceImpl> level0) : level0_(std::move(level0)) {}
    Result getLevelDesc(uint32_t level, SurfaceDesc* desc) const override;
    Result getSurfaceLevel(uint32_t level, std::shared_ptr<Surface>* out) override;
    Result lockRect(uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) override;
    Result unlockRect(uint32_t level) override;
    Storage& storage() const { return level0_->storage(); }

private:
    std::shared_ptr<SurfaceImpl> level0_;
};

class VertexBufferImpl final : public VertexBuffer {
public:
    ~VertexBufferImpl() override;
    bool allocate(uint32_t length);
    uint32_t size() const override { return uint32_t(bytes_.size()); }
    Result lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) override;
    Result unlock() override;
    bool locked() const { return lockCount_ > 0; }
    const uint8_t* bytes() const { return bytes_.data(); }

    Pool pool = Pool::Managed;
    std::shared_ptr<std::atomic<int>> defaultPoolCount;
    std::shared_ptr<FaultInjector> faults;

private:
    std::vector<uint8_t> bytes_;
    int lockCount_ = 0;
};

// Makes a surface's storage; nullptr when the memory cannot be had.
std::shared_ptr<Storage> makeStorage(const SurfaceDesc& desc, bool textureLevel,
                                     std::shared_ptr<FaultInjector> faults,
                                     std::shared_ptr<std::atomic<int>> defaultPoolCount);

// Fills a rectangle of a storage with one colour (alpha forced for X8 formats).
void fillRect(Storage& s, const Bounds& r, uint32_t colour);

// Records a clear to colour (alpha already forced); false when the row table cannot
// be had, and the caller fills instead.
bool clearLazily(Storage& s, uint32_t colour);
// Writes the clear colour wherever a lazily cleared surface has not been drawn on.
void materialise(Storage& s);
// True for buffers too large to stay in the last-level cache until they are read
// again: writing them whole, streaming stores skip fetching the lines first.
bool streamsWrites(size_t bytes);
// Copies the pixels as they read, rows of s.width() into dst (pitch in pixels), with
// orMask set in every pixel.
void copyPixels(const Storage& s, uint32_t* dst, size_t dstPitch, uint32_t orMask);
// Copies the pixels into a window's buffer: into its frame rectangle, point-sampled
// when the sizes differ, black (with orMask) around it.
void copyToTarget(const Storage& s, const PresentTarget& t, uint32_t orMask);

}  // namespace gx::gfx
