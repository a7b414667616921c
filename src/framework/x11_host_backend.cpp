// A screensaver host's window (-window-id, XSCREENSAVER_WINDOW) or the root window
// (-root), drawn through plain Xlib: the device renders each frame straight into an X
// shared-memory image of the window's size (or writes it there once, scaled, while the
// sizes differ). The window's size is followed through
// its own events, input is the host's business, and a window that goes away ends the
// saver quietly.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/backend.h"
#include "framework/framework.h"
#include "framework/run_options.h"
#include "platform/os/x11_errors.h"

namespace gx {
namespace {

class X11HostBackend : public Backend {
public:
    ~X11HostBackend() override { destroyWindow(); }

    bool createWindow(const std::string&) override {
        installX11Handlers();
        display_ = XOpenDisplay(nullptr);
        if (!display_) {
            std::string why = displayProblem();
            std::fprintf(stderr, "Glimmerax: %s\n",
                         why.empty() ? "cannot open the display" : why.c_str());
            shutdown(1);
            return false;
        }
        const RunOptions& o = runOptions();
        window_ = o.hostWindow ? Window(o.hostWindow) : DefaultRootWindow(display_);
        takeX11Errors();
        XWindowAttributes a{};
        Status ok = XGetWindowAttributes(display_, window_, &a);
        XSync(display_, False);
        if (!ok || takeX11Errors().count) {
            std::fprintf(stderr, "Glimmerax: no window 0x%lx\n", window_);
            shutdown(1);
            return false;
        }
        if (a.depth < 24 || a.visual->red_mask != 0xFF0000 || a.visual->green_mask != 0xFF00 ||
            a.visual->blue_mask != 0xFF) {
            std::fprintf(
                stderr,
                "Glimmerax: window 0x%lx has a %d-bit visual; only 24-bit colour is supported\n",
                window_, a.depth);
            shutdown(1);
            return false;
        }
        visual_ = a.visual;
        depth_ = a.depth;
        width_ = uint32_t(a.width);
        height_ = uint32_t(a.height);
        // Our own mask on the host's window: its size and its end reach us as events.
        XSelectInput(display_, window_, StructureNotifyMask);
        gc_ = XCreateGC(display_, window_, 0, nullptr);
        shm_ = XShmQueryExtension(display_);
        XSync(display_, False);
        noteErrors();
        return true;
    }

    gfx::DisplayMode desktopMode() override {
        return gfx::DisplayMode{width_, height_, 60, gfx::Format::X8R8G8B8};
    }
    std::vector<DisplaySize> displayModes() override { return {{width_, height_}}; }
    bool configure(uint32_t, uint32_t, bool) override { return display_ != nullptr; }

    void pollEvents(std::vector<InputEvent>& out) override {
        if (!display_) return;
        uint32_t w = width_, h = height_;
        while (XPending(display_)) {
            XEvent ev;
            XNextEvent(display_, &ev);
            if (ev.type == ConfigureNotify && ev.xconfigure.window == window_) {
                w = uint32_t(ev.xconfigure.width);
                h = uint32_t(ev.xconfigure.height);
            } else if (ev.type == DestroyNotify && ev.xdestroywindow.window == window_) {
                gone_ = true;
            }
        }
        noteErrors();
        if (gone_) {
            if (!closeSent_) {
                InputEvent e;
                e.kind = InputEvent::Close;
                out.push_back(e);
                closeSent_ = true;
            }
            return;
        }
        if ((w != width_ || h != height_) && w > 0 && h > 0) {
            width_ = w;
            height_ = h;
            InputEvent e;
            e.kind = InputEvent::Resize;
            e.width = w;
            e.height = h;
            out.push_back(e);
        }
    }

    gfx::Result present(gfx::Device& device) override {
        if (gone_ || !display_ || !makeImage(device)) return device.present();
        const gfx::PresentParameters& pp = device.presentParameters();
        // Frame for frame, the device renders straight into the image we hand the server.
        auto* shown = reinterpret_cast<uint32_t*>(image_->data);
        if (pp.backBufferWidth == uint32_t(image_->width) &&
            pp.backBufferHeight == uint32_t(image_->height) &&
            image_->bytes_per_line == image_->width * 4 && device.backBufferPixels() != shown)
            device.shareBackBuffer(shown);
        gfx::PresentTarget target;
        target.pixels = reinterpret_cast<uint32_t*>(image_->data);
        target.pitch = size_t(image_->bytes_per_line) / 4;
        target.width = uint32_t(image_->width);
        target.height = uint32_t(image_->height);
        target.frame =
            fitFrame(target.width, target.height, pp.backBufferWidth, pp.backBufferHeight);
        gfx::Result r = device.present(&target);
        if (gfx::failed(r)) return r;
        if (shmAttached_)
            XShmPutImage(display_, window_, gc_, image_, 0, 0, 0, 0, target.width, target.height,
                         False);
        else XPutImage(display_, window_, gc_, image_, 0, 0, 0, 0, target.width, target.height);
        // The server has read the image before the next frame is written into it.
        XSync(display_, False);
        noteErrors();
        return r;
    }

