#include "framework/framework.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "framework/backend.h"
#include "framework/run_options.h"
#include "platform/os/message_box.h"

namespace gx {

double MinimumFrameTime = 1.0 / 30.0;
bool RenderSuppressed = false;

namespace {

struct Callback {
    void* fn = nullptr;
    void* ctx = nullptr;
};

struct AppFramework {
    FrameMoveFn frameMove = nullptr;
    void* frameMoveCtx = nullptr;
    KeyboardFn keyboard = nullptr;
    void* keyboardCtx = nullptr;
    MouseFn mouse = nullptr;
    bool mouseMoves = false;
    void* mouseCtx = nullptr;
    MsgProcFn msgProc = nullptr;
    void* msgProcCtx = nullptr;
    DeviceCreatedFn deviceCreated = nullptr;
    void* deviceCreatedCtx = nullptr;
    DeviceResetFn deviceReset = nullptr;
    void* deviceResetCtx = nullptr;
    DeviceLostFn deviceLost = nullptr;
    void* deviceLostCtx = nullptr;
    DeviceDestroyedFn deviceDestroyed = nullptr;
    void* deviceDestroyedCtx = nullptr;
    FrameRenderFn frameRender = nullptr;
    void* frameRenderCtx = nullptr;

    std::unique_ptr<Backend> backend;
    std::unique_ptr<gfx::Device> device;
    gfx::Caps caps{};
    gfx::SurfaceDesc backBufferDesc{};
    gfx::PresentParameters pp{};
    std::string title;
    std::string frameStatsTemplate;

    bool initialised = false;
    bool windowCreated = false;
    bool deviceObjectsCreated = false;
    bool deviceObjectsReset = false;
    bool deviceLostFlag = false;
    bool showCursorWhenFullScreen = false;
    bool clipCursorWhenFullScreen = true;
    bool quitRequested = false;
    bool insideMainLoop = false;
    int exitCode = 0;
    // The full-screen size to go back to from a window (0: the settings' request).
    uint32_t fullscreenWidth = 0, fullscreenHeight = 0;

