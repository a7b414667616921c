// The device: state, resource creation, the draw call, read-back, present, loss and
// reset.
//
// Loss: setLost(true), or the present armed by loseAtPresent, loses the device. While
// lost, present reports kDeviceLost. The first testCooperativeLevel after the loss also
// reports kDeviceLost (the device cannot be reset yet, and reset answers kDeviceLost);
// from then on it reports kDeviceNotReset until a reset succeeds. setLost(false) makes
// a lost device resettable at once. A reset refused because default-pool resources (or
// a held back buffer) are alive leaves the device waiting for a reset, as a failed reset
// does on real cards.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/gfx/draw_worker.h"
#include "platform/gfx/faults.h"
#include "platform/gfx/gfx.h"
#include "platform/gfx/raster.h"
#include "platform/gfx/resources.h"

namespace gx::gfx {

namespace {

constexpr uint32_t kMaxSurfaceSize = 16384;
constexpr uint32_t kMaxPrimitiveCount = 0xFFFFF;
constexpr uint32_t kAlphaBits = 0xFF000000u;

bool knownFormat(Format f) { return f == Format::A8R8G8B8 || f == Format::X8R8G8B8; }
bool knownPool(Pool p) { return p == Pool::Default || p == Pool::Managed || p == Pool::SystemMem; }

uint32_t roundUpPow2(uint32_t v) {
    uint32_t p = 1;
    while (p < v && p < 0x80000000u) p <<= 1;
    return p;
}

std::shared_ptr<SurfaceImpl> asSurface(const SurfacePtr& s) {
    return std::dynamic_pointer_cast<SurfaceImpl>(s);
}

class DeviceImpl final : public Device {
public:
    DeviceImpl(const DeviceOptions& options) : options_(options) {}

    Result init(const PresentParameters& params) {
        state_ = State::Ok;
        return rebuild(params);
    }

    Result getDeviceCaps(Caps* caps) const override;
    Result getDisplayMode(DisplayMode* mode) const override {
        if (!mode) return kInvalidCall;
        *mode = options_.desktop;
        return kOk;
    }
    const PresentParameters& presentParameters() const override { return params_; }
    const DeviceOptions& options() const override { return options_; }

    Result createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                         Format format, Pool pool, TexturePtr* out) override;
    Result createOffscreenPlainSurface(uint32_t width, uint32_t height, Format format, Pool pool,
                                       SurfacePtr* out) override;
    Result createVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, Pool pool,
                              VertexBufferPtr* out) override;

    Result getRenderTarget(uint32_t index, SurfacePtr* out) override {
        if (index != 0 || !out) return kInvalidCall;
        *out = renderTarget_;
        return kOk;
    }
    Result setRenderTarget(uint32_t index, const SurfacePtr& surface) override;
    Result getBackBuffer(SurfacePtr* out) override {
        if (!out) return kInvalidCall;
        *out = backBuffer_;
        return kOk;
    }
    Result clear(uint32_t flags, uint32_t colour, float z, uint32_t stencil) override;
    Result beginScene() override {
        if (inScene_) return kInvalidCall;
        inScene_ = true;
        return kOk;
    }
    Result endScene() override {
        if (!inScene_) return kInvalidCall;
        inScene_ = false;
        return kOk;
    }
    Result setTexture(uint32_t stage, const TexturePtr& texture) override;
    Result setRenderState(RenderState state, uint32_t value) override;
    Result setTextureStageState(uint32_t stage, StageState state, uint32_t value) override;
    Result setFVF(uint32_t fvf) override {
        if (fvf != kFvfScreenVertex) return kInvalidCall;
        fvf_ = fvf;
        return kOk;
    }
    Result setStreamSource(uint32_t stream, const VertexBufferPtr& buffer, uint32_t offset,
                           uint32_t stride) override;
    Result drawPrimitive(PrimitiveType type, uint32_t startVertex,
                         uint32_t primitiveCount) override;
    Result drawTexels(uint32_t diffuse, const uint32_t* offsets, size_t count) override;

