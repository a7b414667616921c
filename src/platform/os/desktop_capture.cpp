// Desktop capture through Xlib's XGetImage on the root window.
#include "platform/os/desktop_capture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

namespace gx {
namespace {

bool xFailed = false;
int recordXError(Display*, XErrorEvent*) {
    xFailed = true;
    return 0;
}

bool nonEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

bool isWayland() {
    const char* session = std::getenv("XDG_SESSION_TYPE");
    return nonEmpty("WAYLAND_DISPLAY") || (session && std::strcmp(session, "wayland") == 0);
}

// A channel of an XImage pixel spread to 0..255.
uint32_t channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = std::countr_zero(mask);
    unsigned long max = mask >> shift;
    unsigned long v = (pixel & mask) >> shift;
    return max == 255 ? uint32_t(v) : uint32_t(v * 255 / max);
}

}  // namespace

static unsigned long hostWindowForSnapshot = 0;

// The pixmap named by the host window's _SCREENSAVER_SCREENSHOT property, or 0.
static Drawable hostScreenshot(Display* display) {
    if (!hostWindowForSnapshot) return 0;
    Atom property = XInternAtom(display, "_SCREENSAVER_SCREENSHOT", True);
    if (property == None) return 0;
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    Drawable pixmap = 0;
    if (XGetWindowProperty(display, Window(hostWindowForSnapshot), property, 0, 1, False, XA_PIXMAP,
                           &type, &format, &items, &after, &data) == Success &&
        type == XA_PIXMAP && format == 32 && items == 1 && data)
        pixmap = Drawable(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    XSync(display, False);
    return xFailed ? 0 : pixmap;
}

void setSnapshotHostWindow(unsigned long window) { hostWindowForSnapshot = window; }

bool captureDesktop(std::vector<uint32_t>* pixels, uint32_t* width, uint32_t* height) {
    // XWayland's root window holds no picture of the desktop.
    if (isWayland() || !nonEmpty("DISPLAY")) return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    Drawable source = DefaultRootWindow(display);
    bool ok = false;
    XErrorHandler previous = XSetErrorHandler(recordXError);
    xFailed = false;
    // A screensaver host that has already covered the desktop leaves a picture of it on
    // its window as a pixmap.
    if (Drawable shot = hostScreenshot(display)) source = shot;
    Window rootOfSource = 0;
    int sx = 0, sy = 0;
    unsigned sw = 0, sh = 0, border = 0, depth = 0;
    if (XGetGeometry(display, source, &rootOfSource, &sx, &sy, &sw, &sh, &border, &depth) &&
        !xFailed && sw > 0 && sh > 0) {
        XImage* image = XGetImage(display, source, 0, 0, sw, sh, AllPlanes, ZPixmap);
        XSync(display, False);
        if (image && image->red_mask == 0 && image->green_mask == 0 && image->blue_mask == 0) {
            // An image of a pixmap carries no colour masks: it has the screen's visual.
            Visual* visual = DefaultVisual(display, DefaultScreen(display));
            image->red_mask = visual->red_mask;
            image->green_mask = visual->green_mask;
            image->blue_mask = visual->blue_mask;
        }
        if (image && !xFailed) {
            try {
                const uint32_t w = uint32_t(image->width), h = uint32_t(image->height);
                pixels->assign(size_t(w) * h, 0);
                const bool packed = image->bits_per_pixel == 32 && image->red_mask == 0xFF0000 &&
                                    image->green_mask == 0xFF00 && image->blue_mask == 0xFF &&
                                    image->byte_order == LSBFirst;
                for (uint32_t y = 0; y < h; ++y) {
                    uint32_t* out = pixels->data() + size_t(y) * w;
                    if (packed) {
                        std::memcpy(out, image->data + size_t(y) * size_t(image->bytes_per_line),
                                    size_t(w) * 4);
                        for (uint32_t x = 0; x < w; ++x) out[x] |= 0xFF000000u;
                        continue;
                    }
                    for (uint32_t x = 0; x < w; ++x) {
                        unsigned long p = XGetPixel(image, int(x), int(y));
                        out[x] = 0xFF000000u | channel(p, image->red_mask) << 16 |
                                 channel(p, image->green_mask) << 8 | channel(p, image->blue_mask);
                    }
                }
                *width = w;
                *height = h;
                ok = true;
            } catch (const std::bad_alloc&) {
                pixels->clear();
            }
        }
        if (image) XDestroyImage(image);
    }
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return ok;
}

}  // namespace gx