    uint64_t frameCount = 0;
    double lastTime = 0;
    float lastElapsed = 0;
    double fpsLastTime = 0;
    uint64_t fpsLastFrame = 0;
    float fps = 0;
    bool keys[256]{};
};

AppFramework& fw() {
    static AppFramework state;
    return state;
}

FrameTimer globalTimer;
volatile std::sig_atomic_t signalled = 0;

void onSignal(int) { signalled = 1; }

const char* formatName(gfx::Format f) {
    switch (f) {
    case gfx::Format::A8R8G8B8: return "A8R8G8B8";
    case gfx::Format::X8R8G8B8: return "X8R8G8B8";
    default: return "UNKNOWN";
    }
}

void updateBackBufferDesc() {
    AppFramework& s = fw();
    s.backBufferDesc = {};
    if (!s.device) return;
    gfx::SurfacePtr bb;
    if (gfx::succeeded(s.device->getBackBuffer(&bb)) && bb) bb->getDesc(&s.backBufferDesc);
}

void buildFrameStatsTemplate() {
    AppFramework& s = fw();
    char buf[256];
    bool immediate = s.pp.presentationInterval == 0x80000000u;
    std::snprintf(buf, sizeof buf, "D3D9 %%sVsync %s (%ux%u), %s", immediate ? "off" : "on",
                  s.pp.backBufferWidth, s.pp.backBufferHeight, formatName(s.pp.backBufferFormat));
    s.frameStatsTemplate = buf;
}

// Picks the back-buffer size: the closest display mode at least as large as the
// request in both directions, else the desktop mode.
void completeSize(gfx::PresentParameters& pp) {
    AppFramework& s = fw();
    gfx::DisplayMode desk = s.backend->desktopMode();
    if (pp.windowed) {
        if (pp.backBufferWidth == 0 || pp.backBufferHeight == 0) {
            DisplaySize ws = s.backend->windowSize();
            pp.backBufferWidth = ws.width ? ws.width : desk.width;
            pp.backBufferHeight = ws.height ? ws.height : desk.height;
        }
        return;
    }
    if (int32_t(pp.backBufferWidth) <= 0 || int32_t(pp.backBufferHeight) <= 0) {
        pp.backBufferWidth = desk.width;
        pp.backBufferHeight = desk.height;
        return;
    }
    const DisplaySize* best = nullptr;
    auto modes = s.backend->displayModes();
    for (const DisplaySize& m : modes) {
        if (m.width < pp.backBufferWidth || m.height < pp.backBufferHeight) continue;
        if (!best || uint64_t(m.width) * m.height < uint64_t(best->width) * best->height) best = &m;
    }
    if (best) {
        pp.backBufferWidth = best->width;
        pp.backBufferHeight = best->height;
    } else {
        pp.backBufferWidth = desk.width;
        pp.backBufferHeight = desk.height;
    }
}

void applyCursorSettings() {
    AppFramework& s = fw();
    if (!s.backend || s.backend->hostedWindow()) return;
    bool full = !s.pp.windowed;
    s.backend->setCursorVisible(!full || s.showCursorWhenFullScreen);
    s.backend->setCursorConfined(full && s.clipCursorWhenFullScreen);
}

void destroyDevice() {
    AppFramework& s = fw();
    if (!s.device) return;
    if (s.deviceObjectsReset && s.deviceLost) s.deviceLost(s.deviceLostCtx);
    s.deviceObjectsReset = false;
    if (s.deviceObjectsCreated && s.deviceDestroyed) s.deviceDestroyed(s.deviceDestroyedCtx);
    s.deviceObjectsCreated = false;
    s.device.reset();
}

// Lost-device handling and size changes go through the same reset path.
gfx::Result resetDevice(const gfx::PresentParameters& wanted) {
    AppFramework& s = fw();
    gfx::PresentParameters pp = wanted;
    completeSize(pp);
    if (s.deviceObjectsReset && s.deviceLost) s.deviceLost(s.deviceLostCtx);
    s.deviceObjectsReset = false;
    s.backend->configure(pp.backBufferWidth, pp.backBufferHeight, pp.windowed);
    gfx::Result r = s.device->reset(pp);
    if (gfx::failed(r)) {
        if (r == gfx::kDeviceLost) {
            s.deviceLostFlag = true;
            return r;
        }
        shutdown(exitCodeForResult(kErrResettingDevice));
        return kErrResettingDevice;
    }
    s.pp = pp;
    s.deviceLostFlag = false;
    updateBackBufferDesc();
    buildFrameStatsTemplate();
    applyCursorSettings();
    if (s.deviceReset) {
        r = s.deviceReset(s.device.get(), s.backBufferDesc, s.deviceResetCtx);
        if (gfx::failed(r)) {
            shutdown(exitCodeForResult(kErrResettingDeviceObjects));
            return kErrResettingDeviceObjects;
        }
    }
    s.deviceObjectsReset = true;
    return gfx::kOk;
}

void updateFrameRate(double absolute) {
    AppFramework& s = fw();
    if (absolute - s.fpsLastTime > 1.0) {
        s.fps = float(double(s.frameCount - s.fpsLastFrame) / (absolute - s.fpsLastTime));
        s.fpsLastTime = absolute;
        s.fpsLastFrame = s.frameCount;
    }
}

void frameStep() {
    AppFramework& s = fw();
    bool virtualClock = s.backend->virtualClock();
    if (s.deviceLostFlag && !virtualClock)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    if (s.deviceLostFlag && s.device) {
        gfx::Result r = s.device->testCooperativeLevel();
        if (r == gfx::kDeviceLost) return;
        if (r == gfx::kDeviceNotReset || gfx::succeeded(r)) {
            if (gfx::failed(resetDevice(s.pp))) return;
        } else {
            return;
        }
    }

    double absolute = 0;
    float elapsedF = 0;
    if (virtualClock) {
        // Exactly one minimum frame per step: the clock never waits on itself.
        globalTimer.advance(MinimumFrameTime);
        globalTimer.timeValues(nullptr, &absolute, &elapsedF);
        elapsedF = float(MinimumFrameTime);
    } else {
        double time = 0;
        globalTimer.timeValues(&time, &absolute, &elapsedF);
        if (!globalTimer.isStopped() && elapsedF < MinimumFrameTime) {
            // The frame's time so far was read above; the wait adds the rest.
            double waited =
                double(elapsedF) + globalTimer.waitForElapsed(MinimumFrameTime - elapsedF);
            // A frame that takes back a late wake-up still counts as a whole one.
            elapsedF = float(std::max(waited, MinimumFrameTime));
            absolute = globalTimer.absoluteTime();
        }
    }
    s.lastTime = absolute;
    s.lastElapsed = elapsedF;

    if (s.frameMove) s.frameMove(absolute, elapsedF, s.frameMoveCtx);
    if (s.quitRequested) return;

    bool presented = false;
    if (!RenderSuppressed && s.device) {
        if (s.frameRender) s.frameRender(s.device.get(), absolute, elapsedF, s.frameRenderCtx);
        if (!RenderSuppressed && !s.quitRequested) {
            gfx::Result r = s.backend->present(*s.device);
            if (r == gfx::kDeviceLost || r == gfx::kDriverInternalError) s.deviceLostFlag = true;
            else presented = gfx::succeeded(r);
        }
    }
    s.frameCount++;
    updateFrameRate(absolute);
    s.backend->afterFrame(s.frameCount, absolute, presented);
}

void toggleFullscreen() {
    AppFramework& s = fw();
    if (!s.device || s.backend->hostedWindow()) return;
    gfx::PresentParameters pp = s.pp;
    pp.windowed = !pp.windowed;
    if (pp.windowed) {
        // Coming back asks for the size the user had, not the desktop's.
        s.fullscreenWidth = s.pp.backBufferWidth;
        s.fullscreenHeight = s.pp.backBufferHeight;
        pp.backBufferWidth = s.pp.backBufferWidth * 3 / 4;
        pp.backBufferHeight = s.pp.backBufferHeight * 3 / 4;
    } else {
        pp.backBufferWidth = s.fullscreenWidth;
        pp.backBufferHeight = s.fullscreenHeight;
    }
    resetDevice(pp);
}

intptr_t sendMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    AppFramework& s = fw();
    if (!s.msgProc) return 0;
    bool noFurther = false;
    return s.msgProc(s.backend ? s.backend->nativeWindow() : nullptr, msg, wparam, lparam,
                     &noFurther, s.msgProcCtx);
}

void dispatch(const InputEvent& e) {
    AppFramework& s = fw();
    switch (e.kind) {
    case InputEvent::Key: {
        if (e.vk < 256) s.keys[e.vk] = e.down;
        if (s.keyboard) s.keyboard(e.vk, e.down, e.alt, s.keyboardCtx);
        if (s.quitRequested) return;
        uint32_t msg =
            e.down ? (e.system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (e.system ? WM_SYSKEYUP : WM_KEYUP);
        sendMessage(msg, e.vk, e.alt ? (1 << 29) : 0);
        if (s.quitRequested || !e.down) return;
        if (s.backend->hostedWindow()) return;
        // The framework's own hot keys. Pause is not one of them: the application's
        // pause is the only one, so a skip can never leave a second one behind.
        if (e.vk == VK_ESCAPE) {
            shutdown(0);
        } else if (e.vk == VK_RETURN && e.alt) {
            toggleFullscreen();
        }
        return;
    }
    case InputEvent::MouseButton: {
        if (s.mouse)
            s.mouse(e.button == 1 && e.down, e.button == 2 && e.down, e.button == 3 && e.down,
                    e.button == 4 && e.down, e.button == 5 && e.down, 0, e.x, e.y, s.mouseCtx);
        if (s.quitRequested || !e.down) return;
        uint32_t msg = e.button == 1   ? WM_LBUTTONDOWN
                       : e.button == 2 ? WM_RBUTTONDOWN
                       : e.button == 3 ? WM_MBUTTONDOWN
                                       : WM_XBUTTONDOWN;
        sendMessage(msg, e.buttonState, (intptr_t(e.y) << 16) | (e.x & 0xFFFF));
        return;
    }
    case InputEvent::MouseMove:
        if (s.mouse && s.mouseMoves)
            s.mouse(false, false, false, false, false, 0, e.x, e.y, s.mouseCtx);
        sendMessage(WM_MOUSEMOVE, e.buttonState, (intptr_t(e.y) << 16) | (e.x & 0xFFFF));
        return;
    case InputEvent::Wheel:
        if (s.mouse) s.mouse(false, false, false, false, false, e.wheel, e.x, e.y, s.mouseCtx);
        return;
    case InputEvent::Resize: {
        // A window's new size, or (full screen) the display's: both reset the device.
        if (!s.device) return;
        if (e.width == s.pp.backBufferWidth && e.height == s.pp.backBufferHeight) return;
        gfx::PresentParameters pp = s.pp;
        pp.backBufferWidth = e.width;
        pp.backBufferHeight = e.height;
        resetDevice(pp);
        return;
    }
    case InputEvent::ToggleFullscreen: toggleFullscreen(); return;
    case InputEvent::Close: s.quitRequested = true; return;
    }
}

}  // namespace

int exitCodeForResult(gfx::Result r) {
    switch (uint32_t(r)) {
    case 0x80040901u: return 2;
    case 0x80040902u: return 3;
    case 0x80040903u: return 4;
    case 0x80040904u: return 5;
    case 0x80040905u: return 6;
    case 0x80040906u: return 7;
    case 0x80040907u: return 8;
    case 0x80040908u: return 9;
    case 0x8004090au: return 11;
    default: return 1;
    }
}

const char* messageForResult(gfx::Result r) {
    switch (uint32_t(r)) {
    case 0x80040901u:
        return "Could not initialize Direct3D 9. Check that the latest version of DirectX is "
               "correctly installed on your system.  Also make sure that this program was "
               "compiled with header files that match the installed DirectX DLLs.";
    case 0x80040902u: return "Could not find any compatible Direct3D devices.";
    case 0x80040903u: return "Could not find required media.";
    case 0x80040904u:
        return "The Direct3D device has a non-zero reference count, meaning some objects "
               "were not released.";
    case 0x80040905u: return "Failed creating the Direct3D device.";
    case 0x80040906u: return "Failed resetting the Direct3D device.";
    case 0x80040907u: return "An error occurred in the device create callback function.";
    case 0x80040908u: return "An error occurred in the device reset callback function.";
    case 0x8004090au: return "The Direct3D device was removed.";
    default: return "";
    }
}

void setCallbackFrameMove(FrameMoveFn fn, void* ctx) {
    fw().frameMove = fn;
    fw().frameMoveCtx = ctx;
}
void setCallbackKeyboard(KeyboardFn fn, void* ctx) {
    fw().keyboard = fn;
    fw().keyboardCtx = ctx;
}
void setCallbackMouse(MouseFn fn, bool includeMouseMove, void* ctx) {
    fw().mouse = fn;
    fw().mouseMoves = includeMouseMove;
    fw().mouseCtx = ctx;
}
void setCallbackMsgProc(MsgProcFn fn, void* ctx) {
    fw().msgProc = fn;
    fw().msgProcCtx = ctx;
}
void setCallbackDeviceCreated(DeviceCreatedFn fn, void* ctx) {
    fw().deviceCreated = fn;
    fw().deviceCreatedCtx = ctx;
}
void setCallbackDeviceReset(DeviceResetFn fn, void* ctx) {
    fw().deviceReset = fn;
    fw().deviceResetCtx = ctx;
}
void setCallbackDeviceLost(DeviceLostFn fn, void* ctx) {
    fw().deviceLost = fn;
    fw().deviceLostCtx = ctx;
}
void setCallbackDeviceDestroyed(DeviceDestroyedFn fn, void* ctx) {
    fw().deviceDestroyed = fn;
    fw().deviceDestroyedCtx = ctx;
}
void setCallbackFrameRender(FrameRenderFn fn, void* ctx) {
    fw().frameRender = fn;
    fw().frameRenderCtx = ctx;
}
FrameRenderFn getCallbackFrameRender() { return fw().frameRender; }

void setCursorSettings(bool showCursorWhenFullScreen, bool clipCursorWhenFullScreen) {
    fw().showCursorWhenFullScreen = showCursorWhenFullScreen;
    fw().clipCursorWhenFullScreen = clipCursorWhenFullScreen;
}

gfx::Result init(bool, bool, const char*, bool) {
    AppFramework& s = fw();
    if (!s.backend)
        s.backend = runOptions().headless ? makeHeadlessBackend() : makeDisplayBackend();
    if (!s.backend) {
        s.exitCode = exitCodeForResult(kErrNoDirect3D);
        return kErrNoDirect3D;
    }
    globalTimer.setVirtual(s.backend->virtualClock());
    globalTimer.reset();
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    s.initialised = true;
    return gfx::kOk;
}

gfx::Result createWindow(const std::string& title) {
    AppFramework& s = fw();
    if (!s.initialised) init(false, false, nullptr, false);
    s.title = title.empty() ? "Direct3D Window" : title;
    if (!s.backend->createWindow(s.title)) {
        shutdown(exitCodeForResult(kErrNoCompatibleDevices));
        return kErrNoCompatibleDevices;
    }
    s.windowCreated = true;
    setMessageBoxParent(s.backend->nativeWindow(), [] {
        AppFramework& st = fw();
        if (st.backend) {
            st.backend->setCursorConfined(false);
            st.backend->setCursorVisible(true);
        }
    });
    return gfx::kOk;
}

gfx::Result createDeviceFromSettings(const DeviceSettings& settings, bool, bool) {
    AppFramework& s = fw();
    if (!s.windowCreated) {
        gfx::Result r = createWindow("");
        if (gfx::failed(r)) return r;
    }
    gfx::PresentParameters pp = settings.pp;
    if (runOptions().windowed || s.backend->hostedWindow()) {
        pp.windowed = true;
        pp.backBufferWidth = 0;
        pp.backBufferHeight = 0;
    }
    completeSize(pp);
    s.backend->configure(pp.backBufferWidth, pp.backBufferHeight, pp.windowed);
    gfx::DeviceOptions opts;
    opts.desktop = s.backend->desktopMode();
    gfx::Result r = gfx::createDevice(pp, opts, &s.device);
    if (gfx::failed(r) || !s.device) {
        s.device.reset();
        shutdown(exitCodeForResult(kErrCreatingDevice));
        return kErrCreatingDevice;
    }
    s.pp = pp;
    s.fullscreenWidth = settings.pp.backBufferWidth;
    s.fullscreenHeight = settings.pp.backBufferHeight;
    s.device->getDeviceCaps(&s.caps);
    updateBackBufferDesc();
    buildFrameStatsTemplate();
    applyCursorSettings();
    if (s.deviceCreated) {
        r = s.deviceCreated(s.device.get(), s.backBufferDesc, s.deviceCreatedCtx);
        if (gfx::failed(r)) {
            shutdown(exitCodeForResult(kErrCreatingDeviceObjects));
            destroyDevice();
            return kErrCreatingDeviceObjects;
        }
    }
    s.deviceObjectsCreated = true;
    if (!s.quitRequested && s.deviceReset) {
        r = s.deviceReset(s.device.get(), s.backBufferDesc, s.deviceResetCtx);
        if (gfx::failed(r)) {
            shutdown(exitCodeForResult(kErrResettingDeviceObjects));
            destroyDevice();
            return kErrResettingDeviceObjects;
        }
    }
    s.deviceObjectsReset = true;
    if (s.quitRequested) destroyDevice();
    return gfx::kOk;
}

gfx::Result mainLoop() {
    AppFramework& s = fw();
    if (!s.initialised || !s.device) return kErrNoDirect3D;
    s.insideMainLoop = true;
    std::vector<InputEvent> events;
    while (!s.quitRequested) {
        if (signalled) {
            shutdown(0);
            break;
        }
        events.clear();
        s.backend->pollEvents(events);
        for (const InputEvent& e : events) {
            dispatch(e);
            if (s.quitRequested) break;
        }
        if (s.quitRequested) break;
        frameStep();
        double limit = runOptions().seconds;
        if (limit > 0 && s.backend->virtualClock() && s.lastTime >= limit) s.quitRequested = true;
    }
    s.insideMainLoop = false;
    RenderSuppressed = true;
    destroyDevice();
    return gfx::kOk;
}

gfx::Result shutdown(int exitCode) {
    AppFramework& s = fw();
    // Only the first request decides the exit code: a failure is not overwritten by
    // the quiet shutdowns that follow it.
    if (!s.quitRequested || s.exitCode == 0) s.exitCode = exitCode;
    s.quitRequested = true;
    RenderSuppressed = true;
    return gfx::kOk;
}

int getExitCode() { return fw().exitCode; }
void* getHwnd() { return fw().backend ? fw().backend->nativeWindow() : nullptr; }
gfx::Device* getD3D9Device() { return fw().device.get(); }
const gfx::Caps* getD3D9DeviceCaps() { return fw().device ? &fw().caps : nullptr; }
const gfx::SurfaceDesc* getD3D9BackBufferSurfaceDesc() { return &fw().backBufferDesc; }
FrameTimer* getGlobalTimer() { return &globalTimer; }
std::string getWindowTitle() { return fw().title; }
bool isWindowed() { return fw().pp.windowed; }

std::string getDeviceStats() {
    AppFramework& s = fw();
    std::string desc = s.device ? s.device->options().description : std::string();
    return "SW (sw vp): " + desc;
}

std::string getFrameStats(bool includeFrameRate) {
    AppFramework& s = fw();
    char rate[32] = "";
    if (includeFrameRate) std::snprintf(rate, sizeof rate, "%0.2f fps ", double(s.fps));
    std::string t = s.frameStatsTemplate;
    size_t pos = t.find("%s");
    if (pos != std::string::npos) t.replace(pos, 2, rate);
    return t;
}

void frameworkCleanup() {
    AppFramework& s = fw();
    destroyDevice();
    if (s.backend) {
        s.backend->destroyBlankWindows();
        s.backend->destroyWindow();
    }
    setMessageBoxParent(nullptr, nullptr);
}

void frameworkResetForTests() {
    frameworkCleanup();
    AppFramework& s = fw();
    s.backend.reset();
    s = AppFramework{};
    MinimumFrameTime = 1.0 / 30.0;
    RenderSuppressed = false;
    signalled = 0;
}

void setBackendForTests(std::unique_ptr<Backend> backend) { fw().backend = std::move(backend); }

void runFrameStepForTests() {
    // One turn of the main loop: pending input first, then the frame.
    AppFramework& s = fw();
    if (s.quitRequested || !s.backend) return;
    std::vector<InputEvent> events;
    s.backend->pollEvents(events);
    for (const InputEvent& e : events) {
        dispatch(e);
        if (s.quitRequested) return;
    }
    frameStep();
}

void dispatchForTests(const InputEvent& e) { dispatch(e); }

void createBlankWindows() {
    if (fw().backend) fw().backend->createBlankWindows();
}

void getCursorPos(int* x, int* y) {
    *x = *y = 0;
    if (fw().backend) fw().backend->cursorPos(x, y);
}

bool hostedWindow() { return fw().backend && fw().backend->hostedWindow(); }

void requestSignalForTests() { signalled = 1; }

}  // namespace gx
