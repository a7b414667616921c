// A small Direct3D 9 style device that runs on the processor. It offers exactly the
// calls the renderer uses, with the names and semantics it relies on: pools that
// survive or vanish across a reset, lock rules, pre-transformed textured quads with
// alpha blending, read-back of render targets, and fault injection for tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gx::gfx {

using Result = int32_t;
constexpr Result kOk = 0;
constexpr Result kFail = int32_t(0x80004005u);            // E_FAIL
constexpr Result kOutOfMemory = int32_t(0x8007000Eu);     // E_OUTOFMEMORY
constexpr Result kInvalidCall = int32_t(0x8876086Cu);     // D3DERR_INVALIDCALL
constexpr Result kDeviceLost = int32_t(0x88760868u);      // D3DERR_DEVICELOST
constexpr Result kDeviceNotReset = int32_t(0x88760869u);  // D3DERR_DEVICENOTRESET
constexpr Result kDriverInternalError = int32_t(0x88760827u);
constexpr Result kOutOfVideoMemory = int32_t(0x8876017Cu);
inline bool failed(Result r) { return r < 0; }
inline bool succeeded(Result r) { return r >= 0; }

enum class Format : uint32_t { Unknown = 0, A8R8G8B8 = 21, X8R8G8B8 = 22 };
enum class Pool : uint32_t { Default = 0, Managed = 1, SystemMem = 2 };
enum class ResourceType : uint32_t { Surface = 1, Texture = 3, VertexBuffer = 6 };

constexpr uint32_t kUsageRenderTarget = 0x1;

constexpr uint32_t kLockReadOnly = 0x10;
constexpr uint32_t kLockNoSysLock = 0x800;
constexpr uint32_t kLockNoDirtyUpdate = 0x8000;

constexpr uint32_t kClearTarget = 0x1;

// XYZRHW | DIFFUSE | TEX1: the one vertex layout, 28 bytes.
constexpr uint32_t kFvfScreenVertex = 0x144;

enum class RenderState : uint32_t { SrcBlend = 19, DestBlend = 20, AlphaBlendEnable = 27 };
enum Blend : uint32_t {
    kBlendZero = 1,
    kBlendOne = 2,
    kBlendSrcColor = 3,
    kBlendInvSrcColor = 4,
    kBlendSrcAlpha = 5,
    kBlendInvSrcAlpha = 6,
    kBlendDestAlpha = 7,
    kBlendInvDestAlpha = 8,
    kBlendDestColor = 9,
    kBlendInvDestColor = 10,
};
enum class StageState : uint32_t {
    ColorOp = 1,
    ColorArg1 = 2,
    ColorArg2 = 3,
    AlphaOp = 4,
    AlphaArg1 = 5,
    AlphaArg2 = 6,
};
enum TextureOp : uint32_t {
    kTopDisable = 1,
    kTopSelectArg1 = 2,
    kTopSelectArg2 = 3,
    kTopModulate = 4
};
enum TextureArg : uint32_t { kTaDiffuse = 0, kTaCurrent = 1, kTaTexture = 2 };
enum class PrimitiveType : uint32_t { TriangleList = 4 };

// Blend and texture-op capability bits the start-up check tests.
constexpr uint32_t kBlendCapsOne = 0x2;
constexpr uint32_t kBlendCapsSrcAlpha = 0x10;
constexpr uint32_t kBlendCapsInvSrcAlpha = 0x20;
constexpr uint32_t kBlendCapsInvDestColor = 0x200;
constexpr uint32_t kTexOpCapsDisable = 0x1;
constexpr uint32_t kTexOpCapsModulate = 0x8;

struct SurfaceDesc {
    Format format = Format::Unknown;
    ResourceType type = ResourceType::Surface;
    uint32_t usage = 0;
    Pool pool = Pool::Default;
    uint32_t width = 0;
    uint32_t height = 0;
};

struct LockedRect {
    int32_t pitch = 0;  // bytes per row
    void* bits = nullptr;
};

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// The buffer a window shows (X8R8G8B8 rows of `pitch` pixels). A present writes the
// frame into `frame`, point-sampled where its size differs from the back buffer's,
// and black into the rest.
struct PresentTarget {
    uint32_t* pixels = nullptr;
    size_t pitch = 0;
    uint32_t width = 0, height = 0;
    Rect frame;
};

struct DisplayMode {
    uint32_t width = 0, height = 0, refreshRate = 0;
    Format format = Format::Unknown;
};

// Pre-transformed vertex: screen pixels, z 0, rhw 1, ARGB diffuse, one texture coordinate.
struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t colour;
    float u, v;
};
static_assert(sizeof(ScreenVertex) == 28);

