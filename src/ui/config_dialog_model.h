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

// Where reports and questions go (the issue tracker); shown centred at the dialog's foot.
extern const char* const kConfigDialogContact;

// The pictures an empty ImagePath shows: the user's pictures folder, then the samples.
struct DefaultPictures {
    std::string userFolder;
    bool userFolderExists = true;
    std::string samplesFolder;  // empty when no bundled samples were found
};
// Looks the two folders up on this machine.
DefaultPictures findDefaultPictures();

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
    // A line under the field saying which pictures an empty ImagePath shows when the
    // pictures folder is missing; empty otherwise.
    std::string note;
    // The folder the folder chooser opens at.
    std::string chooserFolder;
    // What the preview pane runs the saver on: ImagePath as it stands in memory (empty
    // for the defaults, as the saver reads it), not the field's text.
    std::string previewPath;
    // What the dialog has to tell the user (a folder that cannot be stored, settings
    // that could not be saved); empty when there is nothing.
    std::string message;
};

// First preset position whose width is at least both `width` and `height` (the presets
// are wider than tall, so this finds the first that can hold the size); 6 when none is.
int resolutionPosition(int width, int height);

// Fills the model from the in-memory settings. An empty ImagePath shows the user's
// pictures folder, or, when that does not exist, the bundled samples with a note that
// says so; nothing of it is written to the settings.
void openConfigDialog(ConfigDialogModel& model, const Settings& current,
                      const DefaultPictures& defaults);

// Where the folder chooser opens: the ImagePath folder (relative to the current
// folder, the home folder), the folder of an ImagePath picture file, or the nearest
// folder above a path that no longer exists; for an empty ImagePath the first of the
// pictures folder and the samples folder that exists.
std::string chooserStartFolder(const std::string& imagePath, const DefaultPictures& defaults);

// The slider moved to `position`; positions outside 1 ... 5 are clamped as the slider
// would clamp them.
void moveResolutionSlider(ConfigDialogModel& model, int position);

// The folder browser returned `folder` (an empty string means it was cancelled or gave
// no file-system path, which changes nothing). A path of up to kImagePathLimit bytes
// becomes ImagePath, the field's text and the preview's path; a longer one cannot be
// stored: nothing changes, `message` says so and the result is false.
bool pickImageFolder(ConfigDialogModel& model, Settings& current, const std::string& folder);

enum class DialogButton { ok, cancel };

// OK takes the chosen preset's size when the slider was moved and then calls `save`;
// Cancel (also Escape and the close box) saves nothing and keeps the size. True when
// the dialog may close; false when the save failed, with `message` saying what was not
// saved and why, so the dialog stays open instead of closing as if it had saved.
bool closeConfigDialog(ConfigDialogModel& model, DialogButton button, Settings& current,
                       const std::function<SettingsSaveResult()>& save);

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string cutAtCharacter(const std::string& text, std::size_t limit);

// What configure mode prints when there is no display to show the dialog on.
std::string describeSettingsWithoutDisplay(const Settings& current, const std::string& filePath);

}  // namespace gx
