// The real display through SDL2: a borderless full-screen window on the primary
// display (no mode switch), a resizable window with --windowed, or a screensaver
// host's window. Frames are uploaded to a streaming texture, or straight into the
// window surface of a host's window.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/framework.h"
#include "framework/run_options.h"

namespace gx {
namespace {

uint32_t translateKey(SDL_Keycode k) {
    if (k >= SDLK_a && k <= SDLK_z) return uint32_t('A' + (k - SDLK_a));
    if (k >= SDLK_0 && k <= SDLK_9) return uint32_t('0' + (k - SDLK_0));
    if (k >= SDLK_F1 && k <= SDLK_F12) return uint32_t(0x70 + (k - SDLK_F1));
    if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return uint32_t(0x61 + (k - SDLK_KP_1));
    switch (k) {
        case SDLK_ESCAPE: return VK_ESCAPE;
        case SDLK_PAUSE: return VK_PAUSE;
        case SDLK_KP_PLUS: return VK_ADD;
        case SDLK_KP_MINUS: return VK_SUBTRACT;
        case SDLK_EQUALS:
        case SDLK_PLUS: return VK_OEM_PLUS;
        case SDLK_MINUS: return VK_OEM_MINUS;
        case SDLK_RETURN:
        case SDLK_KP_ENTER: return VK_RETURN;
        case SDLK_SPACE: return VK_SPACE;
        case SDLK_TAB: return 0x09;
        case SDLK_BACKSPACE: return 0x08;
        case SDLK_LEFT: return 0x25;
        case SDLK_UP: return 0x26;
        case SDLK_RIGHT: return 0x27;
        case SDLK_DOWN: return 0x28;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT: return 0x10;
        case SDLK_LCTRL:
        case SDLK_RCTRL: return 0x11;
        case SDLK_LALT:
        case SDLK_RALT: return VK_MENU;
        case SDLK_KP_0: return 0x60;
        case SDLK_DELETE: return 0x2E;
        case SDLK_HOME: return 0x24;
        case SDLK_END: return 0x23;
        default: return 0xDF;  // any other key: an otherwise unused code
    }
}

class SdlBackend : public Backend {
public:
    ~SdlBackend() override {
        destroyBlankWindows();
        destroyWindow();
        if (inited_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    bool createWindow(const std::string& title) override {
        // Never keep the desktop awake or hold off a real screensaver host.
        SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
        SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            SDL_Log("SDL: %s", SDL_GetError());
            return false;
        }
        inited_ = true;
        title_ = title;
        const RunOptions& o = runOptions();
        unsigned long host = o.hostWindow;
        if (!host && o.root) {
            if (Display* d = XOpenDisplay(nullptr)) {
                host = DefaultRootWindow(d);
                XCloseDisplay(d);
            }
        }
        if (host) {
            window_ = SDL_CreateWindowFrom(reinterpret_cast<void*>(host));
            if (!window_) return false;
            hosted_ = true;
            hostId_ = host;
            xdisplay_ = XOpenDisplay(nullptr);
            return true;
        }
        SDL_Rect bounds{0, 0, 1600, 1200};
        SDL_GetDisplayBounds(0, &bounds);
        Uint32 flags = SDL_WINDOW_BORDERLESS;
        if (!o.windowed) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        else flags = SDL_WINDOW_RESIZABLE;
        int w = o.windowed ? bounds.w * 3 / 4 : bounds.w;
        int h = o.windowed ? bounds.h * 3 / 4 : bounds.h;
        window_ = SDL_CreateWindow(title.c_str(), o.windowed ? SDL_WINDOWPOS_CENTERED : bounds.x,
                                   o.windowed ? SDL_WINDOWPOS_CENTERED : bounds.y, w, h, flags);
        if (!window_) {
            SDL_Log("SDL: %s", SDL_GetError());
            return false;
        }
        windowed_ = o.windowed;
        renderer_ = SDL_CreateRenderer(window_, -1, 0);
        if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
        return renderer_ != nullptr;
    }

    gfx::DisplayMode desktopMode() override {
        if (hosted_) {
            DisplaySize s = windowSize();
            return gfx::DisplayMode{s.width, s.height, 60, gfx::Format::X8R8G8B8};
        }
        SDL_DisplayMode m{};
        if (SDL_GetDesktopDisplayMode(0, &m) != 0) {
            SDL_Rect b{0, 0, 1600, 1200};
            SDL_GetDisplayBounds(0, &b);
            m.w = b.w;
            m.h = b.h;
            m.refresh_rate = 60;
        }
        return gfx::DisplayMode{uint32_t(m.w), uint32_t(m.h), uint32_t(m.refresh_rate),
                                gfx::Format::X8R8G8B8};
    }

    std::vector<DisplaySize> displayModes() override {
        std::vector<DisplaySize> modes;
        int n = SDL_GetNumDisplayModes(0);
        for (int i = 0; i < n; ++i) {
            SDL_DisplayMode m{};
            if (SDL_GetDisplayMode(0, i, &m) == 0) modes.push_back({uint32_t(m.w), uint32_t(m.h)});
        }
        gfx::DisplayMode d = desktopMode();
        modes.push_back({d.width, d.height});
        return modes;
    }

    bool configure(uint32_t width, uint32_t height, bool windowed) override {
        if (!window_) return false;
        if (hosted_) return true;
        if (windowed != windowed_) {
            SDL_SetWindowFullscreen(window_, windowed ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
            SDL_SetWindowBordered(window_, windowed ? SDL_TRUE : SDL_FALSE);
            SDL_SetWindowResizable(window_, windowed ? SDL_TRUE : SDL_FALSE);
            windowed_ = windowed;
        }
        if (windowed) {
            int w = 0, h = 0;
            SDL_GetWindowSize(window_, &w, &h);
            if (uint32_t(w) != width || uint32_t(h) != height) {
                SDL_SetWindowSize(window_, int(width), int(height));
            }
        } else {
            // Without a window manager the full-screen flag alone keeps the old size.
            SDL_Rect b{};
            if (SDL_GetDisplayBounds(0, &b) == 0) {
                SDL_SetWindowPosition(window_, b.x, b.y);
                SDL_SetWindowSize(window_, b.w, b.h);
            }
        }
        if (texture_) SDL_DestroyTexture(texture_);
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888,
                                     SDL_TEXTUREACCESS_STREAMING, int(width), int(height));
        SDL_ShowWindow(window_);
        SDL_RaiseWindow(window_);
        return texture_ != nullptr;
    }

    void pollEvents(std::vector<InputEvent>& out) override {
        SDL_Event ev;
        while (SDL_PollEvent(&ev)) translate(ev, out);
        if (hosted_) pollHostSize(out);
    }

    void present(const uint32_t* pixels, uint32_t width, uint32_t height) override {
        if (hosted_) {
            presentToSurface(pixels, width, height);
            return;
        }
        if (!renderer_ || !texture_) return;
        SDL_UpdateTexture(texture_, nullptr, pixels, int(width * 4));
        SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
        SDL_RenderClear(renderer_);
        int ww = 0, wh = 0;
        SDL_GetRendererOutputSize(renderer_, &ww, &wh);
        SDL_Rect dst{0, 0, ww, wh};
        if (!windowed_ && width && height) {
            // A smaller back buffer fills the screen with its aspect kept, as a mode
            // switch would have shown it.
            double sx = double(ww) / width, sy = double(wh) / height;
            double s = sx < sy ? sx : sy;
            dst.w = int(width * s);
            dst.h = int(height * s);
            dst.x = (ww - dst.w) / 2;
            dst.y = (wh - dst.h) / 2;
        }
        SDL_RenderCopy(renderer_, texture_, nullptr, &dst);
        SDL_RenderPresent(renderer_);
    }

    bool virtualClock() const override { return false; }

    void cursorPos(int* x, int* y) override { SDL_GetGlobalMouseState(x, y); }

    void* nativeWindow() override { return window_; }

    DisplaySize windowSize() override {
        if (hosted_ && xdisplay_) {
            XWindowAttributes a{};
            if (XGetWindowAttributes(xdisplay_, Window(hostId_), &a))
                return {uint32_t(a.width), uint32_t(a.height)};
        }
        int w = 0, h = 0;
        if (window_) SDL_GetWindowSize(window_, &w, &h);
        return {uint32_t(w), uint32_t(h)};
    }

    void createBlankWindows() override {
        if (blanksMade_ || hosted_) return;
        blanksMade_ = true;
        int n = SDL_GetNumVideoDisplays();
        for (int i = 1; i < n; ++i) {
            SDL_Rect b{};
            if (SDL_GetDisplayBounds(i, &b) != 0) continue;
            SDL_Window* w = SDL_CreateWindow("", b.x, b.y, b.w, b.h,
                                             SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP);
            if (!w) continue;
            if (SDL_Surface* s = SDL_GetWindowSurface(w)) {
                SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));
                SDL_UpdateWindowSurface(w);
            }
            blanks_.push_back(w);
        }
    }

