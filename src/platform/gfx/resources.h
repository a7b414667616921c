// Textures, surfaces and vertex buffers of the software device. A resource owns its
// memory and knows nothing of the device: what it shares with the device is the fault
// injector and, for the default pool, the counter that lets reset refuse while such
// resources live.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

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

private:
    uint32_t* data_ = nullptr;
};

struct Bounds {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open
    bool empty() const { return x0 >= x1 || y0 >= y1; }
    void add(int ax0, int ay0, int ax1, int ay1);
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

    // What a clear left behind: when the whole surface is known to hold one colour
    // except inside `drawn`, the next clear of that colour only needs to redo `drawn`.
    bool knownFill = false;
    uint32_t fillColour = 0;
    Bounds drawn;

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

}  // namespace gx::gfx
