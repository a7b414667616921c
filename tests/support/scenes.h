// Named scenes shared by the scenario tests and the frame-budget benchmark: each bundled
// sample picture captured on a 1920 x 1080 and on a 3840 x 2160 screen.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace gxtest {

struct Scene {
    std::string name;     // "<picture stem>@<width>x<height>"
    std::string picture;  // absolute path of the sample
    uint32_t width = 0, height = 0;
};

inline std::vector<std::string> samplePictures(const std::string& sourceDir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(sourceDir + "/data/samples", ec))
        if (e.is_regular_file()) out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

inline Scene makeScene(const std::string& picture, uint32_t w, uint32_t h) {
    Scene s;
    s.picture = picture;
    s.width = w;
    s.height = h;
    s.name = std::filesystem::path(picture).stem().string() + "@" + std::to_string(w) + "x" +
             std::to_string(h);
    return s;
}

// Every sample at 1080p first, then every sample at 4K.
inline std::vector<Scene> sampleScenes(const std::string& sourceDir) {
    std::vector<Scene> out;
    const auto pictures = samplePictures(sourceDir);
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1920, 1080}, {3840, 2160}})
        for (const auto& p : pictures) out.push_back(makeScene(p, w, h));
    return out;
}

inline const Scene* findScene(const std::vector<Scene>& scenes, const std::string& name) {
    for (const Scene& s : scenes)
        if (s.name == name) return &s;
    return nullptr;
}

}  // namespace gxtest