    void destroyBlankWindows() override {
        for (SDL_Window* w : blanks_) SDL_DestroyWindow(w);
        blanks_.clear();
    }

    void setCursorVisible(bool visible) override { SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE); }

    void setCursorConfined(bool confined) override {
        if (window_ && !hosted_) SDL_SetWindowGrab(window_, confined ? SDL_TRUE : SDL_FALSE);
    }

    void destroyWindow() override {
        if (texture_) SDL_DestroyTexture(texture_);
        texture_ = nullptr;
        if (renderer_) SDL_DestroyRenderer(renderer_);
        renderer_ = nullptr;
        if (window_) SDL_DestroyWindow(window_);
        window_ = nullptr;
        if (xdisplay_) XCloseDisplay(xdisplay_);
        xdisplay_ = nullptr;
    }

    bool hostedWindow() const override { return hosted_; }

private:
    void translate(const SDL_Event& ev, std::vector<InputEvent>& out) {
        InputEvent e;
        switch (ev.type) {
            case SDL_QUIT:
                if (!hosted_) {
                    e.kind = InputEvent::Close;
                    out.push_back(e);
                }
                break;
            case SDL_KEYDOWN:
            case SDL_KEYUP: {
                if (hosted_) break;  // the host ends us, not the keyboard
                e.kind = InputEvent::Key;
                e.vk = translateKey(ev.key.keysym.sym);
                e.down = ev.type == SDL_KEYDOWN;
                e.alt = (ev.key.keysym.mod & KMOD_ALT) != 0 || e.vk == VK_MENU;
                // Alt, F10 and keys with Alt held arrive as system keys on Windows.
                e.system = e.alt || e.vk == VK_F10;
                out.push_back(e);
                break;
            }
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP: {
                if (hosted_) break;
                e.kind = InputEvent::MouseButton;
                e.down = ev.type == SDL_MOUSEBUTTONDOWN;
                e.button = ev.button.button == SDL_BUTTON_LEFT    ? 1
                           : ev.button.button == SDL_BUTTON_RIGHT ? 2
                                                                  : 3;
                Uint32 st = SDL_GetMouseState(nullptr, nullptr);
                if (st & SDL_BUTTON_LMASK) e.buttonState |= 0x1;
                if (st & SDL_BUTTON_RMASK) e.buttonState |= 0x2;
                if (st & SDL_BUTTON_MMASK) e.buttonState |= 0x10;
                SDL_GetGlobalMouseState(&e.x, &e.y);
                out.push_back(e);
                break;
            }
            case SDL_MOUSEMOTION:
                if (hosted_) break;
                e.kind = InputEvent::MouseMove;
                SDL_GetGlobalMouseState(&e.x, &e.y);
                out.push_back(e);
                break;
            case SDL_MOUSEWHEEL:
                if (hosted_) break;
                e.kind = InputEvent::Wheel;
                e.wheel = ev.wheel.y * 120;
                out.push_back(e);
                break;
            case SDL_WINDOWEVENT:
                if (ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED && windowed_ && !hosted_) {
                    e.kind = InputEvent::Resize;
                    e.width = uint32_t(ev.window.data1);
                    e.height = uint32_t(ev.window.data2);
                    out.push_back(e);
                }
                break;
            default:
                break;
        }
    }

