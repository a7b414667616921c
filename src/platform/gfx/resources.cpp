// Lock rules follow Direct3D 9: one lock at a time per surface, default-pool render
// targets and default-pool textures are not lockable, vertex buffers may be locked
// several times over as long as every lock is undone.

#include "platform/gfx/resources.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <unistd.h>

#include <emmintrin.h>

namespace gx::gfx {

PixelBuffer::~PixelBuffer() {
    if (!shared_) std::free(data_);
}

void PixelBuffer::share(uint32_t* memory) {
    if (!shared_) std::free(data_);
    data_ = memory;
    shared_ = true;
}

bool PixelBuffer::allocate(uint32_t width, uint32_t height) {
    if (!shared_) std::free(data_);
    data_ = nullptr;
    shared_ = false;
    size_t bytes = size_t(width) * height * 4;
    // Large buffers start on a 2 MB boundary, so the kernel may back them with large
    // pages when it has them free. Asking for them outright (MADV_HUGEPAGE) made the
    // device's creation wait on memory compaction: start-up at 4K took twice as long
    // for no measurable gain per frame.
    constexpr size_t kLargePage = size_t(2) << 20;
    size_t align = bytes >= 2 * kLargePage ? kLargePage : 64;
    size_t rounded = (bytes + align - 1) / align * align;
    if (rounded == 0) rounded = 64;
    void* p = std::aligned_alloc(align, rounded);
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
    uint32_t kinds =
        textureLevel ? faultKind(FaultResource::Texture) : faultKind(FaultResource::Surface);
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
    for (int y = y0; y < y1; ++y)
        std::fill(base + size_t(y) * s.width() + x0, base + size_t(y) * s.width() + x1, colour);
}

bool clearLazily(Storage& s, uint32_t colour) {
    LazyFill& z = s.lazy;
    size_t h = s.height();
    if (z.rows.size() != h) {
        try {
            z.rows.assign(h, 0);
        } catch (const std::bad_alloc&) {
            z = LazyFill{};
            return false;
        }
    } else {
        std::fill(z.rows.begin(), z.rows.end(), 0);
    }
    z.width = int(s.width());
    z.tileShift = 4;
    while ((z.width + (1 << z.tileShift) - 1) >> z.tileShift > 64) ++z.tileShift;
    z.active = true;
    z.colour = colour;
    return true;
}

void materialise(Storage& s) {
    if (!s.lazy.active) return;
    const LazyFill& z = s.lazy;
    const size_t w = s.width();
    for (int y = 0; y < int(s.height()); ++y) {
        uint32_t* row = s.pixels.data() + size_t(y) * w;
        z.forRuns(y, 0, int(w), [&](int a, int b, bool real) {
            if (!real) std::fill(row + a, row + b, z.colour);
        });
    }
    s.lazy.active = false;
}

bool streamsWrites(size_t bytes) {
    static const size_t threshold = [] {
        long l3 = sysconf(_SC_LEVEL3_CACHE_SIZE);
        return std::max<size_t>(size_t(16) << 20, l3 > 0 ? size_t(l3) / 2 : 0);
    }();
    return bytes > threshold;
}

namespace {
void orCopy(uint32_t* d, const uint32_t* src, size_t n, uint32_t orMask, bool stream) {
    size_t i = 0;
    if (stream && n >= 256) {
        for (; i < n && (reinterpret_cast<uintptr_t>(d + i) & 15); ++i) d[i] = src[i] | orMask;
        const __m128i m = _mm_set1_epi32(int(orMask));
        for (; i + 4 <= n; i += 4) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
            _mm_stream_si128(reinterpret_cast<__m128i*>(d + i), _mm_or_si128(v, m));
        }
        _mm_sfence();
    }
    for (; i < n; ++i) d[i] = src[i] | orMask;
}
}  // namespace

void copyPixels(const Storage& s, uint32_t* dst, size_t dstPitch, uint32_t orMask) {
    const size_t w = s.width();
    const bool stream = streamsWrites(w * s.height() * 4);
    const uint32_t* src = s.pixels.data();
    if (!s.lazy.active) {
        if (dstPitch == w) orCopy(dst, src, w * s.height(), orMask, stream);
        else
            for (size_t y = 0; y < s.height(); ++y)
                orCopy(dst + y * dstPitch, src + y * w, w, orMask, stream);
        return;
    }
    const uint32_t c = s.lazy.colour | orMask;
    for (int y = 0; y < int(s.height()); ++y) {
        uint32_t* d = dst + size_t(y) * dstPitch;
        const uint32_t* row = src + size_t(y) * w;
        s.lazy.forRuns(y, 0, int(w), [&](int a, int b, bool real) {
            if (real) orCopy(d + a, row + a, size_t(b - a), orMask, stream);
            else std::fill(d + a, d + b, c);
        });
    }
}

