// The application framework: one window (or an offscreen display), the device, the
// message pump, the frame clock and pacing, and the table of callbacks through which
// the rest of the program is called. The application registers callbacks, asks for
// the window and the device, and hands control to mainLoop until the window closes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/frame_timer.h"
#include "platform/gfx/gfx.h"

namespace gx {

// Window messages and virtual-key codes the application tests, as Windows numbers them.
constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_SYSKEYDOWN = 0x0104;
constexpr uint32_t WM_SYSKEYUP = 0x0105;
constexpr uint32_t WM_MOUSEMOVE = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
constexpr uint32_t WM_RBUTTONUP = 0x0205;
constexpr uint32_t WM_MBUTTONDOWN = 0x0207;
constexpr uint32_t WM_MBUTTONUP = 0x0208;
constexpr uint32_t WM_XBUTTONDOWN = 0x020B;

constexpr uint32_t VK_LBUTTON = 0x01;
constexpr uint32_t VK_RETURN = 0x0D;
constexpr uint32_t VK_MENU = 0x12;
constexpr uint32_t VK_PAUSE = 19;
constexpr uint32_t VK_ESCAPE = 27;
constexpr uint32_t VK_SPACE = 0x20;
constexpr uint32_t VK_F10 = 0x79;
constexpr uint32_t VK_ADD = 107;
constexpr uint32_t VK_SUBTRACT = 109;
constexpr uint32_t VK_OEM_PLUS = 187;
constexpr uint32_t VK_OEM_MINUS = 189;

// Framework failure results and the exit codes they set.
constexpr gfx::Result kErrNoDirect3D = int32_t(0x80040901u);
constexpr gfx::Result kErrNoCompatibleDevices = int32_t(0x80040902u);
constexpr gfx::Result kErrMediaNotFound = int32_t(0x80040903u);
constexpr gfx::Result kErrNonZeroRefCount = int32_t(0x80040904u);
constexpr gfx::Result kErrCreatingDevice = int32_t(0x80040905u);
constexpr gfx::Result kErrResettingDevice = int32_t(0x80040906u);
constexpr gfx::Result kErrCreatingDeviceObjects = int32_t(0x80040907u);
constexpr gfx::Result kErrResettingDeviceObjects = int32_t(0x80040908u);
constexpr gfx::Result kErrDeviceRemoved = int32_t(0x8004090au);
int exitCodeForResult(gfx::Result r);
const char* messageForResult(gfx::Result r);

using FrameMoveFn = void (*)(double time, float elapsed, void* ctx);
using KeyboardFn = void (*)(uint32_t key, bool keyDown, bool altDown, void* ctx);
using MouseFn = void (*)(bool left, bool right, bool middle, bool x1, bool x2, int wheel, int x,
                         int y, void* ctx);
using MsgProcFn = intptr_t (*)(void* window, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                               bool* noFurtherProcessing, void* ctx);
using DeviceCreatedFn = gfx::Result (*)(gfx::Device* device, const gfx::SurfaceDesc& backBuffer,
                                        void* ctx);
using DeviceResetFn = DeviceCreatedFn;
using DeviceLostFn = void (*)(void* ctx);
using DeviceDestroyedFn = void (*)(void* ctx);
using FrameRenderFn = void (*)(gfx::Device* device, double time, float elapsed, void* ctx);

void setCallbackFrameMove(FrameMoveFn fn, void* ctx = nullptr);
void setCallbackKeyboard(KeyboardFn fn, void* ctx = nullptr);
void setCallbackMouse(MouseFn fn, bool includeMouseMove, void* ctx = nullptr);
void setCallbackMsgProc(MsgProcFn fn, void* ctx = nullptr);
void setCallbackDeviceCreated(DeviceCreatedFn fn, void* ctx = nullptr);
void setCallbackDeviceReset(DeviceResetFn fn, void* ctx = nullptr);
void setCallbackDeviceLost(DeviceLostFn fn, void* ctx = nullptr);
void setCallbackDeviceDestroyed(DeviceDestroyedFn fn, void* ctx = nullptr);
void setCallbackFrameRender(FrameRenderFn fn, void* ctx = nullptr);
FrameRenderFn getCallbackFrameRender();

// The device request: zero fields are completed by the framework.
struct DeviceSettings {
    uint32_t deviceVersion = 0;
    uint32_t behaviorFlags = 0;
    gfx::PresentParameters pp;
};
constexpr uint32_t kCreateScreensaver = 0x10000000;

// How the framework shows frames and takes input.
enum class BackendKind { Sdl, Headless };

struct HeadlessOptions {
    uint32_t desktopWidth = 1600;
    uint32_t desktopHeight = 1200;
};

void setCursorSettings(bool showCursorWhenFullScreen, bool clipCursorWhenFullScreen);
gfx::Result init(bool parseCommandLine, bool showMsgBoxOnError, const char* extraCommandLine,
                 bool threadSafe);
gfx::Result createWindow(const std::string& title);
gfx::Result createDeviceFromSettings(const DeviceSettings& settings, bool preserveInput,
                                     bool clipWindowToSingleAdapter);
gfx::Result mainLoop();
// Records the request; the device is destroyed after the current callback returns.
gfx::Result shutdown(int exitCode = 0);
int getExitCode();
void* getHwnd();
gfx::Device* getD3D9Device();
const gfx::Caps* getD3D9DeviceCaps();
const gfx::SurfaceDesc* getD3D9BackBufferSurfaceDesc();
FrameTimer* getGlobalTimer();
std::string getWindowTitle();
bool isWindowed();
std::string getDeviceStats();
std::string getFrameStats(bool includeFrameRate);

// Destroys the device and the window; start-up calls it last.
void frameworkCleanup();
// Covers every display but the primary with a borderless black window (once per run).
void createBlankWindows();
// The cursor position in screen coordinates.
void getCursorPos(int* x, int* y);
// True when drawing into a window a screensaver host gave us.
bool hostedWindow();

// Test hooks.
class Backend;
struct InputEvent;
void frameworkResetForTests();
void setBackendForTests(std::unique_ptr<Backend> backend);
void runFrameStepForTests();
void dispatchForTests(const InputEvent& e);
void requestSignalForTests();

// Process-wide values.
extern double MinimumFrameTime;
extern bool RenderSuppressed;

}  // namespace gx