    // A window made from a host's gets no size events from SDL: poll its size.
    void pollHostSize(std::vector<InputEvent>& out) {
        DisplaySize s = windowSize();
        if (s.width == 0 || s.height == 0) return;
        if (s.width != lastHostW_ || s.height != lastHostH_) {
            if (lastHostW_ != 0) {
                InputEvent e;
                e.kind = InputEvent::Resize;
                e.width = s.width;
                e.height = s.height;
                out.push_back(e);
            }
            lastHostW_ = s.width;
            lastHostH_ = s.height;
        }
    }

    void presentToSurface(const uint32_t* pixels, uint32_t width, uint32_t height) {
        SDL_Surface* surface = SDL_GetWindowSurface(window_);
        if (!surface) return;
        SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(
            const_cast<uint32_t*>(pixels), int(width), int(height), 32, int(width * 4),
            SDL_PIXELFORMAT_ARGB8888);
        if (!src) return;
        SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
        SDL_Rect dst{0, 0, surface->w, surface->h};
        if (surface->w == int(width) && surface->h == int(height))
            SDL_BlitSurface(src, nullptr, surface, nullptr);
        else
            SDL_BlitScaled(src, nullptr, surface, &dst);
        SDL_FreeSurface(src);
        SDL_UpdateWindowSurface(window_);
    }

    bool inited_ = false;
    bool hosted_ = false;
    bool windowed_ = false;
    bool blanksMade_ = false;
    unsigned long hostId_ = 0;
    uint32_t lastHostW_ = 0, lastHostH_ = 0;
    Display* xdisplay_ = nullptr;
    std::string title_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    std::vector<SDL_Window*> blanks_;
};

}  // namespace

std::unique_ptr<Backend> makeSdlBackend() { return std::make_unique<SdlBackend>(); }

}  // namespace gx