    Result getRenderTargetData(const SurfacePtr& renderTarget, const SurfacePtr& dest) override;
    Result getFrontBufferData(uint32_t swapChain, const SurfacePtr& dest) override;
    Result present(const PresentTarget* target) override;
    Result shareBackBuffer(uint32_t* memory) override;
    const uint32_t* backBufferPixels() const override {
        return backBuffer_ ? backBuffer_->storage().pixels.data() : nullptr;
    }
    Result testCooperativeLevel() override;
    Result reset(const PresentParameters& params) override;
    const std::vector<uint32_t>& frontBuffer() const override { return front_; }

    void injectFault(FaultOp op, FaultResource resource, int nth) override {
        faults_->arm(op, resource, nth);
    }
    void setLost(bool lost) override {
        if (lost) state_ = State::Lost;
        else if (state_ == State::Lost) state_ = State::NotReset;
    }
    void clearFaults() override { faults_->clear(); }
    void loseAtPresent(int nth) override { faults_->armLostAtPresent(nth); }

private:
    enum class State { Ok, Lost, NotReset };

    Result rebuild(const PresentParameters& params);
    void resetStates() {
        states_ = DrawStates{};
        states_.fastPaths = options_.fastPaths;
        if (options_.fastPaths && options_.parallelPixels > 0) {
            states_.worker = &worker_;
            states_.parallelPixels = options_.parallelPixels;
        }
        fvf_ = 0;
    }

    DeviceOptions options_;
    PresentParameters params_;
    std::shared_ptr<FaultInjector> faults_ = std::make_shared<FaultInjector>();
    std::shared_ptr<std::atomic<int>> defaultCount_ = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<SurfaceImpl> backBuffer_;
    std::shared_ptr<SurfaceImpl> renderTarget_;
    std::shared_ptr<TextureImpl> texture_;
    std::shared_ptr<VertexBufferImpl> stream_;
    uint32_t streamOffset_ = 0;
    uint32_t fvf_ = 0;
    DrawStates states_;
    bool inScene_ = false;
    State state_ = State::Ok;
    std::vector<uint32_t> front_;
    DrawWorker worker_;  // its thread starts with the first draw large enough
};

Result DeviceImpl::rebuild(const PresentParameters& params) {
    PresentParameters p = params;
    if (p.backBufferFormat == Format::Unknown) p.backBufferFormat = Format::X8R8G8B8;
    if (p.backBufferWidth == 0 || p.backBufferHeight == 0 || p.backBufferWidth > kMaxSurfaceSize ||
        p.backBufferHeight > kMaxSurfaceSize || !knownFormat(p.backBufferFormat))
        return kInvalidCall;
    SurfaceDesc desc;
    desc.format = p.backBufferFormat;
    desc.type = ResourceType::Surface;
    desc.usage = kUsageRenderTarget;
    desc.pool = Pool::Default;
    desc.width = p.backBufferWidth;
    desc.height = p.backBufferHeight;
    backBuffer_.reset();
    auto storage = makeStorage(desc, false, faults_, nullptr);
    if (!storage) return kOutOfVideoMemory;
    backBuffer_ = std::make_shared<SurfaceImpl>(std::move(storage));
    renderTarget_ = backBuffer_;
    params_ = p;
    resetStates();
    front_.clear();
    return kOk;
}

