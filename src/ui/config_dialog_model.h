// What the settings dialog shows and decides, kept free of any toolkit so it can be
// tested without a display. The GTK view only forwards events here.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "config/settings.h"

namespace gx {

struct ResolutionPreset {
    int width;
    int height;
    const char* label;
};

constexpr int kResolutionPresetCount = 5;
// Slider position p (1 ... 5) is kResolutionPresets[p - 1].
extern const ResolutionPreset kResolutionPresets[kResolutionPresetCount];

// ImagePath holds at most this many bytes before its terminator.
constexpr std::size_t kImagePathLimit = sizeof(Settings::ImagePath) - 1;

// Where reports and questions go; shown centred at the dialog's foot.
extern const char* const kConfigDialogContact;

struct ConfigDialogModel {
    // Position the resolution walk gave (1 ... 6; 6 when the size exceeds every preset).
    int initialPosition = 1;
    // Position the slider widget shows (the walk clamped to 1 ... 5).
    int sliderPosition = 1;
    // The position the user moved the slider to; -1 until it first moves.
    int chosenPosition = -1;
    std::string resolutionLabel;
    // The text of the read-only path field.
    std::string path;
};

// First preset position whose width is at least both `width` and `height` (the presets
// are wider than tall, so this finds the first that can hold the size); 6 when none is.
int resolutionPosition(int width, int height);

// Fills the model from the in-memory settings. An empty ImagePath shows
// `defaultFolder` (the user's pictures folder) without writing it to the settings.
void openConfigDialog(ConfigDialogModel& model, const Settings& current,
                      const std::string& defaultFolder);

// The slider moved to `position`; positions outside 1 ... 5 are clamped as the slider
// would clamp them.
void moveResolutionSlider(ConfigDialogModel& model, int position);

// The folder browser returned `folder` (an empty string means it was cancelled or gave
// no file-system path, which changes nothing). The path is cut to kImagePathLimit bytes
// at a character boundary and becomes both ImagePath and the field's text.
void pickImageFolder(ConfigDialogModel& model, Settings& current, const std::string& folder);

enum class DialogButton { ok, cancel };

// OK takes the chosen preset's size when the slider was moved and then calls `save`;
// Cancel (also Escape and the close box) saves nothing and keeps the size.
void closeConfigDialog(const ConfigDialogModel& model, DialogButton button, Settings& current,
                       const std::function<void()>& save);

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string cutAtCharacter(const std::string& text, std::size_t limit);

// What configure mode prints when there is no display to show the dialog on.
std::string describeSettingsWithoutDisplay(const Settings& current, const std::string& filePath);

}  // namespace gx
