// The callbacks start-up hands to the framework: frame move, input, device lifetime.
#pragma once

#include <cstdint>

#include "platform/gfx/gfx.h"

namespace gx {

extern double lastMoveTime;
extern int32_t lastCursorX;
extern int32_t lastCursorY;

void onFrameMove(double time, float elapsed, void* ctx);
void onKeyboard(uint32_t key, bool keyDown, bool altDown, void* ctx);
void onMouse(bool left, bool right, bool middle, bool x1, bool x2, int wheel, int x, int y,
             void* ctx);
intptr_t onMessage(void* window, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                   bool* noFurtherProcessing, void* ctx);
gfx::Result onDeviceCreatedCallback(gfx::Device* device, const gfx::SurfaceDesc& bb, void* ctx);
gfx::Result onDeviceResetCallback(gfx::Device* device, const gfx::SurfaceDesc& bb, void* ctx);
void onDeviceLostCallback(void* ctx);
void onDeviceDestroyedCallback(void* ctx);

// Registers every callback but frame render, in start-up's order.
void registerCallbacks();
void resetCallbacksForTests();

}  // namespace gx
