// The settings file "Glimmerax.ini" and the language labels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gx {

// Key hashes of the settings file.
constexpr uint32_t kHashImagePath = 0x67A48D1F;
constexpr uint32_t kHashScreenWidth = 0xF3E4A741;
constexpr uint32_t kHashScreenHeight = 0x71D99B90;
constexpr uint32_t kHashResourcePath = 0x2B5A5518;
constexpr uint32_t kHashLanguageFile = 0x6A0F3463;
constexpr uint32_t kHashFullscreen = 0x8897FD52;
constexpr uint32_t kHashDuration = 0x73A96807;
constexpr uint32_t kHashGameSpeed = 0x5F0F8D9C;

// Path values (ImagePath, ResourcePath, LanguageFile) hold up to 4095 bytes, Linux's
// path limit, and are stored and read back at that length.
constexpr size_t kPathValueCapacity = 4096;

struct Settings {
    char ImagePath[kPathValueCapacity];
    int32_t ScreenWidth;
    int32_t ScreenHeight;
    char ResourcePath[kPathValueCapacity];
    char LanguageFile[kPathValueCapacity];
    bool Fullscreen;
    int32_t Duration;
    int32_t GameSpeed;
};

// Zero before loadSettings.
extern Settings settings;

struct Labels {
    char gamePoint[128];
    char gameOver[128];
    char redWins[128];
    char blueWins[128];
    char paused[128];
};
extern Labels labels;

void loadSettings();
// From now on the settings are read but the file is never written: no template in
// place of a missing or incomplete file (its values are used in memory instead) and
// no saves. For the settings dialog's preview, which must leave the user's file alone.
void keepSettingsInMemory();

// What a save did. `saved` is false when the file could not be written (it stays as it
// was); `notStored` names the settings whose changed values the file cannot hold
// where they stand (the rest were written). `problem` says why, in words.
struct SettingsSaveResult {
    bool saved = true;
    std::string notStored;
    std::string problem;
    bool ok() const { return saved && notStored.empty(); }
};
// Writes the settings into the file in place. A failure is told once per run on
// standard error, naming the file and the reason.
SettingsSaveResult saveSettings();
// A failed save in one sentence, naming the file and the reason ("" when it saved);
// standard error gets it after "glimmerax: ", the dialog shows it as it is.
std::string describeSaveFailure(const SettingsSaveResult& result);
void loadLabels();
void releaseSettings();
// Full path of the settings file in use ("" before loadSettings).
const char* settingsFilePath();

// The same with the folder given instead of the home folder (tests, tools).
void loadSettingsFrom(const std::string& folder);
void loadLabelsFrom(const std::string& folder);
// Forgets everything: settings and labels zero, no reader, no path.
void resetSettings();
class KeyValueFile;
// The reader of the settings file, or null (no loadSettings yet, or released).
KeyValueFile* settingsReader();
// The 699 bytes written when the settings file is missing or incomplete.
const std::string& settingsTemplate();

}  // namespace gx
