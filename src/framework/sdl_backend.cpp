// The real display through SDL2: a borderless full-screen window on the primary
// display (no mode switch) or a resizable window with --windowed. The device writes
// each frame once into what the window shows: the window surface (an X shared-memory
// image on X11) unless GL runs on a graphics card, then a streaming texture.
#include <SDL.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/framework.h"
#include "framework/run_options.h"
#include "platform/os/x11_errors.h"

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

bool softwareRenderer(const char* name) {
    static const char* const known[] = {"llvmpipe",    "softpipe",
                                        "swrast",      "Software Rasterizer",
                                        "SwiftShader", "Microsoft Basic Render"};
    for (const char* k : known)
        if (std::strstr(name, k)) return true;
    return false;
}

// Whether OpenGL on this display runs on a graphics card. Without one (Xvfb, virtual
// machines, remote X, Mesa's software paths) drawing a texture through GL costs far
// more than handing the server our pixels.
bool hardwareGl() {
    if (access("/dev/dri", F_OK) != 0 && access("/dev/nvidiactl", F_OK) != 0) return false;
    SDL_Window* probe = SDL_CreateWindow("", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!probe) return false;
    bool hardware = false;
    if (SDL_GLContext context = SDL_GL_CreateContext(probe)) {
        using GetString = const unsigned char* (*)(unsigned);
        auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
        const unsigned kRenderer = 0x1F01;
        const char* name =
            getString ? reinterpret_cast<const char*>(getString(kRenderer)) : nullptr;
        hardware = name && !softwareRenderer(name);
        SDL_GL_DeleteContext(context);
    }
    SDL_DestroyWindow(probe);
    return hardware;
}

class SdlBackend : public Backend {
public:
    ~SdlBackend() override {
        destroyBlankWindows();
        destroyWindow();
        if (inited_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    bool createWindow(const std::string& title) override {
        installX11Handlers();
        // Never keep the desktop awake or hold off a real screensaver host.
        SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
        SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            std::fprintf(stderr, "Glimmerax: cannot open the display: %s\n", SDL_GetError());
            shutdown(1);
            return false;
        }
        inited_ = true;
        // SDL falls back to drivers that show nothing; only a user who asks gets them.
        const char* driver = SDL_GetCurrentVideoDriver();
        const char* asked = std::getenv("SDL_VIDEODRIVER");
        if (driver && (!std::strcmp(driver, "offscreen") || !std::strcmp(driver, "dummy")) &&
            !(asked && !std::strcmp(asked, driver))) {
            std::string why = displayProblem();
            std::fprintf(stderr, "Glimmerax: %s\n",
                         why.empty() ? "no display to show the saver on" : why.c_str());
            shutdown(1);
            return false;
        }
        title_ = title;
        texturePath_ = choosePath();
        if (!texturePath_) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");

        const RunOptions& o = runOptions();
        SDL_Rect bounds{0, 0, 1600, 1200};
        SDL_GetDisplayBounds(0, &bounds);
        Uint32 flags = o.windowed ? SDL_WINDOW_RESIZABLE
                                  : SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP;
        if (texturePath_) flags |= SDL_WINDOW_OPENGL;
        int w = o.windowed ? bounds.w * 3 / 4 : bounds.w;
        int h = o.windowed ? bounds.h * 3 / 4 : bounds.h;
        window_ = SDL_CreateWindow(title.c_str(), o.windowed ? SDL_WINDOWPOS_CENTERED : bounds.x,
                                   o.windowed ? SDL_WINDOWPOS_CENTERED : bounds.y, w, h, flags);
        if (!window_) {
            std::fprintf(stderr, "Glimmerax: cannot make a window: %s\n", SDL_GetError());
            shutdown(1);
            return false;
        }
        windowed_ = o.windowed;
        if (texturePath_) {
            renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED);
            if (!renderer_) texturePath_ = false;  // the window surface always works
        }
        return true;
    }

