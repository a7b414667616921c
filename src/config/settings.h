// The settings file "Glimmerax.ini" and the language labels.
#pragma once

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

struct Settings {
    char ImagePath[260];
    int32_t ScreenWidth;
    int32_t ScreenHeight;
    char ResourcePath[260];
    char LanguageFile[260];
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
void saveSettings();
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
// The 695 bytes written when the settings file is missing or incomplete.
const std::string& settingsTemplate();

}  // namespace gx