struct ShaderCaps20 {
    uint32_t Caps;
    int32_t DynamicFlowControlDepth;
    int32_t NumTemps;
    int32_t StaticFlowControlDepth;
};
struct PixelShaderCaps20 {
    uint32_t Caps;
    int32_t DynamicFlowControlDepth;
    int32_t NumTemps;
    int32_t StaticFlowControlDepth;
    int32_t NumInstructionSlots;
};

// The capability record, fields in the order the error report prints them.
struct Caps {
    uint32_t DeviceType, AdapterOrdinal, Caps, Caps2, Caps3, PresentationIntervals, CursorCaps,
        DevCaps, PrimitiveMiscCaps, RasterCaps, ZCmpCaps, SrcBlendCaps, DestBlendCaps, AlphaCmpCaps,
        ShadeCaps, TextureCaps, TextureFilterCaps, CubeTextureFilterCaps, VolumeTextureFilterCaps,
        TextureAddressCaps, VolumeTextureAddressCaps, LineCaps, MaxTextureWidth, MaxTextureHeight,
        MaxVolumeExtent, MaxTextureRepeat, MaxTextureAspectRatio, MaxAnisotropy;
    float MaxVertexW, GuardBandLeft, GuardBandTop, GuardBandRight, GuardBandBottom, ExtentsAdjust;
    uint32_t StencilCaps, FVFCaps, TextureOpCaps, MaxTextureBlendStages, MaxSimultaneousTextures,
        VertexProcessingCaps, MaxActiveLights, MaxUserClipPlanes, MaxVertexBlendMatrices,
        MaxVertexBlendMatrixIndex;
    float MaxPointSize;
    uint32_t MaxPrimitiveCount, MaxVertexIndex, MaxStreams, MaxStreamStride, VertexShaderVersion,
        MaxVertexShaderConst, PixelShaderVersion;
    float PixelShader1xMaxValue;
    uint32_t DevCaps2;
    float MaxNpatchTessellationLevel;
    uint32_t Reserved5, MasterAdapterOrdinal, AdapterOrdinalInGroup, NumberOfAdaptersInGroup,
        DeclTypes, NumSimultaneousRTs, StretchRectFilterCaps;
    ShaderCaps20 VS20Caps;
    PixelShaderCaps20 PS20Caps;
    uint32_t VertexTextureFilterCaps, MaxVShaderInstructionsExecuted,
        MaxPShaderInstructionsExecuted, MaxVertexShader30InstructionSlots,
        MaxPixelShader30InstructionSlots;
};

class Surface;

// A one-level texture. Owns its pixels; survives the device that made it.
class Texture {
public:
    virtual ~Texture() = default;
    virtual Result getLevelDesc(uint32_t level, SurfaceDesc* desc) const = 0;
    // The level-0 surface, sharing the texture's pixels (kept alive by the pointer).
    virtual Result getSurfaceLevel(uint32_t level, std::shared_ptr<Surface>* out) = 0;
    virtual Result lockRect(uint32_t level, LockedRect* locked, const Rect* rect,
                            uint32_t flags) = 0;
    virtual Result unlockRect(uint32_t level) = 0;
};

class Surface {
public:
    virtual ~Surface() = default;
    virtual Result getDesc(SurfaceDesc* desc) const = 0;
    virtual Result lockRect(LockedRect* locked, const Rect* rect, uint32_t flags) = 0;
    virtual Result unlockRect() = 0;
};

class VertexBuffer {
public:
    virtual ~VertexBuffer() = default;
    virtual uint32_t size() const = 0;
    // Locks bytes [offset, offset + size); size 0 means to the end.
    virtual Result lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) = 0;
    virtual Result unlock() = 0;
};

using TexturePtr = std::shared_ptr<Texture>;
using SurfacePtr = std::shared_ptr<Surface>;
using VertexBufferPtr = std::shared_ptr<VertexBuffer>;

struct PresentParameters {
    uint32_t backBufferWidth = 0;
    uint32_t backBufferHeight = 0;
    Format backBufferFormat = Format::X8R8G8B8;
    bool windowed = false;
    uint32_t presentationInterval = 0;  // 0x80000000: immediate
};

struct DeviceOptions {
    uint32_t maxTextureSize = 8192;
    bool powerOfTwoOnly = false;  // rounds texture sizes up, as older cards did
    DisplayMode desktop{1600, 1200, 60, Format::X8R8G8B8};
    std::string description = "Glimmerax software rasteriser";
    // Off only in tests that compare the quick drawing loops with the plain one.
    bool fastPaths = true;
    // With the quick loops, a draw reaching at least this many rows times the target's
    // width is shared with a second thread (the result is the same); 0: never.
    uint32_t parallelPixels = 1u << 19;
};