Result DeviceImpl::getDeviceCaps(Caps* caps) const {
    if (!caps) return kInvalidCall;
    std::memset(caps, 0, sizeof(Caps));
    caps->DeviceType = 3;                              // software
    caps->PresentationIntervals = 0x80000000u | 0x1u;  // immediate, one
    caps->DevCaps = 0x10 | 0x40 | 0x400;  // execute and TL vertices from system memory, TL draws
    caps->PrimitiveMiscCaps = 0x40;       // culls counter-clockwise triangles
    caps->SrcBlendCaps = 0x3FF;           // ZERO .. INVDESTCOLOR
    caps->DestBlendCaps = 0x3FF;
    caps->ShadeCaps = 0x8 | 0x4000;                                   // Gouraud colour and alpha
    caps->TextureCaps = 0x4 | (options_.powerOfTwoOnly ? 0x2u : 0u);  // alpha, pow2
    caps->TextureFilterCaps = 0x100 | 0x01000000;                     // point min and mag
    caps->TextureAddressCaps = 0x1;                                   // wrap
    caps->MaxTextureWidth = options_.maxTextureSize;
    caps->MaxTextureHeight = options_.maxTextureSize;
    caps->MaxTextureRepeat = 32768;
    caps->MaxTextureAspectRatio = options_.maxTextureSize;
    caps->MaxAnisotropy = 1;
    caps->MaxVertexW = 1.0f;
    caps->GuardBandLeft = -16777216.0f;
    caps->GuardBandTop = -16777216.0f;
    caps->GuardBandRight = 16777216.0f;
    caps->GuardBandBottom = 16777216.0f;
    caps->FVFCaps = 1;  // one texture coordinate set
    caps->TextureOpCaps = kTexOpCapsDisable | 0x2 | 0x4 | kTexOpCapsModulate;
    caps->MaxTextureBlendStages = 1;
    caps->MaxSimultaneousTextures = 1;
    caps->MaxPointSize = 1.0f;
    caps->MaxPrimitiveCount = kMaxPrimitiveCount;
    caps->MaxVertexIndex = 0xFFFFFF;
    caps->MaxStreams = 1;
    caps->MaxStreamStride = sizeof(ScreenVertex);
    caps->NumberOfAdaptersInGroup = 1;
    caps->NumSimultaneousRTs = 1;
    return kOk;
}

Result DeviceImpl::createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                 Format format, Pool pool, TexturePtr* out) {
    if (!out || width == 0 || height == 0 || levels > 1 || !knownFormat(format) ||
        !knownPool(pool) || (usage & ~kUsageRenderTarget))
        return kInvalidCall;
    if ((usage & kUsageRenderTarget) && pool != Pool::Default) return kInvalidCall;
    if (options_.powerOfTwoOnly) {
        width = roundUpPow2(width);
        height = roundUpPow2(height);
    }
    if (width > options_.maxTextureSize || height > options_.maxTextureSize ||
        width > kMaxSurfaceSize || height > kMaxSurfaceSize)
        return kInvalidCall;
    uint32_t kinds = faultKind(FaultResource::Texture);
    if (usage & kUsageRenderTarget) kinds |= faultKind(FaultResource::RenderTarget);
    if (faults_->hit(FaultOp::Create, kinds)) return kOutOfVideoMemory;

    SurfaceDesc desc{format, ResourceType::Surface, usage, pool, width, height};
    auto storage =
        makeStorage(desc, true, faults_, pool == Pool::Default ? defaultCount_ : nullptr);
    if (!storage) return pool == Pool::Default ? kOutOfVideoMemory : kOutOfMemory;
    *out = std::make_shared<TextureImpl>(std::make_shared<SurfaceImpl>(std::move(storage)));
    return kOk;
}

Result DeviceImpl::createOffscreenPlainSurface(uint32_t width, uint32_t height, Format format,
                                               Pool pool, SurfacePtr* out) {
    // Plain surfaces cannot be managed.
    if (!out || width == 0 || height == 0 || width > kMaxSurfaceSize || height > kMaxSurfaceSize ||
        !knownFormat(format) || (pool != Pool::Default && pool != Pool::SystemMem))
        return kInvalidCall;
    if (faults_->hit(FaultOp::Create, faultKind(FaultResource::Surface))) return kOutOfVideoMemory;
    SurfaceDesc desc{format, ResourceType::Surface, 0, pool, width, height};
    auto storage =
        makeStorage(desc, false, faults_, pool == Pool::Default ? defaultCount_ : nullptr);
    if (!storage) return pool == Pool::Default ? kOutOfVideoMemory : kOutOfMemory;
    *out = std::make_shared<SurfaceImpl>(std::move(storage));
    return kOk;
}

