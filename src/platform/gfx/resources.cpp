// Lock rules follow Direct3D 9: one lock at a time per surface, default-pool render
// targets and default-pool textures are not lockable, vertex buffers may be locked
// several times over as long as every lock is undone.

#include "platform/gfx/resources.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace gx::gfx {

PixelBuffer::~PixelBuffer() { std::free(data_); }

bool PixelBuffer::allocate(uint32_t width, uint32_t height) {
    std::free(data_);
    data_ = nullptr;
    size_t bytes = size_t(width) * height * 4;
    size_t rounded = (bytes + 63) / 64 * 64;
    if (rounded == 0) rounded = 64;
    void* p = std::aligned_alloc(64, rounded);
    if (!p) return false;
    std::memset(p, 0, rounded);
    data_ = static_cast<uint32_t*>(p);
    return true;
}

void Bounds::add(int ax0, int ay0, int ax1, int ay1) {
    if (ax0 >= ax1 || ay0 >= ay1) return;
    if (empty()) {
        *this = {ax0, ay0, ax1, ay1};
        return;
    }
    x0 = std::min(x0, ax0);
    y0 = std::min(y0, ay0);
    x1 = std::max(x1, ax1);
    y1 = std::max(y1, ay1);
}

Storage::~Storage() {
    if (defaultPoolCount) defaultPoolCount->fetch_sub(1);
}

bool Storage::lockable() const {
    // The card keeps default-pool textures and render targets to itself; a default-pool
    // plain surface may be locked.
    if (desc.pool != Pool::Default) return true;
    return !isRenderTarget() && !textureLevel;
}

uint32_t Storage::faultKinds() const {
    uint32_t kinds = textureLevel ? faultKind(FaultResource::Texture) : faultKind(FaultResource::Surface);
    if (isRenderTarget()) kinds |= faultKind(FaultResource::RenderTarget);
    return kinds;
}

std::shared_ptr<Storage> makeStorage(const SurfaceDesc& desc, bool textureLevel,
                                     std::shared_ptr<FaultInjector> faults,
                                     std::shared_ptr<std::atomic<int>> defaultPoolCount) {
    std::shared_ptr<Storage> s(new (std::nothrow) Storage);
    if (!s) return nullptr;
    s->desc = desc;
    s->textureLevel = textureLevel;
    s->faults = std::move(faults);
    if (!s->pixels.allocate(desc.width, desc.height)) return nullptr;
    if (desc.format == Format::X8R8G8B8) {
        // Unused alpha reads 0xFF; keep it so in memory.
        std::fill_n(s->pixels.data(), size_t(desc.width) * desc.height, 0xFF000000u);
    }
    if (defaultPoolCount) {
        defaultPoolCount->fetch_add(1);
        s->defaultPoolCount = std::move(defaultPoolCount);
    }
    return s;
}

void fillRect(Storage& s, const Bounds& r, uint32_t colour) {
    if (s.opaqueAlpha()) colour |= 0xFF000000u;
    int x0 = std::max(r.x0, 0), y0 = std::max(r.y0, 0);
    int x1 = std::min(r.x1, int(s.width())), y1 = std::min(r.y1, int(s.height()));
    if (x0 >= x1 || y0 >= y1) return;
    uint32_t* base = s.pixels.data();
    for (int y = y0; y < y1; ++y) std::fill(base + size_t(y) * s.width() + x0, base + size_t(y) * s.width() + x1, colour);
}

Result SurfaceImpl::getDesc(SurfaceDesc* desc) const {
    if (!desc) return kInvalidCall;
    *desc = storage_->desc;
    return kOk;
}

Result SurfaceImpl::lockRect(LockedRect* locked, const Rect* rect, uint32_t flags) {
    Storage& s = *storage_;
    if (!locked || !s.lockable() || s.locked) return kInvalidCall;
    int x0 = 0, y0 = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
            uint32_t(rect->right) > s.width() || uint32_t(rect->bottom) > s.height())
            return kInvalidCall;
        x0 = rect->left;
        y0 = rect->top;
    }
    if (s.faults && s.faults->hit(FaultOp::Lock, s.faultKinds())) return kInvalidCall;
    s.locked = true;
    if (!(flags & kLockReadOnly)) s.knownFill = false;
    locked->pitch = int32_t(s.width() * 4);
    locked->bits = s.pixels.data() + size_t(y0) * s.width() + x0;
    return kOk;
}

Result SurfaceImpl::unlockRect() {
    if (!storage_->locked) return kInvalidCall;
    storage_->locked = false;
    return kOk;
}

Result TextureImpl::getLevelDesc(uint32_t level, SurfaceDesc* desc) const {
    if (level != 0) return kInvalidCall;
    return level0_->getDesc(desc);
}

Result TextureImpl::getSurfaceLevel(uint32_t level, std::shared_ptr<Surface>* out) {
    if (level != 0 || !out) return kInvalidCall;
    *out = level0_;
    return kOk;
}

Result TextureImpl::lockRect(uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) {
    if (level != 0) return kInvalidCall;
    return level0_->lockRect(locked, rect, flags);
}

Result TextureImpl::unlockRect(uint32_t level) {
    if (level != 0) return kInvalidCall;
    return level0_->unlockRect();
}

VertexBufferImpl::~VertexBufferImpl() {
    if (defaultPoolCount) defaultPoolCount->fetch_sub(1);
}

bool VertexBufferImpl::allocate(uint32_t length) {
    try {
        bytes_.assign(length, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

Result VertexBufferImpl::lock(uint32_t offset, uint32_t size, void** data, uint32_t /*flags*/) {
    if (!data) return kInvalidCall;
    uint32_t length = this->size();
    if (offset > length || size > length - offset) return kInvalidCall;
    if (faults && faults->hit(FaultOp::Lock, faultKind(FaultResource::VertexBuffer))) return kInvalidCall;
    ++lockCount_;
    *data = bytes_.data() + offset;
    return kOk;
}

Result VertexBufferImpl::unlock() {
    if (lockCount_ == 0) return kInvalidCall;
    --lockCount_;
    return kOk;
}

}  // namespace gx::gfx
