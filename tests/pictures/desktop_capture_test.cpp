// The desktop snapshot: refused without a display or under Wayland, taken from a real
// X server (a private Xvfb) otherwise.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/os/desktop_capture.h"

namespace gx {
namespace {

// Sets or clears an environment variable for one scope.
class EnvScope {
public:
    EnvScope(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~EnvScope() {
        if (had_) setenv(name_.c_str(), old_.c_str(), 1);
        else unsetenv(name_.c_str());
    }

private:
    std::string name_, old_;
    bool had_ = false;
};

TEST(DesktopCapture, FailsWithoutADisplayAndUnderWayland) {
    std::vector<uint32_t> pixels;
    uint32_t w = 0, h = 0;
    {
        EnvScope display("DISPLAY", nullptr);
        EnvScope wayland("WAYLAND_DISPLAY", nullptr);
        EXPECT_FALSE(captureDesktop(&pixels, &w, &h));
    }
    {
        EnvScope display("DISPLAY", ":0");
        EnvScope wayland("WAYLAND_DISPLAY", "wayland-0");
        EXPECT_FALSE(captureDesktop(&pixels, &w, &h));
    }
    {
        EnvScope display("DISPLAY", ":987");  // no server there
        EnvScope wayland("WAYLAND_DISPLAY", nullptr);
        EnvScope session("XDG_SESSION_TYPE", "x11");
        EXPECT_FALSE(captureDesktop(&pixels, &w, &h));
    }
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(h, 0u);
}

TEST(DesktopCapture, ReadsTheRootWindowOfAnXServer) {
    if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
    int number = 0;
    for (int n = 100 + getpid() % 300;; ++n)
        if (!std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
            !std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
            number = n;
            break;
        }
    std::string display = ":" + std::to_string(number);
    pid_t server = fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        // A white root window, so the conversion shows in every pixel.
        execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-screen", "0", "320x200x24", "-wr",
              "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    std::vector<uint32_t> pixels;
    uint32_t w = 0, h = 0;
    bool ok = false;
    {
        EnvScope d("DISPLAY", display.c_str());
        EnvScope wayland("WAYLAND_DISPLAY", nullptr);
        EnvScope session("XDG_SESSION_TYPE", "x11");
        for (int i = 0; i < 20 && !ok; ++i) {
            ok = captureDesktop(&pixels, &w, &h);
            if (!ok) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    ASSERT_TRUE(ok);
    EXPECT_EQ(w, 320u);
    EXPECT_EQ(h, 200u);
    ASSERT_EQ(pixels.size(), size_t(320 * 200));
    for (uint32_t p : pixels) ASSERT_EQ(p, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace gx
