// The settings dialog's rules, independent of the toolkit that draws it.
#include "ui/config_dialog_model.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os/paths.h"
#include "ui/contact.h"

namespace gx {

const ResolutionPreset kResolutionPresets[kResolutionPresetCount] = {
    {640, 480, "640x480"},     {800, 600, "800x600"},     {1024, 768, "1024x768"},
    {1280, 1024, "1280x1024"}, {1600, 1200, "1600x1200"},
};

const char* const kConfigDialogContact = "Send reports to\n" GLIMMERAX_ISSUE_TRACKER;

namespace {

bool isFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string absoluteFromCurrent(const std::string& path) {
    if (path.empty() || path.front() == '/') return path;
    char* here = ::getcwd(nullptr, 0);
    if (!here) return path;
    std::string out = here;
    std::free(here);
    if (out.back() != '/') out += '/';
    return out + path;
}

}  // namespace

DefaultPictures findDefaultPictures() {
    DefaultPictures d;
    d.userFolder = userPicturesFolder();
    d.userFolderExists = isFolder(d.userFolder);
    d.samplesFolder = samplesFolder();
    return d;
}

std::string chooserStartFolder(const std::string& imagePath, const DefaultPictures& defaults) {
    if (imagePath.empty()) {
        if (defaults.userFolderExists && isFolder(defaults.userFolder)) return defaults.userFolder;
        if (isFolder(defaults.samplesFolder)) return defaults.samplesFolder;
        const char* home = std::getenv("HOME");
        return home && *home ? std::string(home) : std::string("/");
    }
    // The folder itself, or the nearest one above it (a picture file's own folder).
    std::string folder = absoluteFromCurrent(imagePath);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    while (!isFolder(folder)) {
        const size_t slash = folder.rfind('/');
        if (slash == std::string::npos || slash == 0) return "/";
        folder.resize(slash);
    }
    return folder;
}

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
                      const DefaultPictures& defaults) {
    model = ConfigDialogModel{};
    const std::size_t stored = strnlen(current.ImagePath, sizeof current.ImagePath);
    const std::string imagePath(current.ImagePath, stored);
    if (stored > 0) {
        model.path = imagePath;
    } else if (defaults.userFolderExists) {
        model.path = defaults.userFolder;
    } else if (!defaults.samplesFolder.empty()) {
        // What will be shown, and why not the pictures folder.
        model.path = defaults.samplesFolder;
        model.note =
            defaults.userFolder + " does not exist: the bundled sample pictures are shown.";
    } else {
        model.note = defaults.userFolder +
                     " does not exist and no sample pictures were found: a snapshot of the desktop "
                     "is shown.";
    }
    model.chooserFolder = chooserStartFolder(imagePath, defaults);
    model.previewPath = imagePath;
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

bool pickImageFolder(ConfigDialogModel& model, Settings& current, const std::string& folder) {
    if (folder.empty()) return true;
    if (folder.size() > kImagePathLimit || folder.find('\0') != std::string::npos) {
        // Cutting it would store another folder: keep what was there and say why.
        model.message = "This folder cannot be stored in the settings: its path is " +
                        std::to_string(folder.size()) + " bytes long, more than the " +
                        std::to_string(kImagePathLimit) +
                        " a path may have. Image Path is unchanged.";
        return false;
    }
    std::memset(current.ImagePath, 0, sizeof current.ImagePath);
    std::memcpy(current.ImagePath, folder.data(), folder.size());
    model.path = folder;
    model.note.clear();
    model.chooserFolder = folder;
    model.previewPath = folder;
    model.message.clear();
    return true;
}

bool closeConfigDialog(ConfigDialogModel& model, DialogButton button, Settings& current,
                       const std::function<SettingsSaveResult()>& save) {
    if (button != DialogButton::ok) return true;
    const int position = model.chosenPosition;
    if (position >= 1 && position <= kResolutionPresetCount) {
        current.ScreenWidth = kResolutionPresets[position - 1].width;
        current.ScreenHeight = kResolutionPresets[position - 1].height;
    }
    if (!save) return true;
    const SettingsSaveResult result = save();
    if (result.ok()) {
        model.message.clear();
        return true;
    }
    model.message = describeSaveFailure(result);
    return false;
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
    out +=
        "The settings dialog needs a display (set DISPLAY or WAYLAND_DISPLAY);"
        " without one, edit the file above.\n";
    return out;
}

}  // namespace gx