Result DeviceImpl::createVertexBuffer(uint32_t length, uint32_t usage, uint32_t /*fvf*/, Pool pool,
                                      VertexBufferPtr* out) {
    if (!out || length == 0 || usage != 0 || !knownPool(pool)) return kInvalidCall;
    if (faults_->hit(FaultOp::Create, faultKind(FaultResource::VertexBuffer)))
        return kOutOfVideoMemory;
    auto vb = std::make_shared<VertexBufferImpl>();
    if (!vb->allocate(length)) return pool == Pool::Default ? kOutOfVideoMemory : kOutOfMemory;
    vb->pool = pool;
    vb->faults = faults_;
    if (pool == Pool::Default) {
        defaultCount_->fetch_add(1);
        vb->defaultPoolCount = defaultCount_;
    }
    *out = std::move(vb);
    return kOk;
}

Result DeviceImpl::setRenderTarget(uint32_t index, const SurfacePtr& surface) {
    auto s = asSurface(surface);
    if (index != 0 || !s || !s->storage().isRenderTarget() ||
        s->storage().desc.pool != Pool::Default)
        return kInvalidCall;
    renderTarget_ = std::move(s);
    return kOk;
}

Result DeviceImpl::clear(uint32_t flags, uint32_t colour, float /*z*/, uint32_t /*stencil*/) {
    // There is no depth or stencil buffer to clear.
    if (flags != kClearTarget || !renderTarget_) return kInvalidCall;
    Storage& s = renderTarget_->storage();
    if (s.opaqueAlpha()) colour |= kAlphaBits;
    // The plain drawing mode keeps the plain clear, so tests can compare the two.
    if (options_.fastPaths && clearLazily(s, colour)) return kOk;
    s.lazy = LazyFill{};
    fillRect(s, Bounds{0, 0, int(s.width()), int(s.height())}, colour);
    return kOk;
}

Result DeviceImpl::setTexture(uint32_t stage, const TexturePtr& texture) {
    if (stage != 0) return kInvalidCall;
    if (!texture) {
        texture_.reset();
        return kOk;
    }
    auto t = std::dynamic_pointer_cast<TextureImpl>(texture);
    // System-memory textures cannot be drawn from.
    if (!t || t->storage().desc.pool == Pool::SystemMem) return kInvalidCall;
    texture_ = std::move(t);
    return kOk;
}

Result DeviceImpl::setRenderState(RenderState state, uint32_t value) {
    switch (state) {
    case RenderState::AlphaBlendEnable: states_.blend = value != 0; return kOk;
    case RenderState::SrcBlend:
    case RenderState::DestBlend:
        if (value < kBlendZero || value > kBlendInvDestColor) return kInvalidCall;
        (state == RenderState::SrcBlend ? states_.srcBlend : states_.destBlend) = value;
        return kOk;
    }
    return kInvalidCall;
}

Result DeviceImpl::setTextureStageState(uint32_t stage, StageState state, uint32_t value) {
    if (stage != 0) return kInvalidCall;
    bool isOp = state == StageState::ColorOp || state == StageState::AlphaOp;
    if (isOp && (value < kTopDisable || value > kTopModulate)) return kInvalidCall;
    if (!isOp && value != kTaDiffuse && value != kTaCurrent && value != kTaTexture)
        return kInvalidCall;
    switch (state) {
    case StageState::ColorOp: states_.colorOp = value; return kOk;
    case StageState::ColorArg1: states_.colorArg1 = value; return kOk;
    case StageState::ColorArg2: states_.colorArg2 = value; return kOk;
    case StageState::AlphaOp: states_.alphaOp = value; return kOk;
    case StageState::AlphaArg1: states_.alphaArg1 = value; return kOk;
    case StageState::AlphaArg2: states_.alphaArg2 = value; return kOk;
    }
    return kInvalidCall;
}

Result DeviceImpl::setStreamSource(uint32_t stream, const VertexBufferPtr& buffer, uint32_t offset,
                                   uint32_t stride) {
    if (stream != 0) return kInvalidCall;
    if (!buffer) {
        stream_.reset();
        return kOk;
    }
    auto vb = std::dynamic_pointer_cast<VertexBufferImpl>(buffer);
    if (!vb || stride != sizeof(ScreenVertex) || offset > vb->size()) return kInvalidCall;
    stream_ = std::move(vb);
    streamOffset_ = offset;
    return kOk;
}

