// The whole saver in this process on the headless display, for tests and benchmarks:
// settings written first, frames stepped one at a time, input dispatched as the window
// would deliver it.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "app/phases.h"
#include "app/startup.h"
#include "bodies/sprites.h"
#include "config/settings.h"
#include "framework/backend.h"
#include "framework/framework.h"
#include "framework/run_options.h"
#include "platform/image/image.h"
#include "platform/image/image_write.h"
#include "platform/os/message_box.h"
#include "support/run.h"
#include "support/scenes.h"
#include "universe/world.h"

namespace gxtest {

struct SaverOptions {
    uint32_t width = 640, height = 480;
    int duration = 130;
    int gameSpeed = 10;
    std::string imagePath;  // empty: the bundled samples
    std::string script;     // headless input, as --script takes it
    std::string dataFile;   // copied into the home first when set (skips generating it)
};

// The saver on a named scene: its screen and its picture, with the shared data file.
inline SaverOptions sceneOptions(const Scene& scene) {
    SaverOptions o;
    o.width = scene.width;
    o.height = scene.height;
    o.imagePath = scene.picture;
    o.dataFile = sharedDataFile();
    return o;
}

// A picture of w x h bright, varied colours.
inline gx::image::Bitmap testBitmap(uint32_t w, uint32_t h, uint32_t seed = 1) {
    gx::image::Bitmap b;
    b.width = w;
    b.height = h;
    b.pixels.resize(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t r = 120 + ((x * 7 + seed * 13) % 136);
            uint32_t g = 120 + ((y * 5 + seed * 29) % 136);
            uint32_t bl = 120 + (((x / 8 + y / 8) * 37 + seed) % 136);
            b.at(x, y) = 0xFF000000u | (r << 16) | (g << 8) | bl;
        }
    return b;
}

// The same written as a BMP; returns its path.
inline std::string writeTestPicture(const std::string& dir, const std::string& name, uint32_t w,
                                    uint32_t h, uint32_t seed = 1) {
    std::string path = dir + "/" + name;
    gx::image::writeBmp(path, testBitmap(w, h, seed));
    return path;
}

// Sprites attached to bodies now.
inline uint32_t attachedSprites() {
    uint32_t n = 0;
    for (gx::BodySprite* s = gx::firstAttachedSprite(); s && s->body; s = gx::nextAttachedSprite(s))
        ++n;
    return n;
}

class Saver {
public:
    explicit Saver(const SaverOptions& o) {
        home = newHome("gxscene");
        std::ofstream ini(home + "/Glimmerax.ini", std::ios::binary);
        ini << "ImagePath = \"" << o.imagePath << "\"\r\n"
            << "ScreenWidth = " << o.width + 2 << "\r\n"
            << "ScreenHeight = " << o.height + 2 << "\r\n"
            << "ResourcePath = \"Default\"\r\n"
            << "LanguageFile = \"English.txt\"\r\n"
            << "Fullscreen = false\r\n"
            << "Duration = " << o.duration << "\r\n"
            << "GameSpeed = " << o.gameSpeed << "\r\n";
        ini.close();
        if (!o.dataFile.empty()) {
            std::ifstream from(o.dataFile, std::ios::binary);
            std::ofstream to(home + "/Glimmerax.dat", std::ios::binary);
            to << from.rdbuf();
        }
        setenv("GLIMMERAX_HOME", home.c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        gx::setMessageBoxSink(
            [this](const std::string& text, const std::string&) { boxes += text + "\n"; });
        gx::resetAllModulesForTests();
        gx::runOptions() = gx::RunOptions{};
        gx::runOptions().headless = true;
        gx::runOptions().headlessWidth = o.width;
        gx::runOptions().headlessHeight = o.height;
        gx::runOptions().script = o.script;
        gx::runOptions().keepFrames = true;  // tests look at what was shown
        if (chdir(home.c_str()) != 0) return;
        gx::RunMode = 2;
        gx::loadSettings();
        gx::loadLabels();
        gx::setSpeed(float(gx::settings.GameSpeed) / 10.0f);
        started = gx::startRun();
    }
    ~Saver() {
        gx::releaseRun();
        gx::resetAllModulesForTests();
        gx::setMessageBoxSink(nullptr);
        if (chdir("/") != 0) {}
        removeTree(home);
    }
    void frame() { gx::runFrameStepForTests(); }
    // Steps frames until the phase is `name` (or the limit passes); false when it never came.
    bool runUntil(const gx::State* state, int limit = 20000) {
        for (int i = 0; i < limit; ++i) {
            if (gx::currentState == state) return true;
            frame();
            if (gx::RenderSuppressed) return false;
        }
        return gx::currentState == state;
    }
    void key(uint32_t vk, bool down) {
        gx::InputEvent e;
        e.kind = gx::InputEvent::Key;
        e.vk = vk;
        e.down = down;
        gx::dispatchForTests(e);
    }
    void press(uint32_t vk) {
        key(vk, true);
        key(vk, false);
    }
    void click(int button, uint32_t state) {
        gx::InputEvent e;
        e.kind = gx::InputEvent::MouseButton;
        e.button = button;
        e.buttonState = state;
        e.down = true;
        gx::dispatchForTests(e);
    }
    std::string home;
    std::string boxes;
    bool started = false;
};

}  // namespace gxtest
