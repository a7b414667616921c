// A plain X11 window for trying Glimmerax as a screensaver host would run it: prints
// the window's id and stays open until it is killed. SIGUSR1 destroys the window while
// the tool stays connected, as a host that takes its window away.
//   gx_test_window [WIDTH HEIGHT [SCREENSHOT_RGB]]
// With SCREENSHOT_RGB (hex, e.g. 3070c0) the window carries a _SCREENSAVER_SCREENSHOT
// pixmap of the root window's size filled with that colour, as a host leaves it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>

static volatile std::sig_atomic_t done = 0;
static volatile std::sig_atomic_t destroy = 0;
static void stop(int) { done = 1; }
static void destroyWindow(int) { destroy = 1; }

int main(int argc, char** argv) {
    int w = argc > 2 ? std::atoi(argv[1]) : 400;
    int h = argc > 2 ? std::atoi(argv[2]) : 300;
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "gx_test_window: no display\n");
        return 1;
    }
    Window win =
        XCreateSimpleWindow(d, DefaultRootWindow(d), 10, 10, unsigned(w), unsigned(h), 0,
                            WhitePixel(d, DefaultScreen(d)), WhitePixel(d, DefaultScreen(d)));
    XStoreName(d, win, "gx-test-window");
    if (argc > 3) {
        unsigned long rgb = std::strtoul(argv[3], nullptr, 16);
        int screen = DefaultScreen(d);
        unsigned rw = unsigned(DisplayWidth(d, screen)), rh = unsigned(DisplayHeight(d, screen));
        Pixmap pm = XCreatePixmap(d, win, rw, rh, unsigned(DefaultDepth(d, screen)));
        GC gc = XCreateGC(d, pm, 0, nullptr);
        XSetForeground(d, gc, rgb);
        XFillRectangle(d, pm, gc, 0, 0, rw, rh);
        XFreeGC(d, gc);
        Atom prop = XInternAtom(d, "_SCREENSAVER_SCREENSHOT", False);
        XChangeProperty(d, win, prop, XA_PIXMAP, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&pm), 1);
    }
    XMapWindow(d, win);
    XSync(d, False);
    std::printf("0x%lx\n", static_cast<unsigned long>(win));
    std::fflush(stdout);
    std::signal(SIGTERM, stop);
    std::signal(SIGINT, stop);
    std::signal(SIGUSR1, destroyWindow);
    bool destroyed = false;
    while (!done) {
        if (destroy && !destroyed) {
            XDestroyWindow(d, win);
            XSync(d, False);
            destroyed = true;
        }
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
        }
        usleep(20000);
    }
    if (!destroyed) XDestroyWindow(d, win);
    XCloseDisplay(d);
    return 0;
}