Result DeviceImpl::drawPrimitive(PrimitiveType type, uint32_t startVertex,
                                 uint32_t primitiveCount) {
    if (type != PrimitiveType::TriangleList || !inScene_ || fvf_ != kFvfScreenVertex || !stream_ ||
        stream_->locked() || !renderTarget_ || primitiveCount > kMaxPrimitiveCount)
        return kInvalidCall;
    if (texture_ && texture_->storage().locked) return kInvalidCall;
    uint64_t end = uint64_t(streamOffset_) +
                   (uint64_t(startVertex) + 3ull * primitiveCount) * sizeof(ScreenVertex);
    if (end > stream_->size()) return kInvalidCall;

    Storage& rt = renderTarget_->storage();
    PixelTarget target{rt.pixels.data(), int(rt.width()), int(rt.height()), rt.opaqueAlpha()};
    if (rt.lazy.active) target.lazy = &rt.lazy;
    target.streamWrites = streamsWrites(size_t(rt.width()) * rt.height() * 4);
    PixelSource source;
    if (texture_) {
        Storage& t = texture_->storage();
        // A layer drawn onto itself reads what it writes: give it its real pixels.
        if (&t == &rt) materialise(t);
        source = PixelSource{t.pixels.data(), int(t.width()), int(t.height()), t.opaqueAlpha()};
        if (t.lazy.active) source.lazy = &t.lazy;
    }
    if (target.lazy && !target.lazy->active) target.lazy = nullptr;
    const uint8_t* bytes =
        stream_->bytes() + streamOffset_ + size_t(startVertex) * sizeof(ScreenVertex);
    std::vector<ScreenVertex> v(size_t(primitiveCount) * 3);
    std::memcpy(v.data(), bytes, v.size() * sizeof(ScreenVertex));
    drawTriangles(target, source, states_, v.data(), primitiveCount);
    return kOk;
}

Result DeviceImpl::drawTexels(uint32_t diffuse, const uint32_t* offsets, size_t count) {
    if (!inScene_ || !renderTarget_ || !texture_ || (count > 0 && offsets == nullptr))
        return kInvalidCall;
    Storage& rt = renderTarget_->storage();
    Storage& t = texture_->storage();
    if (t.locked || &t == &rt || t.width() != rt.width() || t.height() != rt.height())
        return kInvalidCall;
    const size_t pixels = size_t(rt.width()) * rt.height();
    for (size_t k = 0; k < count; ++k)
        if (offsets[k] >= pixels) return kInvalidCall;
    PixelTarget target{rt.pixels.data(), int(rt.width()), int(rt.height()), rt.opaqueAlpha()};
    if (rt.lazy.active) target.lazy = &rt.lazy;
    PixelSource source{t.pixels.data(), int(t.width()), int(t.height()), t.opaqueAlpha()};
    if (t.lazy.active) source.lazy = &t.lazy;
    drawTexelList(target, source, states_, diffuse, offsets, count);
    return kOk;
}

Result DeviceImpl::getRenderTargetData(const SurfacePtr& renderTarget, const SurfacePtr& dest) {
    if (state_ != State::Ok) return kDeviceLost;
    auto src = asSurface(renderTarget);
    auto dst = asSurface(dest);
    if (!src || !dst) return kInvalidCall;
    Storage& s = src->storage();
    Storage& d = dst->storage();
    if (!s.isRenderTarget() || s.desc.pool != Pool::Default || d.desc.pool != Pool::SystemMem ||
        s.width() != d.width() || s.height() != d.height() || s.desc.format != d.desc.format ||
        d.locked)
        return kInvalidCall;
    uint32_t kinds =
        faultKind(FaultResource::RenderTarget) |
        (s.textureLevel ? faultKind(FaultResource::Texture) : faultKind(FaultResource::Surface));
    if (faults_->hit(FaultOp::ReadBack, kinds)) return kDriverInternalError;
    copyPixels(s, d.pixels.data(), d.width(), 0);
    return kOk;
}

