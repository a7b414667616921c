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
    bool system = false;  // would be a WM_SYS* message on Windows
    int button = 0;       // 1 left, 2 right, 3 middle
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
    virtual void present(const uint32_t* pixels, uint32_t width, uint32_t height) = 0;
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

std::unique_ptr<Backend> makeSdlBackend();
std::unique_ptr<Backend> makeHeadlessBackend();

}  // namespace gx
