// The offscreen display: a virtual desktop of a given size, a virtual clock, input
// from a script, and optional PNG dumps of the presented frames. The settings dialog's
// preview runs it on the real clock and streams the presented frames.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/framework.h"
#include "framework/headless_script.h"
#include "framework/preview_frames.h"
#include "framework/run_options.h"
#include "platform/image/image_write.h"

namespace gx {
namespace {

class HeadlessBackend : public Backend {
public:
    HeadlessBackend() {
        const RunOptions& o = runOptions();
        desktopW_ = o.headlessWidth ? o.headlessWidth : 1600;
        desktopH_ = o.headlessHeight ? o.headlessHeight : 1200;
        std::string error;
        parseScript(o.script, &script_, &error);
        std::stable_sort(
            script_.begin(), script_.end(),
            [](const ScriptEvent& a, const ScriptEvent& b) { return a.time < b.time; });
        setenv("GLIMMERAX_NO_DIALOGS", "1", 0);
        if (!o.framesOut.empty()) {
            csv_ = std::fopen((o.framesOut + "/frames.csv").c_str(), "w");
            if (csv_) std::fprintf(csv_, "frame,time,phase,written\n");
        }
    }
    ~HeadlessBackend() override {
        if (csv_) std::fclose(csv_);
    }

    bool createWindow(const std::string&) override { return true; }
    gfx::DisplayMode desktopMode() override {
        return gfx::DisplayMode{desktopW_, desktopH_, 60, gfx::Format::X8R8G8B8};
    }
    std::vector<DisplaySize> displayModes() override {
        static const DisplaySize standard[] = {{640, 480},   {800, 600},   {1024, 768},
                                               {1280, 720},  {1280, 1024}, {1600, 1200},
                                               {1920, 1080}, {2560, 1440}, {3840, 2160}};
        std::vector<DisplaySize> modes;
        for (const DisplaySize& m : standard)
            if (m.width <= desktopW_ && m.height <= desktopH_) modes.push_back(m);
        modes.push_back({desktopW_, desktopH_});
        return modes;
    }
    bool configure(uint32_t width, uint32_t height, bool windowed) override {
        if (windowed) {
            windowW_ = width;
            windowH_ = height;
        }
        return true;
    }
    void pollEvents(std::vector<InputEvent>& out) override {
        while (next_ < script_.size() && script_[next_].time <= now_ + 1e-9) {
            const ScriptEvent& se = script_[next_++];
            if (se.event.kind == InputEvent::Resize) {
                desktopW_ = se.event.width;
                desktopH_ = se.event.height;
            }
            if (se.event.kind == InputEvent::MouseMove) {
                cursorX_ = se.event.x;
                cursorY_ = se.event.y;
            }
            out.push_back(se.event);
        }
    }
    // The device keeps the presented frame until the next present, so the dump in
    // afterFrame reads it in place instead of copying every frame.
    gfx::Result present(gfx::Device& device) override {
        const RunOptions& o = runOptions();
        // A frame nobody looks at is not copied anywhere.
        if (o.framesOut.empty() && o.previewOutput < 0 && !o.keepFrames) {
            const gfx::PresentTarget nowhere;
            return device.present(&nowhere);
        }
        gfx::Result r = device.present();
        if (gfx::succeeded(r)) {
            last_ = device.frontBuffer().data();
            lastW_ = device.presentParameters().backBufferWidth;
            lastH_ = device.presentParameters().backBufferHeight;
            const int preview = runOptions().previewOutput;
            // Nobody left to show the frames to: the preview is over.
            if (preview >= 0 && !writePreviewFrame(preview, last_, lastW_, lastH_)) shutdown(0);
        }
        return r;
    }
    // The preview is watched: it keeps the saver's own pace in real time.
    bool virtualClock() const override { return !runOptions().preview; }
    void cursorPos(int* x, int* y) override {
        *x = cursorX_;
        *y = cursorY_;
    }
    void* nativeWindow() override { return nullptr; }
    DisplaySize windowSize() override { return {windowW_, windowH_}; }

    void afterFrame(uint64_t frame, double time, bool presented) override {
        now_ = time;
        const RunOptions& o = runOptions();
        if (o.framesOut.empty()) return;
        int every = o.every > 0 ? o.every : 1;
        bool write = presented && frame % uint64_t(every) == 0 && last_ != nullptr;
        if (write) {
            char name[64];
            std::snprintf(name, sizeof name, "/frame-%06llu.png", (unsigned long long)frame);
            write = image::writeFramePng(o.framesOut + name, last_, lastW_, lastH_, lastW_);
        }
        if (csv_) {
            std::fprintf(csv_, "%llu,%.6f,%s,%d\n", (unsigned long long)frame, time,
                         currentPhaseName(), write ? 1 : 0);
            std::fflush(csv_);
        }
    }

private:
    uint32_t desktopW_, desktopH_;
    uint32_t windowW_ = 0, windowH_ = 0;
    std::vector<ScriptEvent> script_;
    size_t next_ = 0;
    double now_ = 0;
    int cursorX_ = 0, cursorY_ = 0;
    const uint32_t* last_ = nullptr;
    uint32_t lastW_ = 0, lastH_ = 0;
    std::FILE* csv_ = nullptr;
};

}  // namespace

std::unique_ptr<Backend> makeHeadlessBackend() { return std::make_unique<HeadlessBackend>(); }

}  // namespace gx