Result DeviceImpl::getFrontBufferData(uint32_t swapChain, const SurfacePtr& dest) {
    if (state_ != State::Ok) return kDeviceLost;
    auto dst = asSurface(dest);
    if (swapChain != 0 || !dst) return kInvalidCall;
    Storage& d = dst->storage();
    if (d.desc.pool != Pool::SystemMem || d.desc.format != Format::A8R8G8B8 ||
        d.width() != params_.backBufferWidth || d.height() != params_.backBufferHeight || d.locked)
        return kInvalidCall;
    if (faults_->hit(FaultOp::ReadBack, faultKind(FaultResource::Surface)))
        return kDriverInternalError;
    size_t n = size_t(d.width()) * d.height();
    if (front_.size() == n) std::copy(front_.begin(), front_.end(), d.pixels.data());
    else std::fill_n(d.pixels.data(), n, kAlphaBits);
    return kOk;
}

Result DeviceImpl::present(const PresentTarget* target) {
    if (state_ != State::Ok) return kDeviceLost;
    if (faults_->presentLosesDevice()) {
        state_ = State::Lost;
        return kDeviceLost;
    }
    Storage& b = backBuffer_->storage();
    if (target) {
        const bool inPlace = target->pixels == b.pixels.data() && target->pitch == b.width() &&
                             target->width == b.width() && target->height == b.height() &&
                             target->frame.left == 0 && target->frame.top == 0 &&
                             uint32_t(target->frame.right) == b.width() &&
                             uint32_t(target->frame.bottom) == b.height();
        // Rendered where the window shows it: only a clear still pending is written.
        if (inPlace) materialise(b);
        else copyToTarget(b, *target, kAlphaBits);
        return kOk;
    }
    size_t n = size_t(b.width()) * b.height();
    front_.resize(n);
    copyPixels(b, front_.data(), b.width(), kAlphaBits);
    return kOk;
}

Result DeviceImpl::shareBackBuffer(uint32_t* memory) {
    if (!backBuffer_) return kInvalidCall;
    Storage& b = backBuffer_->storage();
    if (b.locked) return kInvalidCall;
    const size_t bytes = size_t(b.width()) * b.height() * 4;
    uint32_t* old = b.pixels.data();
    if (memory == old) return kOk;
    if (memory) {
        std::memcpy(memory, old, bytes);
        b.pixels.share(memory);
        return kOk;
    }
    // The shared memory is still there: the caller gives it up only after this.
    if (!b.pixels.allocate(b.width(), b.height())) {
        b.pixels.share(old);
        return kOutOfVideoMemory;
    }
    std::memcpy(b.pixels.data(), old, bytes);
    return kOk;
}

Result DeviceImpl::testCooperativeLevel() {
    switch (state_) {
    case State::Ok: return kOk;
    case State::Lost: state_ = State::NotReset; return kDeviceLost;
    case State::NotReset: return kDeviceNotReset;
    }
    return kOk;
}

Result DeviceImpl::reset(const PresentParameters& params) {
    if (state_ == State::Lost) return kDeviceLost;
    renderTarget_.reset();
    texture_.reset();
    stream_.reset();
    inScene_ = false;
    if (defaultCount_->load() > 0 || backBuffer_.use_count() > 1) {
        renderTarget_ = backBuffer_;
        state_ = State::NotReset;
        return kInvalidCall;
    }
    Result r = rebuild(params);
    if (failed(r)) {
        renderTarget_ = backBuffer_;
        state_ = State::NotReset;
        return r;
    }
    state_ = State::Ok;
    return kOk;
}

}  // namespace

Result createDevice(const PresentParameters& params, const DeviceOptions& options,
                    std::unique_ptr<Device>* out) {
    if (!out || options.maxTextureSize == 0) return kInvalidCall;
    auto device = std::make_unique<DeviceImpl>(options);
    Result r = device->init(params);
    if (failed(r)) return r;
    if (const char* env = std::getenv("GLIMMERAX_FAULTS"); env && *env) {
        std::string bad;
        if (!armFaults(*device, env, &bad))
            std::fprintf(stderr, "Glimmerax: ignoring malformed GLIMMERAX_FAULTS entry \"%s\"\n",
                         bad.c_str());
    }
    *out = std::move(device);
    return kOk;
}

}  // namespace gx::gfx