    gfx::DisplayMode desktopMode() override {
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
        if (texturePath_) {
            if (texture_) SDL_DestroyTexture(texture_);
            texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888,
                                         SDL_TEXTUREACCESS_STREAMING, int(width), int(height));
            if (!texture_) return false;
        }
        SDL_ShowWindow(window_);
        SDL_RaiseWindow(window_);
        return true;
    }

    void pollEvents(std::vector<InputEvent>& out) override {
        SDL_Event ev;
        while (SDL_PollEvent(&ev)) translate(ev, out);
    }

    gfx::Result present(gfx::Device& device) override {
        if (!window_) return device.present();
        const gfx::PresentParameters& pp = device.presentParameters();
        if (texturePath_ && texture_) return presentThroughTexture(device, pp);
        return presentToSurface(device, pp);
    }

    bool virtualClock() const override { return false; }

    void cursorPos(int* x, int* y) override { SDL_GetGlobalMouseState(x, y); }

    void* nativeWindow() override { return window_; }

    DisplaySize windowSize() override {
        int w = 0, h = 0;
        if (window_) SDL_GetWindowSize(window_, &w, &h);
        return {uint32_t(w), uint32_t(h)};
    }

    void createBlankWindows() override {
        if (blanksMade_) return;
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

    void setCursorVisible(bool visible) override {
        SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
    }

    void setCursorConfined(bool confined) override {
        if (window_) SDL_SetWindowGrab(window_, confined ? SDL_TRUE : SDL_FALSE);
    }

    void destroyWindow() override {
        if (texture_) SDL_DestroyTexture(texture_);
        texture_ = nullptr;
        if (renderer_) SDL_DestroyRenderer(renderer_);
        renderer_ = nullptr;
        if (window_) SDL_DestroyWindow(window_);
        window_ = nullptr;
    }

private:
    // GLIMMERAX_PRESENT=surface or texture picks the way frames reach the screen, for
    // measuring one against the other; otherwise the display decides.
    static bool choosePath() {
        const char* forced = std::getenv("GLIMMERAX_PRESENT");
        if (forced && !std::strcmp(forced, "texture")) return true;
        if (forced && !std::strcmp(forced, "surface")) return false;
        return hardwareGl();
    }

    // The window's own pixels (an X shared-memory image on X11): the device writes the
    // frame straight into them.
    gfx::Result presentToSurface(gfx::Device& device, const gfx::PresentParameters& pp) {
        SDL_Surface* surface = SDL_GetWindowSurface(window_);
        if (!surface || surface->w <= 0 || surface->h <= 0) return device.present();
        const SDL_PixelFormat* f = surface->format;
        const bool direct =
            f->BytesPerPixel == 4 && f->Rmask == 0xFF0000 && f->Gmask == 0xFF00 && f->Bmask == 0xFF;
        gfx::PresentTarget target;
        target.width = uint32_t(surface->w);
        target.height = uint32_t(surface->h);
        target.frame =
            fitFrame(target.width, target.height, pp.backBufferWidth, pp.backBufferHeight);
        gfx::Result r;
        if (direct) {
            if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return device.present();
            target.pixels = static_cast<uint32_t*>(surface->pixels);
            target.pitch = size_t(surface->pitch) / 4;
            r = device.present(&target);
            if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        } else {
            // A display of another depth: SDL converts from a 32-bit copy.
            staging_.resize(size_t(target.width) * target.height);
            target.pixels = staging_.data();
            target.pitch = target.width;
            r = device.present(&target);
            if (gfx::succeeded(r)) {
                SDL_Surface* src =
                    SDL_CreateRGBSurfaceWithFormatFrom(staging_.data(), surface->w, surface->h, 32,
                                                       surface->w * 4, SDL_PIXELFORMAT_RGB888);
                if (src) {
                    SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
                    SDL_BlitSurface(src, nullptr, surface, nullptr);
                    SDL_FreeSurface(src);
                }
            }
        }
        if (gfx::succeeded(r)) SDL_UpdateWindowSurface(window_);
        return r;
    }

    // Graphics hardware: the frame goes into a locked streaming texture and the card
    // scales it.
    gfx::Result presentThroughTexture(gfx::Device& device, const gfx::PresentParameters& pp) {
        void* pixels = nullptr;
        int pitch = 0;
        if (SDL_LockTexture(texture_, nullptr, &pixels, &pitch) != 0) return device.present();
        gfx::PresentTarget target;
        target.pixels = static_cast<uint32_t*>(pixels);
        target.pitch = size_t(pitch) / 4;
        target.width = pp.backBufferWidth;
        target.height = pp.backBufferHeight;
        target.frame = gfx::Rect{0, 0, int32_t(pp.backBufferWidth), int32_t(pp.backBufferHeight)};
        gfx::Result r = device.present(&target);
        SDL_UnlockTexture(texture_);
        if (gfx::failed(r)) return r;
        int ww = 0, wh = 0;
        SDL_GetRendererOutputSize(renderer_, &ww, &wh);
        gfx::Rect d = fitFrame(uint32_t(ww), uint32_t(wh), pp.backBufferWidth, pp.backBufferHeight);
        SDL_Rect dst{d.left, d.top, d.right - d.left, d.bottom - d.top};
        SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
        SDL_RenderClear(renderer_);
        SDL_RenderCopy(renderer_, texture_, nullptr, &dst);
        SDL_RenderPresent(renderer_);
        return r;
    }

    void translate(const SDL_Event& ev, std::vector<InputEvent>& out) {
        InputEvent e;
        switch (ev.type) {
        case SDL_QUIT:
            e.kind = InputEvent::Close;
            out.push_back(e);
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
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
            e.kind = InputEvent::MouseButton;
            e.down = ev.type == SDL_MOUSEBUTTONDOWN;
            switch (ev.button.button) {
            case SDL_BUTTON_LEFT: e.button = 1; break;
            case SDL_BUTTON_RIGHT: e.button = 2; break;
            case SDL_BUTTON_MIDDLE: e.button = 3; break;
            case SDL_BUTTON_X1: e.button = 4; break;
            case SDL_BUTTON_X2: e.button = 5; break;
            default: return;
            }
            Uint32 st = SDL_GetMouseState(nullptr, nullptr);
            if (st & SDL_BUTTON_LMASK) e.buttonState |= 0x1;
            if (st & SDL_BUTTON_RMASK) e.buttonState |= 0x2;
            if (st & SDL_BUTTON_MMASK) e.buttonState |= 0x10;
            if (st & SDL_BUTTON_X1MASK) e.buttonState |= 0x20;
            if (st & SDL_BUTTON_X2MASK) e.buttonState |= 0x40;
            SDL_GetGlobalMouseState(&e.x, &e.y);
            out.push_back(e);
            break;
        }
        case SDL_MOUSEMOTION:
            e.kind = InputEvent::MouseMove;
            SDL_GetGlobalMouseState(&e.x, &e.y);
            out.push_back(e);
            break;
        case SDL_MOUSEWHEEL:
            e.kind = InputEvent::Wheel;
            e.wheel = ev.wheel.y * 120;
            out.push_back(e);
            break;
        case SDL_WINDOWEVENT:
            if (ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED && windowed_) {
                e.kind = InputEvent::Resize;
                e.width = uint32_t(ev.window.data1);
                e.height = uint32_t(ev.window.data2);
                out.push_back(e);
            }
            break;
        default: break;
        }
    }

    bool inited_ = false;
    bool windowed_ = false;
    bool blanksMade_ = false;
    bool texturePath_ = false;
    std::string title_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    std::vector<uint32_t> staging_;
    std::vector<SDL_Window*> blanks_;
};

}  // namespace

std::unique_ptr<Backend> makeSdlBackend() { return std::make_unique<SdlBackend>(); }

std::unique_ptr<Backend> makeDisplayBackend() {
    const RunOptions& o = runOptions();
    return o.hostWindow || o.root ? makeX11HostBackend() : makeSdlBackend();
}

}  // namespace gx
