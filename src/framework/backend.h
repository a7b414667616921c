// What the framework needs of a display: a window (or an offscreen stand-in), the
// display's modes, input as plain event records, and a way to show finished frames.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/gfx.h"

namespace gx {

struct InputEvent {
    enum Kind { Key, MouseButton, MouseMove, Wheel, Resize, ToggleFullscreen, Close };
    Kind kind = Key;
    uint32_t vk = 0;  // Windows virtual-key code
    bool down = false;
    bool alt = false;
    bool system = false;       // would be a WM_SYS* message on Windows
    int button = 0;            // 1 left, 2 right, 3 middle, 4 X1, 5 X2
    uint32_t buttonState = 0;  // MK_* flags
    int x = 0, y = 0;          // screen coordinates for mouse events
    int wheel = 0;
    uint32_t width = 0, height = 0;  // Resize
};

struct DisplaySize {
    uint32_t width = 0, height = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual bool createWindow(const std::string& title) = 0;
    virtual gfx::DisplayMode desktopMode() = 0;
    virtual std::vector<DisplaySize> displayModes() = 0;
    // Sets the window up to show back buffers of this size.
    virtual bool configure(uint32_t width, uint32_t height, bool windowed) = 0;
    virtual void pollEvents(std::vector<InputEvent>& out) = 0;
    // Shows the device's frame: the device's present writes it once into whatever the
    // window shows. Returns the present's result.
    virtual gfx::Result present(gfx::Device& device) = 0;
    virtual bool virtualClock() const = 0;
    virtual void cursorPos(int* x, int* y) = 0;
    virtual void* nativeWindow() = 0;
    // The window's size when windowed (for a resize or a toggle).
    virtual DisplaySize windowSize() = 0;
    virtual void createBlankWindows() {}
    virtual void destroyBlankWindows() {}
    virtual void setCursorVisible(bool) {}
    virtual void setCursorConfined(bool) {}
    // Called after each presented frame: frame number, absolute time.
    virtual void afterFrame(uint64_t, double, bool) {}
    virtual void destroyWindow() {}
    // True when drawing into a window someone else owns (a screensaver host).
    virtual bool hostedWindow() const { return false; }
};

// Where a frame of w x h lands in a window of tw x th: as large as fits with its
// aspect kept, centred (a smaller back buffer shows as a mode switch would show it).
inline gfx::Rect fitFrame(uint32_t tw, uint32_t th, uint32_t w, uint32_t h) {
    if (w == 0 || h == 0) return gfx::Rect{};
    uint64_t fw = tw, fh = uint64_t(h) * tw / w;
    if (fh > th) {
        fh = th;
        fw = uint64_t(w) * th / h;
    }
    int32_t x = int32_t((tw - fw) / 2), y = int32_t((th - fh) / 2);
    return gfx::Rect{x, y, x + int32_t(fw), y + int32_t(fh)};
}

// The real display: our own SDL window, or the window a screensaver host gives.
std::unique_ptr<Backend> makeDisplayBackend();
std::unique_ptr<Backend> makeSdlBackend();
std::unique_ptr<Backend> makeX11HostBackend();
std::unique_ptr<Backend> makeHeadlessBackend();

}  // namespace gx
