#include "platform/os/x11_errors.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace gx {
namespace {

std::atomic<int> errorCount{0};
std::atomic<int> lastCode{0};
std::atomic<unsigned long> lastResource{0};

int recordError(Display*, XErrorEvent* e) {
    lastCode.store(e->error_code);
    lastResource.store(e->resourceid);
    errorCount.fetch_add(1);
    return 0;
}

[[noreturn]] int lostConnection(Display* d) {
    // Only async-signal-safe calls: the connection and everything built on it are gone.
    static const char head[] = "Glimmerax: lost the connection to the display ";
    const char* name = d ? DisplayString(d) : "";
    ssize_t ignored = write(STDERR_FILENO, head, sizeof head - 1);
    ignored = write(STDERR_FILENO, name, std::strlen(name));
    ignored = write(STDERR_FILENO, "\n", 1);
    (void)ignored;
    _exit(1);
}

}  // namespace

void installX11Handlers() {
    // A write to a server that is gone must come back as an error, not kill us quietly.
    std::signal(SIGPIPE, SIG_IGN);
    XSetErrorHandler(recordError);
    XSetIOErrorHandler(lostConnection);
}

X11Errors takeX11Errors() {
    X11Errors e;
    e.count = errorCount.exchange(0);
    e.lastCode = lastCode.load();
    e.lastResource = lastResource.load();
    return e;
}

std::string displayProblem() {
    const char* x = std::getenv("DISPLAY");
    if (x && *x) {
        Display* d = XOpenDisplay(x);
        if (!d) return std::string("cannot open display ") + x;
        XCloseDisplay(d);
        return "";
    }
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) return "";
    return "no display is set (DISPLAY is empty); --headless runs without one";
}

}  // namespace gx
