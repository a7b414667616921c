#include "config/settings.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "config/key_value_file.h"
#include "framework/failures.h"
#include "platform/os/paths.h"

namespace gx {

Settings settings;
Labels labels;

namespace {

constexpr int32_t kTextCapacity = int32_t(kPathValueCapacity);
constexpr int32_t kLabelCapacity = 128;
constexpr const char* kSettingsName = "Glimmerax.ini";

enum class Kind { text, integer, boolean };

// Each setting once: the loader, the key check and the saver all walk this table.
struct SettingInfo {
    uint32_t hash;
    Kind kind;
    char (Settings::*text)[kPathValueCapacity];
    const char* name;
    int32_t Settings::*integer;
    bool Settings::*boolean;
    const char* absentText;
    int32_t absentNumber;
};

constexpr SettingInfo kSettings[] = {
    {kHashImagePath, Kind::text, &Settings::ImagePath, "ImagePath", nullptr, nullptr, "", 0},
    {kHashScreenWidth, Kind::integer, nullptr, "ScreenWidth", &Settings::ScreenWidth, nullptr,
     nullptr, 800},
    {kHashScreenHeight, Kind::integer, nullptr, "ScreenHeight", &Settings::ScreenHeight, nullptr,
     nullptr, 600},
    {kHashDuration, Kind::integer, nullptr, "Duration", &Settings::Duration, nullptr, nullptr, 300},
    {kHashFullscreen, Kind::boolean, nullptr, "Fullscreen", nullptr, &Settings::Fullscreen, nullptr,
     0},
    {kHashResourcePath, Kind::text, &Settings::ResourcePath, "ResourcePath", nullptr, nullptr, "",
     0},
    {kHashLanguageFile, Kind::text, &Settings::LanguageFile, "LanguageFile", nullptr, nullptr,
     "English.txt", 0},
    {kHashGameSpeed, Kind::integer, nullptr, "GameSpeed", &Settings::GameSpeed, nullptr, nullptr,
     10},
};

struct LabelInfo {
    uint32_t hash;
    char (Labels::*text)[128];
    const char* defaultText;
};

constexpr LabelInfo kLabels[] = {
    {0x23A2819D, &Labels::gamePoint, "GAME POINT"}, {0x4EC1D723, &Labels::gameOver, "GAME OVER"},
    {0x6544A3D5, &Labels::redWins, "RED WINS"},     {0xC02CC9D4, &Labels::blueWins, "BLUE WINS"},
    {0x590A052D, &Labels::paused, "PAUSED"},
};

#define GX_SEPARATOR "//------------------------------------------------------------//\r\n"
constexpr char kTemplate[] =
    "// Glimmerax Settings....\r\n"
    "\r\n" GX_SEPARATOR "// File or Directory path\r\n" GX_SEPARATOR
    "ImagePath = \"\"\r\n"
    "\r\n" GX_SEPARATOR "// Windowed and Full-Screen settings\r\n" GX_SEPARATOR
    "ScreenWidth = 1600\r\n"
    "ScreenHeight = 1200\r\n"
    "\r\n" GX_SEPARATOR "// Misc settings\r\n" GX_SEPARATOR
    "ResourcePath = \"Default\"\r\n"
    "LanguageFile = \"English.txt\"\r\n"
    "Fullscreen = false\r\n"
    "Duration = 130\r\n"
    "GameSpeed = 10\t// Ranging from 1 to 10";
#undef GX_SEPARATOR

struct SettingsModule {
    std::unique_ptr<KeyValueFile> reader;
    std::string path;
    // The settings as read: a value the reader refused is written back only when the
    // program has changed that setting since.
    Settings applied{};
    // Why the template could not be put in place, when it could not.
    std::string templateProblem;
    // A failed save is told once per run.
    bool saveFailureTold = false;
    // Read only: see keepSettingsInMemory.
    bool inMemory = false;
};
SettingsModule state;

// A reader for the settings file: the path values may be long.
std::unique_ptr<KeyValueFile> newReader(const std::string& path) {
    auto reader = std::make_unique<KeyValueFile>(path);
    for (const SettingInfo& s : kSettings)
        if (s.kind == Kind::text) reader->allowLongValues(s.hash);
    return reader;
}

std::string inFolder(const std::string& folder, const char* name, size_t nameLength) {
    std::string path(name, nameLength);
    if (!path.empty() && path[0] == '/') return path;
    if (folder.empty()) return path;
    return folder.back() == '/' ? folder + path : folder + "/" + path;
}

bool allKeysPresent(const KeyValueFile& reader) {
    for (const SettingInfo& s : kSettings)
        if (!reader.has(s.hash)) return false;
    return true;
}

// Keeps the user's file as "<name>.bak" (unless it is our own template being written
// again), then writes the template in its place. False leaves the file as it was, with
// the reason in *problem.
bool replaceWithTemplate(const std::string& path, bool backUp, std::string* problem) {
    if (backUp) {
        std::string old;
        bool truncated = false;
        ReadResult r = readRegularFile(path, old, KeyValueFile::kMaxFileBytes, &truncated);
        struct stat st;
        if (r == ReadResult::ok && ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) {
            *problem = "the file is read-only";  // as writeFileAtomically would find
            return false;
        }
        if (r == ReadResult::ok) {
            if (truncated) {
                *problem = "it is larger than 1 MB";
                return false;
            }
            if (!writeFileAtomically(path + ".bak", old, problem)) {
                *problem = "its copy " + path + ".bak cannot be written: " + *problem;
                return false;
            }
        } else if (r != ReadResult::missing) {
            // Not ours to replace: a folder, a device, unreadable.
            *problem = describeReadFailure(path, r, errno);
            return false;
        }
    }
    return writeFileAtomically(path, settingsTemplate(), problem);
}

void apply(const KeyValueFile& reader) {
    for (const SettingInfo& s : kSettings) {
        switch (s.kind) {
        case Kind::text:
            // A refused (too long) text keeps what the variable held.
            reader.getString(s.hash, settings.*s.text, s.absentText, kTextCapacity);
            break;
        case Kind::integer:
            // A refused number takes the value for an absent key.
            reader.getInt(s.hash, settings.*s.integer, s.absentNumber);
            break;
        case Kind::boolean: reader.getBool(s.hash, settings.*s.boolean, s.absentNumber != 0); break;
        }
    }
    if (settings.GameSpeed < 1 || settings.GameSpeed > 10) settings.GameSpeed = 10;
    // ScreenWidth and ScreenHeight stay as read: the device completion treats a size
    // of 0 or less as the desktop's size.
    state.applied = settings;
}

bool unchangedSinceLoad(const SettingInfo& s) {
    switch (s.kind) {
    case Kind::text:
        return std::strncmp(settings.*s.text, state.applied.*s.text, kTextCapacity) == 0;
    case Kind::integer: return settings.*s.integer == state.applied.*s.integer;
    case Kind::boolean: return settings.*s.boolean == state.applied.*s.boolean;
    }
    return true;
}

}  // namespace

const std::string& settingsTemplate() {
    static const std::string bytes(kTemplate, sizeof kTemplate - 1);
    return bytes;
}

void loadSettings() { loadSettingsFrom(homeFolder()); }

void keepSettingsInMemory() { state.inMemory = true; }

void loadSettingsFrom(const std::string& folder) {
    releaseSettings();
    state.templateProblem.clear();
    try {
        state.path = inFolder(folder, kSettingsName, std::strlen(kSettingsName));
        if (state.inMemory) {
            // What a normal run would read once it had put the template in place.
            state.reader = newReader(state.path);
            if (!state.reader->load() || !allKeysPresent(*state.reader))
                state.reader->loadText(settingsTemplate());
            apply(*state.reader);
            return;
        }
        bool templateWritten = false;
        // The user's file, then the template, then one retry of the template.
        for (int attempt = 0;; ++attempt) {
            state.reader = newReader(state.path);
            bool loaded = state.reader->load();
            if (loaded && allKeysPresent(*state.reader)) break;
            if (attempt == 2) break;
            std::string problem;
            if (!replaceWithTemplate(state.path, !templateWritten, &problem)) {
                state.templateProblem = problem;
                break;
            }
            templateWritten = true;
        }
    } catch (const std::bad_alloc&) {
        state.reader.reset();
        reportOutOfMemory();
        return;
    }
    apply(*state.reader);
}

SettingsSaveResult saveSettings() {
    SettingsSaveResult result;
    KeyValueFile* reader = state.reader.get();
    if (reader == nullptr || state.inMemory) return result;
    for (const SettingInfo& s : kSettings) {
        if (reader->isRefused(s.hash) && unchangedSinceLoad(s)) continue;
        bool stored = true;
        switch (s.kind) {
        case Kind::text: {
            const char* value = settings.*s.text;
            size_t n = strnlen(value, kTextCapacity);
            if (n == size_t(kTextCapacity)) {  // unterminated: never written
                stored = false;
                break;
            }
            stored = reader->setString(s.hash, value);
            break;
        }
        case Kind::integer: stored = reader->setInt(s.hash, settings.*s.integer); break;
        case Kind::boolean: stored = reader->setBool(s.hash, settings.*s.boolean ? 1 : 0); break;
        }
        // A key the file lacks (a file the template could not replace) is no failure
        // of this save; a changed value the file cannot hold is.
        if (!stored && reader->has(s.hash) && !unchangedSinceLoad(s)) {
            if (!result.notStored.empty()) result.notStored += ", ";
            result.notStored += s.name;
        }
    }
    if (!reader->save()) {
        result.saved = false;
        // A file that could be neither read nor put in place: why it could not be written.
        result.problem = !reader->isLoaded() && !state.templateProblem.empty()
                             ? state.templateProblem
                             : reader->problem();
    } else if (!result.notStored.empty()) {
        result.problem = "the file cannot hold the new value of " + result.notStored +
                         " where it stands (a double quote or line break in it, or the value "
                         "is not in quotes in the file)";
    }
    if (!result.ok() && !state.saveFailureTold) {
        state.saveFailureTold = true;
        std::fprintf(stderr, "glimmerax: %s\n", describeSaveFailure(result).c_str());
    }
    return result;
}

std::string describeSaveFailure(const SettingsSaveResult& result) {
    if (result.ok()) return "";
    std::string line = "The settings could not be saved to " + state.path;
    if (!result.saved) {
        line += ": " +
                (result.problem.empty() ? std::string("it cannot be written") : result.problem) +
                ". The file was left as it was.";
    } else {
        line +=
            ": " + result.problem + ". " + result.notStored + " kept its old value in the file.";
    }
    return line;
}

void loadLabels() { loadLabelsFrom(homeFolder()); }

void loadLabelsFrom(const std::string& folder) {
    const char* name = settings.LanguageFile;
    std::string path;
    try {
        path = inFolder(folder, name, strnlen(name, kTextCapacity));
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
        return;
    }
    // A missing or unreadable file gives no entries and so the defaults.
    KeyValueFile reader(path);
    reader.load();
    for (const LabelInfo& l : kLabels)
        reader.getString(l.hash, labels.*l.text, l.defaultText, kLabelCapacity);
    reader.release();
}

void releaseSettings() {
    if (state.reader) state.reader->release();
    state.reader.reset();
}

void resetSettings() {
    releaseSettings();
    state.path.clear();
    state.templateProblem.clear();
    state.saveFailureTold = false;
    state.inMemory = false;
    state.applied = Settings{};
    settings = Settings{};
    labels = Labels{};
}

KeyValueFile* settingsReader() { return state.reader.get(); }

const char* settingsFilePath() { return state.path.c_str(); }

}  // namespace gx
