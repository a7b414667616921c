// Helpers shared by the software-device tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/gfx/gfx.h"

namespace gx::gfx::test {

inline std::unique_ptr<Device> makeDevice(uint32_t w, uint32_t h, DeviceOptions opts = {}) {
    PresentParameters pp;
    pp.backBufferWidth = w;
    pp.backBufferHeight = h;
    std::unique_ptr<Device> d;
    EXPECT_EQ(createDevice(pp, opts, &d), kOk);
    return d;
}

// The two triangles of an axis-aligned quad, in the renderer's order.
inline std::vector<ScreenVertex> rectQuad(float x0, float y0, float x1, float y1, uint32_t colour) {
    return {{x0, y0, 0, 1, colour, 0, 0}, {x1, y1, 0, 1, colour, 1, 1},
            {x0, y1, 0, 1, colour, 0, 1}, {x0, y0, 0, 1, colour, 0, 0},
            {x1, y0, 0, 1, colour, 1, 0}, {x1, y1, 0, 1, colour, 1, 1}};
}

// A quad turned by angle around (cx, cy): corners at angle + k * pi / 4 as the sprites lay them.
inline std::vector<ScreenVertex> turnedQuad(float cx, float cy, float halfDiagonal, float angle) {
    auto corner = [&](float offset, float u, float v) {
        float a = angle + offset;
        return ScreenVertex{std::sin(a) * halfDiagonal + cx,
                            std::cos(a) * halfDiagonal + cy,
                            0,
                            1,
                            0xFFFFFFFFu,
                            u,
                            v};
    };
    ScreenVertex c0 = corner(3.9269910f, 0, 0), c1 = corner(0.78539819f, 1, 1),
                 c2 = corner(5.4977875f, 0, 1), c4 = corner(2.3561945f, 1, 0);
    return {c0, c1, c2, c0, c4, c1};
}

inline void setDefaultStates(Device& d) {
    d.setRenderState(RenderState::AlphaBlendEnable, 1);
    d.setRenderState(RenderState::SrcBlend, kBlendSrcAlpha);
    d.setRenderState(RenderState::DestBlend, kBlendInvSrcAlpha);
    d.setTextureStageState(0, StageState::ColorOp, kTopModulate);
    d.setTextureStageState(0, StageState::ColorArg1, kTaTexture);
    d.setTextureStageState(0, StageState::ColorArg2, kTaDiffuse);
    d.setTextureStageState(0, StageState::AlphaOp, kTopModulate);
    d.setTextureStageState(0, StageState::AlphaArg1, kTaTexture);
    d.setTextureStageState(0, StageState::AlphaArg2, kTaDiffuse);
    d.setFVF(kFvfScreenVertex);
}

inline Result draw(Device& d, const TexturePtr& tex, const std::vector<ScreenVertex>& verts) {
    VertexBufferPtr vb;
    Result r = d.createVertexBuffer(uint32_t(verts.size() * sizeof(ScreenVertex)), 0,
                                    kFvfScreenVertex, Pool::Managed, &vb);
    if (failed(r)) return r;
    void* p = nullptr;
    if (failed(r = vb->lock(0, 0, &p, 0))) return r;
    std::memcpy(p, verts.data(), verts.size() * sizeof(ScreenVertex));
    vb->unlock();
    d.setTexture(0, tex);
    d.setStreamSource(0, vb, 0, sizeof(ScreenVertex));
    d.setFVF(kFvfScreenVertex);
    if (failed(r = d.beginScene())) return r;
    r = d.drawPrimitive(PrimitiveType::TriangleList, 0, uint32_t(verts.size() / 3));
    d.endScene();
    return r;
}

inline TexturePtr makeTexture(Device& d, uint32_t w, uint32_t h,
                              const std::vector<uint32_t>& texels, Format f = Format::A8R8G8B8) {
    TexturePtr t;
    EXPECT_EQ(d.createTexture(w, h, 1, 0, f, Pool::Managed, &t), kOk);
    LockedRect lr;
    EXPECT_EQ(t->lockRect(0, &lr, nullptr, 0), kOk);
    for (uint32_t y = 0; y < h; ++y)
        std::memcpy(static_cast<uint8_t*>(lr.bits) + size_t(y) * lr.pitch,
                    texels.data() + size_t(y) * w, w * 4);
    t->unlockRect(0);
    return t;
}

// Reads a render target back through a system-memory copy.
inline std::vector<uint32_t> readBack(Device& d, const SurfacePtr& rt) {
    SurfaceDesc desc;
    rt->getDesc(&desc);
    SurfacePtr copy;
    EXPECT_EQ(
        d.createOffscreenPlainSurface(desc.width, desc.height, desc.format, Pool::SystemMem, &copy),
        kOk);
    EXPECT_EQ(d.getRenderTargetData(rt, copy), kOk);
    LockedRect lr;
    EXPECT_EQ(copy->lockRect(&lr, nullptr, kLockReadOnly), kOk);
    std::vector<uint32_t> out(size_t(desc.width) * desc.height);
    for (uint32_t y = 0; y < desc.height; ++y)
        std::memcpy(out.data() + size_t(y) * desc.width,
                    static_cast<uint8_t*>(lr.bits) + size_t(y) * lr.pitch, desc.width * 4);
    copy->unlockRect();
    return out;
}

inline std::vector<uint32_t> readBackBuffer(Device& d) {
    SurfacePtr bb;
    d.getBackBuffer(&bb);
    return readBack(d, bb);
}

// A render-target texture of w x h (A8R8G8B8) made current and cleared.
inline SurfacePtr useTargetTexture(Device& d, uint32_t w, uint32_t h, TexturePtr* keep,
                                   uint32_t clearColour = 0) {
    EXPECT_EQ(d.createTexture(w, h, 1, kUsageRenderTarget, Format::A8R8G8B8, Pool::Default, keep),
              kOk);
    SurfacePtr s;
    (*keep)->getSurfaceLevel(0, &s);
    EXPECT_EQ(d.setRenderTarget(0, s), kOk);
    EXPECT_EQ(d.clear(kClearTarget, clearColour, 1.0f, 0), kOk);
    return s;
}

}  // namespace gx::gfx::test