    bool virtualClock() const override { return false; }
    void cursorPos(int* x, int* y) override { *x = *y = 0; }
    void* nativeWindow() override { return nullptr; }
    DisplaySize windowSize() override { return {width_, height_}; }
    bool hostedWindow() const override { return true; }

    void destroyWindow() override {
        if (!display_) return;
        freeImage();
        if (gc_) XFreeGC(display_, gc_);
        gc_ = nullptr;
        XCloseDisplay(display_);
        display_ = nullptr;
    }

private:
    // A window that is gone shows in the errors our requests on it bring back.
    void noteErrors() {
        X11Errors e = takeX11Errors();
        if (e.count && e.lastResource == window_ &&
            (e.lastCode == BadWindow || e.lastCode == BadDrawable))
            gone_ = true;
    }

    bool makeImage(gfx::Device& device) {
        if (image_ && uint32_t(image_->width) == width_ && uint32_t(image_->height) == height_)
            return true;
        // The device may still be drawing into the old image: it takes its pixels back first.
        if (image_ && device.backBufferPixels() == reinterpret_cast<uint32_t*>(image_->data) &&
            gfx::failed(device.shareBackBuffer(nullptr)))
            return false;
        freeImage();
        if (shm_ && makeSharedImage()) return true;
        char* data = static_cast<char*>(std::calloc(size_t(width_) * height_, 4));
        if (!data) return false;
        image_ = XCreateImage(display_, visual_, unsigned(depth_), ZPixmap, 0, data, width_,
                              height_, 32, 0);
        if (!image_) {
            std::free(data);
            return false;
        }
        return true;
    }

    // Falls back to plain images where the server cannot share memory with us (a
    // remote display).
    bool makeSharedImage() {
        image_ = XShmCreateImage(display_, visual_, unsigned(depth_), ZPixmap, nullptr, &shmInfo_,
                                 width_, height_);
        if (!image_) return false;
        shmInfo_.shmid =
            shmget(IPC_PRIVATE, size_t(image_->bytes_per_line) * image_->height, IPC_CREAT | 0600);
        if (shmInfo_.shmid < 0) {
            XDestroyImage(image_);
            image_ = nullptr;
            shm_ = false;
            return false;
        }
        shmInfo_.shmaddr = image_->data = static_cast<char*>(shmat(shmInfo_.shmid, nullptr, 0));
        shmInfo_.readOnly = False;
        takeX11Errors();
        bool attached =
            shmInfo_.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(display_, &shmInfo_);
        XSync(display_, False);
        attached = attached && takeX11Errors().count == 0;
        // Marked for removal now, so the segment goes with us however we end.
        shmctl(shmInfo_.shmid, IPC_RMID, nullptr);
        if (!attached) {
            if (shmInfo_.shmaddr != reinterpret_cast<char*>(-1)) shmdt(shmInfo_.shmaddr);
            image_->data = nullptr;
            XDestroyImage(image_);
            image_ = nullptr;
            shm_ = false;
            return false;
        }
        shmAttached_ = true;
        return true;
    }

    void freeImage() {
        if (!image_) return;
        if (shmAttached_) {
            XShmDetach(display_, &shmInfo_);
            XSync(display_, False);
            shmdt(shmInfo_.shmaddr);
            image_->data = nullptr;
            shmAttached_ = false;
        }
        XDestroyImage(image_);  // frees a plain image's pixels too
        image_ = nullptr;
    }

    Display* display_ = nullptr;
    Window window_ = 0;
    Visual* visual_ = nullptr;
    int depth_ = 0;
    GC gc_ = nullptr;
    uint32_t width_ = 0, height_ = 0;
    bool shm_ = false;
    bool shmAttached_ = false;
    bool gone_ = false;
    bool closeSent_ = false;
    XShmSegmentInfo shmInfo_{};
    XImage* image_ = nullptr;
};

}  // namespace

std::unique_ptr<Backend> makeX11HostBackend() { return std::make_unique<X11HostBackend>(); }

}  // namespace gx
