// A private X server for end-to-end tests, on a free display number.
#pragma once

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/run.h"

namespace gxtest {

inline bool haveProgram(const std::string& name) {
    std::string cmd = "command -v " + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// SDL loads and unloads X11 extension libraries of its own, and one of them leaves an
// allocation behind whose library is gone by exit, so no suppression can name it. Runs
// of the real program on a display therefore skip leak checking (headless and in-process
// runs keep it); memory errors are still caught.
inline std::string displayRunSanitizerOptions() {
    return "ASAN_OPTIONS=detect_leaks=0:halt_on_error=1";
}

class Xvfb {
public:
    // screens: "WxH" per screen; more than one gives a multi-screen server with Xinerama.
    explicit Xvfb(std::vector<std::string> screens = {"1024x768"}) {
        if (!haveProgram("Xvfb")) return;
        dir_ = makeTempDir("gxxvfb");
        for (int n = 90 + (getpid() % 400); n < 1000; ++n) {
            std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
            if (fileExists(lock) || fileExists(sock)) continue;
            std::vector<std::string> argv = {"/usr/bin/Xvfb", ":" + std::to_string(n), "-nolisten",
                                             "tcp", "-noreset"};
            for (size_t i = 0; i < screens.size(); ++i) {
                argv.push_back("-screen");
                argv.push_back(std::to_string(i));
                argv.push_back(screens[i] + "x24");
            }
            if (screens.size() > 1) argv.push_back("+xinerama");
            child_ = spawn(argv, {}, dir_);
            for (int i = 0; i < 100; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                int status = 0;
                if (waitpid(child_.pid, &status, WNOHANG) == child_.pid) {
                    child_.pid = -1;
                    break;
                }
                if (fileExists(sock)) {
                    display_ = ":" + std::to_string(n);
                    return;
                }
            }
            if (child_.pid > 0) {
                kill(child_.pid, SIGKILL);
                waitpid(child_.pid, nullptr, 0);
                child_.pid = -1;
            }
        }
    }
    ~Xvfb() {
        stop();
        removeTree(dir_);
    }
    // Ends the server as a logout or a crash would; returns once it is gone.
    void stop(int signal = SIGTERM) {
        if (child_.pid <= 0) return;
        kill(child_.pid, signal);
        waitFor(child_, 5);
        child_.pid = -1;
        std::string n = display_.substr(1);
        std::remove(("/tmp/.X" + n + "-lock").c_str());
        std::remove(("/tmp/.X11-unix/X" + n).c_str());
    }
    bool ok() const { return !display_.empty(); }
    const std::string& display() const { return display_; }
    std::string env() const { return "DISPLAY=" + display_; }

    // Runs a shell command against this display; returns its standard output.
    std::string sh(const std::string& cmd, int* code = nullptr) const {
        Result r = run({"/bin/sh", "-c", cmd}, {env()}, dir_, 30);
        if (code) *code = r.code;
        return r.out;
    }

private:
    std::string dir_;
    std::string display_;
    Child child_;
};

// Reads an xwd dump of a window into packed 0xRRGGBB pixels (24/32-bit visuals).
struct Shot {
    int width = 0, height = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[size_t(y) * width + x]; }
};

inline bool takeShot(const Xvfb& x, const std::string& window, Shot* shot, const std::string& dir) {
    std::string file = dir + "/shot.ppm";
    int code = 0;
    x.sh("xwd -silent " + (window.empty() ? std::string("-root") : "-id " + window) +
             " | convert xwd:- '" + file + "'",
         &code);
    std::string data = readFile(file);
    if (code != 0 || data.size() < 16 || data.compare(0, 2, "P6") != 0) return false;
    size_t pos = 2;
    int vals[3];
    for (int i = 0; i < 3; ++i) {
        while (pos < data.size() &&
               (std::isspace(static_cast<unsigned char>(data[pos])) || data[pos] == '#')) {
            if (data[pos] == '#')
                while (pos < data.size() && data[pos] != '\n') ++pos;  // a comment line
            else ++pos;
        }
        size_t start = pos;
        while (pos < data.size() && std::isdigit(static_cast<unsigned char>(data[pos]))) ++pos;
        vals[i] = std::atoi(data.substr(start, pos - start).c_str());
    }
    ++pos;
    shot->width = vals[0];
    shot->height = vals[1];
    if (vals[2] != 255 || data.size() < pos + size_t(vals[0]) * vals[1] * 3) return false;
    shot->px.resize(size_t(vals[0]) * vals[1]);
    for (size_t i = 0; i < shot->px.size(); ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(&data[pos + i * 3]);
        shot->px[i] = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    }
    return true;
}

}  // namespace gxtest