// Fault kinds for the injector: the Nth call of that kind fails (1-based).
enum class FaultOp : uint8_t { Create, Lock, ReadBack };
enum class FaultResource : uint8_t { Any, Texture, Surface, VertexBuffer, RenderTarget };

class Device {
public:
    virtual ~Device() = default;

    virtual Result getDeviceCaps(Caps* caps) const = 0;
    virtual Result getDisplayMode(DisplayMode* mode) const = 0;
    virtual const PresentParameters& presentParameters() const = 0;
    virtual const DeviceOptions& options() const = 0;

    virtual Result createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                 Format format, Pool pool, TexturePtr* out) = 0;
    virtual Result createOffscreenPlainSurface(uint32_t width, uint32_t height, Format format,
                                               Pool pool, SurfacePtr* out) = 0;
    virtual Result createVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, Pool pool,
                                      VertexBufferPtr* out) = 0;

    virtual Result getRenderTarget(uint32_t index, SurfacePtr* out) = 0;
    virtual Result setRenderTarget(uint32_t index, const SurfacePtr& surface) = 0;
    virtual Result getBackBuffer(SurfacePtr* out) = 0;
    virtual Result clear(uint32_t flags, uint32_t colour, float z, uint32_t stencil) = 0;
    virtual Result beginScene() = 0;
    virtual Result endScene() = 0;
    virtual Result setTexture(uint32_t stage, const TexturePtr& texture) = 0;
    virtual Result setRenderState(RenderState state, uint32_t value) = 0;
    virtual Result setTextureStageState(uint32_t stage, StageState state, uint32_t value) = 0;
    virtual Result setFVF(uint32_t fvf) = 0;
    virtual Result setStreamSource(uint32_t stream, const VertexBufferPtr& buffer, uint32_t offset,
                                   uint32_t stride) = 0;
    virtual Result drawPrimitive(PrimitiveType type, uint32_t startVertex,
                                 uint32_t primitiveCount) = 0;
    // The texels at the given offsets (row * width + column) of the current texture, which
    // has the render target's size, each drawn onto the pixel at the same offset through
    // the stage states with one diffuse colour and the blend. Where every other texel
    // would leave its pixel as it is (transparent under alpha blending), this draws what a
    // whole-target quad of the texture would, at a cost that follows the list: for sparse
    // layers. An offset listed twice is drawn twice.
    virtual Result drawTexels(uint32_t diffuse, const uint32_t* offsets, size_t count) = 0;

    // Copies a render target into a system-memory surface of the same size and format.
    virtual Result getRenderTargetData(const SurfacePtr& renderTarget, const SurfacePtr& dest) = 0;
    // Copies the last presented frame into a system-memory A8R8G8B8 surface.
    virtual Result getFrontBufferData(uint32_t swapChain, const SurfacePtr& dest) = 0;
    // Without a target the frame is kept as the front buffer below; with one it is
    // copied once into the target and nowhere else.
    virtual Result present(const PresentTarget* target = nullptr) = 0;
    virtual Result testCooperativeLevel() = 0;
    virtual Result reset(const PresentParameters& params) = 0;

    // Moves the back buffer into memory the window shows (packed rows of the back
    // buffer's size, kept alive by the caller until the next reset or a call with
    // null), carrying the pixels over: a present into a target at that memory, frame
    // for frame, then copies nothing. Null gives the back buffer memory of its own again.
    virtual Result shareBackBuffer(uint32_t* memory) = 0;
    virtual const uint32_t* backBufferPixels() const = 0;

    // The pixels of the last frame presented without a target (back-buffer size, packed
    // rows). Empty before the first such present.
    virtual const std::vector<uint32_t>& frontBuffer() const = 0;

    // Fault injection: make the nth future call of the kind fail, or the device lost.
    virtual void injectFault(FaultOp op, FaultResource resource, int nth) = 0;
    virtual void setLost(bool lost) = 0;
    virtual void clearFaults() = 0;
    // The nth future present reports the device lost (and loses it).
    virtual void loseAtPresent(int nth) = 0;
};

// Arms the faults named in text (the $GLIMMERAX_FAULTS syntax, see faults.cpp) on the
// device. The good entries are armed; false names the first malformed one in *error.
bool armFaults(Device& device, const std::string& text, std::string* error);

// Creates a device; faults named in $GLIMMERAX_FAULTS are armed on it.
Result createDevice(const PresentParameters& params, const DeviceOptions& options,
                    std::unique_ptr<Device>* out);

}  // namespace gx::gfx
