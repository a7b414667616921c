// The settings dialog's rules, independent of the toolkit that draws it.
#include "ui/config_dialog_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace gx {

const ResolutionPreset kResolutionPresets[kResolutionPresetCount] = {
    {640, 480, "640x480"},
    {800, 600, "800x600"},
    {1024, 768, "1024x768"},
    {1280, 1024, "1280x1024"},
    {1600, 1200, "1600x1200"},
};

const char* const kConfigDialogContact = "Send reports to\nreports@glimmerax.example";

int resolutionPosition(int width, int height) {
    int index = 0;
    while (index < kResolutionPresetCount) {
        const int presetWidth = kResolutionPresets[index].width;
        if (presetWidth >= width && presetWidth >= height) break;
        ++index;
    }
    return index + 1;
}

static std::string sizeLabel(int width, int height) {
    char text[64];
    std::snprintf(text, sizeof text, "%ix%i", width, height);
    return text;
}

void openConfigDialog(ConfigDialogModel& model, const Settings& current,
                      const std::string& defaultFolder) {
    model = ConfigDialogModel{};
    const std::size_t stored = strnlen(current.ImagePath, sizeof current.ImagePath);
    if (stored > 0)
        model.path.assign(current.ImagePath, stored);
    else
        model.path = defaultFolder;
    model.initialPosition = resolutionPosition(current.ScreenWidth, current.ScreenHeight);
    model.sliderPosition = std::clamp(model.initialPosition, 1, kResolutionPresetCount);
    // Until the slider moves, the label shows the configured size, preset or not.
    model.resolutionLabel = sizeLabel(current.ScreenWidth, current.ScreenHeight);
}

void moveResolutionSlider(ConfigDialogModel& model, int position) {
    position = std::clamp(position, 1, kResolutionPresetCount);
    model.sliderPosition = position;
    model.chosenPosition = position;
    model.resolutionLabel = kResolutionPresets[position - 1].label;
}

std::string cutAtCharacter(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    // Back off over continuation bytes so no character is split in half; a run longer
    // than a UTF-8 sequence is not UTF-8 and is cut where the limit falls.
    int backed = 0;
    while (end > 0 && backed < 3 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
        ++backed;
    }
    if (static_cast<unsigned char>(text[end]) < 0xC0) end = limit;
    return text.substr(0, end);
}

void pickImageFolder(ConfigDialogModel& model, Settings& current, const std::string& folder) {
    if (folder.empty()) return;
    const std::string kept = cutAtCharacter(folder, kImagePathLimit);
    std::memset(current.ImagePath, 0, sizeof current.ImagePath);
    std::memcpy(current.ImagePath, kept.data(), kept.size());
    // The field shows what will be saved, so a cut path is visible before OK.
    model.path = kept;
}

void closeConfigDialog(const ConfigDialogModel& model, DialogButton button, Settings& current,
                       const std::function<void()>& save) {
    if (button != DialogButton::ok) return;
    const int position = model.chosenPosition;
    if (position >= 1 && position <= kResolutionPresetCount) {
        current.ScreenWidth = kResolutionPresets[position - 1].width;
        current.ScreenHeight = kResolutionPresets[position - 1].height;
    }
    if (save) save();
}

std::string describeSettingsWithoutDisplay(const Settings& current, const std::string& filePath) {
    const auto text = [](const char* field, std::size_t size) {
        return std::string(field, strnlen(field, size));
    };
    std::string out;
    const std::string where = filePath.empty() ? std::string("(no file)") : filePath;
    out += "Glimmerax settings, kept in " + where + ":\n";
    out += "  ImagePath    = \"" + text(current.ImagePath, sizeof current.ImagePath) + "\"\n";
    out += "  ScreenWidth  = " + std::to_string(current.ScreenWidth) + "\n";
    out += "  ScreenHeight = " + std::to_string(current.ScreenHeight) + "\n";
    out += "  ResourcePath = \"" + text(current.ResourcePath, sizeof current.ResourcePath) + "\"\n";
    out += "  LanguageFile = \"" + text(current.LanguageFile, sizeof current.LanguageFile) + "\"\n";
    out += std::string("  Fullscreen   = ") + (current.Fullscreen ? "true" : "false") + "\n";
    out += "  Duration     = " + std::to_string(current.Duration) + "\n";
    out += "  GameSpeed    = " + std::to_string(current.GameSpeed) + "\n";
    out += "The settings dialog needs a display (set DISPLAY or WAYLAND_DISPLAY);"
           " without one, edit the file above.\n";
    return out;
}

}  // namespace gx
