#include "app/callbacks.h"

#include "app/phases.h"
#include "app/startup.h"
#include "config/settings.h"
#include "framework/framework.h"
#include "render/resources.h"
#include "universe/world.h"

namespace gx {

double lastMoveTime = 0;
int32_t lastCursorX = -1;
int32_t lastCursorY = -1;

namespace {

bool isSpeedKey(uintptr_t key) {
    return key == VK_ADD || key == VK_SUBTRACT || key == VK_OEM_PLUS || key == VK_OEM_MINUS;
}

// The next picture comes moving: a skip also ends a pause, in every phase, so a paused
// saver can never be left on a held, still black first frame.
void skipPicture() {
    PauseFlag = false;
    switchState(&windUpState);
}

}  // namespace

void onFrameMove(double, float elapsed, void*) {
    stateBeforeUpdate();
    if (!phaseHeld() && !RenderSuppressed) stateUpdate(elapsed);
}

void onKeyboard(uint32_t key, bool keyDown, bool, void*) {
    if (stateOnKey(keyDown, key)) return;
    if (key == VK_PAUSE) {
        if (!keyDown) PauseFlag = !PauseFlag;
        return;
    }
    if (!keyDown) return;
    if (key == VK_ADD || key == VK_OEM_PLUS) {
        if (settings.GameSpeed != 10) settings.GameSpeed += 1;
    } else if (key == VK_SUBTRACT || key == VK_OEM_MINUS) {
        if (settings.GameSpeed != 1) settings.GameSpeed -= 1;
    } else {
        return;
    }
    // Saved even when a limit stopped the change.
    saveSettings();
    setSpeed(float(settings.GameSpeed) / 10.0f);
}

void onMouse(bool, bool, bool, bool, bool, int, int, int, void*) {}

intptr_t onMessage(void*, uint32_t msg, uintptr_t wparam, intptr_t, bool*, void*) {
    switch (msg) {
    case WM_KEYUP:
        if (wparam == VK_ESCAPE) {
            shutdown(0);
            return getExitCode();
        }
        // Pause holds the phases; it does not also skip the picture.
        if (isSpeedKey(wparam) || wparam == VK_PAUSE) return 0;
        skipPicture();
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        // A click always skips, whatever buttons and modifier keys it carries.
        skipPicture();
        return 0;
    case WM_MOUSEMOVE: {
        double t = getGlobalTimer()->absoluteTime();
        if (lastMoveTime > 3.0) {
            int x = 0, y = 0;
            getCursorPos(&x, &y);
            if (lastCursorX != -1 && lastCursorY != -1 && x != lastCursorX && y != lastCursorY) {
                shutdown(0);
                return getExitCode();
            }
            lastCursorX = x;
            lastCursorY = y;
        }
        lastMoveTime = t;
        return 0;
    }
    default: return 0;
    }
}

gfx::Result onDeviceCreatedCallback(gfx::Device* device, const gfx::SurfaceDesc&, void*) {
    onDeviceCreated(device);
    createBlankWindows();
    return gfx::kOk;
}

gfx::Result onDeviceResetCallback(gfx::Device* device, const gfx::SurfaceDesc& bb, void*) {
    gfx::Result r = onDeviceReset(device);
    if (gfx::failed(r)) return r;
    // Only a full-screen device tells the size the user gets next time; a window or a
    // host's window would shrink the saver's screen run after run.
    if (!isWindowed() && !hostedWindow()) {
        settings.ScreenWidth = int32_t(bb.width) + 2;
        settings.ScreenHeight = int32_t(bb.height) + 2;
    }
    if (!CreatingDevice && !hostedWindow()) settings.Fullscreen = !isWindowed();
    saveSettings();
    return gfx::kOk;
}

void onDeviceLostCallback(void*) { onDeviceLost(); }

void onDeviceDestroyedCallback(void*) { onDeviceDestroyed(); }

void registerCallbacks() {
    setCallbackDeviceCreated(onDeviceCreatedCallback);
    setCallbackDeviceReset(onDeviceResetCallback);
    setCallbackDeviceLost(onDeviceLostCallback);
    setCallbackDeviceDestroyed(onDeviceDestroyedCallback);
    setCallbackMsgProc(onMessage);
    setCallbackKeyboard(onKeyboard);
    setCallbackMouse(onMouse, false);
    setCallbackFrameMove(onFrameMove);
}

void resetCallbacksForTests() {
    lastMoveTime = 0;
    lastCursorX = -1;
    lastCursorY = -1;
}

}  // namespace gx
