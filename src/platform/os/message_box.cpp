#include "platform/os/message_box.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

namespace gx {
namespace {

MessageBoxSink customSink;
SDL_Window* parentWindow = nullptr;
std::function<void()> beforeShowHook;

bool haveDisplay() {
    const char* d = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (d && *d) || (w && *w);
}

}  // namespace

void setMessageBoxSink(MessageBoxSink sink) { customSink = std::move(sink); }

void setMessageBoxParent(void* sdlWindow, std::function<void()> beforeShow) {
    parentWindow = static_cast<SDL_Window*>(sdlWindow);
    beforeShowHook = std::move(beforeShow);
}

void showMessageBox(const std::string& text, const std::string& caption) {
    if (customSink) {
        customSink(text, caption);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    const char* quiet = std::getenv("GLIMMERAX_NO_DIALOGS");
    if ((quiet && *quiet) || !haveDisplay()) return;
    if (beforeShowHook) beforeShowHook();
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, caption.c_str(), text.c_str(),
                             parentWindow);
}

}  // namespace gx
