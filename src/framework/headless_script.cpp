#include "framework/headless_script.h"

#include <cstdlib>
#include <sstream>

#include "framework/framework.h"

namespace gx {
namespace {

bool toNumber(const std::string& s, double* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    *out = std::strtod(s.c_str(), &end);
    return end && *end == 0;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    std::istringstream in(s);
    while (std::getline(in, cur, sep)) parts.push_back(cur);
    return parts;
}

}  // namespace

bool parseScript(const std::string& text, std::vector<ScriptEvent>* out, std::string* error) {
    for (const std::string& entry : split(text, ',')) {
        if (entry.empty()) continue;
        auto f = split(entry, ':');
        double t = 0, a = 0, b = 0;
        if (f.size() < 2 || !toNumber(f[0], &t) || t < 0) {
            if (error) *error = "bad script entry '" + entry + "'";
            return false;
        }
        const std::string& action = f[1];
        ScriptEvent se;
        se.time = t;
        InputEvent& e = se.event;
        if ((action == "key" || action == "keydown" || action == "keyup") && f.size() == 3 &&
            toNumber(f[2], &a)) {
            e.kind = InputEvent::Key;
            e.vk = uint32_t(a);
            e.system = e.vk == VK_MENU || e.vk == VK_F10;
            if (action != "keyup") {
                e.down = true;
                out->push_back(se);
            }
            if (action != "keydown") {
                e.down = false;
                out->push_back(se);
            }
            continue;
        }
        if (action == "click") {
            int button = 1;
            if (f.size() == 3 && toNumber(f[2], &a)) button = int(a);
            e.kind = InputEvent::MouseButton;
            e.button = button;
            static const uint32_t states[] = {0x1, 0x2, 0x10, 0x20,
                                              0x40};  // left, right, middle, X1, X2
            e.buttonState = button >= 1 && button <= 5 ? states[button - 1] : 0;
            e.down = true;
            out->push_back(se);
            e.down = false;
            e.buttonState = 0;
            out->push_back(se);
            continue;
        }
        if (action == "move" && f.size() == 4 && toNumber(f[2], &a) && toNumber(f[3], &b)) {
            e.kind = InputEvent::MouseMove;
            e.x = int(a);
            e.y = int(b);
            out->push_back(se);
            continue;
        }
        if (action == "resize" && f.size() == 3) {
            auto wh = split(f[2], 'x');
            if (wh.size() == 2 && toNumber(wh[0], &a) && toNumber(wh[1], &b) && a >= 1 && b >= 1 &&
                a <= 16384 && b <= 16384) {
                e.kind = InputEvent::Resize;
                e.width = uint32_t(a);
                e.height = uint32_t(b);
                out->push_back(se);
                continue;
            }
        }
        if (action == "alt-enter" && f.size() == 2) {
            e.kind = InputEvent::ToggleFullscreen;
            out->push_back(se);
            continue;
        }
        if (action == "close" && f.size() == 2) {
            e.kind = InputEvent::Close;
            out->push_back(se);
            continue;
        }
        if (error) *error = "bad script entry '" + entry + "'";
        return false;
    }
    return true;
}

}  // namespace gx