void copyToTarget(const Storage& s, const PresentTarget& t, uint32_t orMask) {
    if (!t.pixels || t.width == 0 || t.height == 0 || t.pitch < t.width) return;
    const int tw = int(t.width), th = int(t.height);
    const int fx0 = std::clamp(t.frame.left, 0, tw), fx1 = std::clamp(t.frame.right, fx0, tw);
    const int fy0 = std::clamp(t.frame.top, 0, th), fy1 = std::clamp(t.frame.bottom, fy0, th);
    const int fw = t.frame.right - t.frame.left, fh = t.frame.bottom - t.frame.top;
    const uint32_t black = orMask;
    auto row = [&](int y) { return t.pixels + size_t(y) * t.pitch; };
    for (int y = 0; y < fy0; ++y) std::fill_n(row(y), tw, black);
    for (int y = fy1; y < th; ++y) std::fill_n(row(y), tw, black);
    if (fx0 >= fx1 || fy0 >= fy1 || s.width() == 0 || s.height() == 0) {
        for (int y = fy0; y < fy1; ++y) std::fill_n(row(y), tw, black);
        return;
    }
    for (int y = fy0; y < fy1; ++y) {
        std::fill(row(y), row(y) + fx0, black);
        std::fill(row(y) + fx1, row(y) + tw, black);
    }
    const int sw = int(s.width()), sh = int(s.height());
    if (fw == sw && fh == sh && fx0 == t.frame.left && fy0 == t.frame.top && fx1 - fx0 == sw &&
        fy1 - fy0 == sh) {
        copyPixels(s, row(fy0) + fx0, t.pitch, orMask);
        return;
    }
    // Point sampling, as a mode switch to the smaller size would have shown it: each
    // source row is read once (its clear resolved into a scratch row) for all the
    // target rows that sample it.
    std::vector<uint32_t> columns(size_t(fx1 - fx0));
    for (int x = fx0; x < fx1; ++x)
        columns[size_t(x - fx0)] = uint32_t(int64_t(x - t.frame.left) * sw / fw);
    std::vector<uint32_t> scratch(s.lazy.active ? size_t(sw) : 0);
    int lastSource = -1;
    for (int y = fy0; y < fy1; ++y) {
        uint32_t* d = row(y) + fx0;
        const int sy = int(int64_t(y - t.frame.top) * sh / fh);
        if (sy == lastSource) {
            std::memcpy(d, row(y - 1) + fx0, columns.size() * 4);
            continue;
        }
        lastSource = sy;
        const uint32_t* src = s.pixels.data() + size_t(sy) * sw;
        if (s.lazy.active) {
            s.lazy.forRuns(sy, 0, sw, [&](int a, int b, bool real) {
                if (real) std::copy(src + a, src + b, scratch.data() + a);
                else std::fill(scratch.data() + a, scratch.data() + b, s.lazy.colour);
            });
            src = scratch.data();
        }
        for (size_t i = 0; i < columns.size(); ++i) d[i] = src[columns[i]] | orMask;
    }
}

Result SurfaceImpl::getDesc(SurfaceDesc* desc) const {
    if (!desc) return kInvalidCall;
    *desc = storage_->desc;
    return kOk;
}

Result SurfaceImpl::lockRect(LockedRect* locked, const Rect* rect, uint32_t /*flags*/) {
    Storage& s = *storage_;
    if (!locked || !s.lockable() || s.locked) return kInvalidCall;
    int x0 = 0, y0 = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right ||
            rect->top >= rect->bottom || uint32_t(rect->right) > s.width() ||
            uint32_t(rect->bottom) > s.height())
            return kInvalidCall;
        x0 = rect->left;
        y0 = rect->top;
    }
    if (s.faults && s.faults->hit(FaultOp::Lock, s.faultKinds())) return kInvalidCall;
    materialise(s);
    s.locked = true;
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
    if (faults && faults->hit(FaultOp::Lock, faultKind(FaultResource::VertexBuffer)))
        return kInvalidCall;
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
