#include "config/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "config/key_value_file.h"
#include "support/temp_folder.h"

namespace gx {
namespace {

using gxtest::fileExists;
using gxtest::readFile;
using gxtest::TempFolder;
using gxtest::writeFile;

std::string expectedTemplate() {
    const std::string sep = "//" + std::string(60, '-') + "//";
    const char* lines[] = {"// Glimmerax Settings....",
                           "",
                           sep.c_str(),
                           "// File or Directory path",
                           sep.c_str(),
                           "ImagePath = \"\"",
                           "",
                           sep.c_str(),
                           "// Windowed and Full-Screen settings",
                           sep.c_str(),
                           "ScreenWidth = 1600",
                           "ScreenHeight = 1200",
                           "",
                           sep.c_str(),
                           "// Misc settings",
                           sep.c_str(),
                           "ResourcePath = \"Default\"",
                           "LanguageFile = \"English.txt\"",
                           "Fullscreen = false",
                           "Duration = 130",
                           "GameSpeed = 10\t// Ranging from 1 to 10"};
    std::string text;
    for (const char* line : lines) text += std::string(text.empty() ? "" : "\r\n") + line;
    return text;
}

// A complete settings file with one line given by the caller.
std::string fileWith(const std::string& gameSpeedLine, const std::string& fullscreenLine) {
    return "ImagePath = \"/pics\"\r\nScreenWidth = 1024\r\nScreenHeight = 768\r\n"
           "ResourcePath = \"R\"\r\nLanguageFile = \"English.txt\"\r\n" +
           fullscreenLine + "\r\nDuration = 60\r\n" + gameSpeedLine + "\r\n";
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { resetSettings(); }
    void TearDown() override {
        setFileWritesFailForTesting(false);
        resetSettings();
    }
    std::string ini() const { return dir.file("Glimmerax.ini"); }
    TempFolder dir;
};

TEST_F(SettingsTest, MissingFileBecomesTheTemplate) {
    const std::string expected = expectedTemplate();
    // The seed's 695 bytes with our own name in the first line.
    ASSERT_EQ(expected.size(), 699u);
    EXPECT_EQ(expected.substr(0, 27), "// Glimmerax Settings....\r\n");
    EXPECT_EQ(settingsTemplate(), expected);
    // Through the home folder, as start-up calls it.
    ASSERT_EQ(::setenv("GLIMMERAX_HOME", dir.path().c_str(), 1), 0);
    loadSettings();
    ::unsetenv("GLIMMERAX_HOME");
    EXPECT_EQ(readFile(ini()), expected);
    EXPECT_FALSE(fileExists(ini() + ".bak"));
    EXPECT_STREQ(settings.ImagePath, "");
    EXPECT_EQ(settings.ScreenWidth, 1600);
    EXPECT_EQ(settings.ScreenHeight, 1200);
    EXPECT_EQ(settings.Duration, 130);
    EXPECT_EQ(settings.GameSpeed, 10);
    EXPECT_FALSE(settings.Fullscreen);
    EXPECT_STREQ(settings.ResourcePath, "Default");
    EXPECT_STREQ(settings.LanguageFile, "English.txt");
    EXPECT_EQ(std::string(settingsFilePath()).rfind("/Glimmerax.ini"),
              std::string(settingsFilePath()).size() - 14);
}

TEST_F(SettingsTest, IncompleteFileIsKeptAsBakAndReplaced) {
    const std::string old =
        "ImagePath = \"/pics\"\r\nScreenWidth = 1024\r\nScreenHeight = 768\r\n"
        "ResourcePath = \"R\"\r\nLanguageFile = \"English.txt\"\r\nFullscreen = true\r\n"
        "GameSpeed = 3\r\n";
    writeFile(ini(), old);
    loadSettingsFrom(dir.path());
    EXPECT_EQ(readFile(ini()), expectedTemplate());
    EXPECT_EQ(readFile(ini() + ".bak"), old);
    EXPECT_EQ(settings.Duration, 130);
    EXPECT_EQ(settings.GameSpeed, 10);
    EXPECT_STREQ(settings.ImagePath, "");
}

TEST_F(SettingsTest, GameSpeedRangeAndBooleanForms) {
    struct Case {
        const char* speed;
        int expected;
    };
    for (Case c :
         {Case{"0", 10}, Case{"11", 10}, Case{"-3", 10}, Case{"1", 1}, Case{"99999999999", 10}}) {
        writeFile(ini(), fileWith(std::string("GameSpeed = ") + c.speed, "Fullscreen = false"));
        loadSettingsFrom(dir.path());
        EXPECT_EQ(settings.GameSpeed, c.expected) << c.speed;
    }
    struct Flag {
        const char* text;
        bool expected;
    };
    for (Flag f : {Flag{"TRUE", true}, Flag{"1", true}, Flag{"true", true}, Flag{"yes", false}}) {
        writeFile(ini(), fileWith("GameSpeed = 4", std::string("Fullscreen = ") + f.text));
        loadSettingsFrom(dir.path());
        EXPECT_EQ(settings.Fullscreen, f.expected) << f.text;
        EXPECT_EQ(settings.ScreenWidth, 1024);
        EXPECT_EQ(settings.Duration, 60);
        EXPECT_STREQ(settings.ResourcePath, "R");
    }
    // Zero and negative sizes stay as read (they ask for the desktop size).
    writeFile(ini(),
              "ImagePath = \"\"\r\nScreenWidth = 0\r\nScreenHeight = -5\r\n"
              "ResourcePath = \"\"\r\nLanguageFile = \"x\"\r\nFullscreen = 0\r\n"
              "Duration = 5\r\nGameSpeed = 2\r\n");
    loadSettingsFrom(dir.path());
    EXPECT_EQ(settings.ScreenWidth, 0);
    EXPECT_EQ(settings.ScreenHeight, -5);
}

TEST_F(SettingsTest, SavingRewritesValuesInPlace) {
    loadSettingsFrom(dir.path());
    // The speed key at speed 10: values unchanged, the file stays the same bytes.
    saveSettings();
    EXPECT_EQ(readFile(ini()), expectedTemplate());

    settings.ScreenWidth = 1026;  // a device reset to 1024 x 768
    settings.ScreenHeight = 770;
    settings.Fullscreen = true;
    std::strcpy(settings.ImagePath, "/home/me/My Pictures");
    saveSettings();
    std::string expect = expectedTemplate();
    expect.replace(expect.find("1600"), 4, "1026");
    expect.replace(expect.find("1200"), 4, "770");
    expect.replace(expect.find("= false"), 7, "= true");
    expect.replace(expect.find("\"\""), 2, "\"/home/me/My Pictures\"");
    EXPECT_EQ(readFile(ini()), expect);

    settings.GameSpeed = 3;
    saveSettings();
    expect.replace(expect.find("= 10\t"), 5, "= 3\t");
    EXPECT_EQ(readFile(ini()), expect);

    // Edited by hand while running: later saves leave it alone.
    std::string edited = expect;
    edited.replace(edited.find("Duration = 130"), 14, "Duration = 90");
    writeFile(ini(), edited);
    settings.GameSpeed = 4;
    saveSettings();
    EXPECT_EQ(readFile(ini()), edited);
}

TEST_F(SettingsTest, FilesWrittenWithTheOldFirstLineAreNeverRewrittenForIt) {
    std::string old = expectedTemplate();
    old.replace(0, 25, "// Quorl Settings....");
    ASSERT_EQ(old.size(), 695u);
    writeFile(ini(), old);
    loadSettingsFrom(dir.path());
    EXPECT_EQ(readFile(ini()), old);
    EXPECT_FALSE(fileExists(ini() + ".bak"));
    settings.GameSpeed = 4;
    EXPECT_TRUE(saveSettings().ok());
    std::string expect = old;
    expect.replace(expect.find("= 10\t"), 5, "= 4\t");
    EXPECT_EQ(readFile(ini()), expect);
}

TEST_F(SettingsTest, OverLongValueIsRefusedButNeverReplacesTheFile) {
    // One byte over Linux's path limit.
    const std::string longPath = "/" + std::string(4095, 'p');
    const std::string old = "ImagePath = \"" + longPath +
                            "\"\r\nScreenWidth = 1024\r\n"
                            "ScreenHeight = 768\r\nResourcePath = \"R\"\r\n"
                            "LanguageFile = \"English.txt\"\r\nFullscreen = false\r\n"
                            "Duration = 60\r\nGameSpeed = 5\r\n";
    writeFile(ini(), old);
    std::strcpy(settings.ImagePath, "before");
    loadSettingsFrom(dir.path());
    EXPECT_EQ(readFile(ini()), old);
    EXPECT_FALSE(fileExists(ini() + ".bak"));
    EXPECT_STREQ(settings.ImagePath, "before");  // keeps what it held
    EXPECT_EQ(settings.Duration, 60);
    EXPECT_EQ(settings.GameSpeed, 5);

    // Saving other changes leaves the refused value as it stands.
    settings.GameSpeed = 6;
    EXPECT_TRUE(saveSettings().ok());
    std::string expect = old;
    expect.replace(expect.find("GameSpeed = 5"), 13, "GameSpeed = 6");
    EXPECT_EQ(readFile(ini()), expect);

    // The program's own change of that setting is written over it.
    std::strcpy(settings.ImagePath, "/short");
    EXPECT_TRUE(saveSettings().ok());
    expect.replace(expect.find(longPath), longPath.size(), "/short");
    EXPECT_EQ(readFile(ini()), expect);
}

TEST_F(SettingsTest, PathValuesUpTo4095BytesAreReadAndSaved) {
    // Written by hand: each path value of 4095 bytes is taken, wherever it stands.
    const std::string image = "/" + std::string(4094, 'i');
    const std::string resource = std::string(4095, 'r');
    const std::string language = "/" + std::string(3000, 'l') + "/English.txt";
    std::string file = fileWith("GameSpeed = 4", "Fullscreen = false");
    file.replace(file.find("\"/pics\""), 7, "\"" + image + "\"");
    file.replace(file.find("\"R\""), 3, "   \"" + resource + "\"");
    file.replace(file.find("\"English.txt\""), 13, "\"" + language + "\"");
    writeFile(ini(), file);
    loadSettingsFrom(dir.path());
    EXPECT_EQ(readFile(ini()), file);
    EXPECT_EQ(std::string(settings.ImagePath), image);
    EXPECT_EQ(std::string(settings.ResourcePath), resource);
    EXPECT_EQ(std::string(settings.LanguageFile), language);

    // Chosen by the program (the dialog): saved and read back whole.
    const std::string chosen = "/" + std::string(4000, 'c') + "/" + std::string(93, 'd');
    ASSERT_EQ(chosen.size(), 4095u);
    std::memcpy(settings.ImagePath, chosen.c_str(), chosen.size() + 1);
    EXPECT_TRUE(saveSettings().ok());
    resetSettings();
    loadSettingsFrom(dir.path());
    EXPECT_EQ(std::string(settings.ImagePath), chosen);
    EXPECT_EQ(std::string(settings.ResourcePath), resource);
    EXPECT_EQ(settings.GameSpeed, 4);

    // Into the template's empty quotes as well.
    resetSettings();
    TempFolder fresh;
    loadSettingsFrom(fresh.path());
    std::memcpy(settings.ImagePath, chosen.c_str(), chosen.size() + 1);
    EXPECT_TRUE(saveSettings().ok());
    resetSettings();
    loadSettingsFrom(fresh.path());
    EXPECT_EQ(std::string(settings.ImagePath), chosen);

    // Other values keep the 259-column rule.
    writeFile(ini(), fileWith("GameSpeed = " + std::string(250, ' ') + "4", "Fullscreen = true"));
    resetSettings();
    loadSettingsFrom(dir.path());
    EXPECT_EQ(settings.GameSpeed, 10);  // refused: the value for an absent key
    EXPECT_TRUE(settings.Fullscreen);
}

TEST_F(SettingsTest, UnwritableHomeUsesTheValuesAndWritesNothing) {
    // Read-only folder; root ignores the mode, so writes are also made to fail.
    auto makeReadOnly = [&] {
        ::chmod(dir.path().c_str(), 0555);
        setFileWritesFailForTesting(true);
    };
    makeReadOnly();
    loadSettingsFrom(dir.path());
    EXPECT_FALSE(fileExists(ini()));
    EXPECT_EQ(settings.ScreenWidth, 800);
    EXPECT_EQ(settings.ScreenHeight, 600);
    EXPECT_EQ(settings.Duration, 300);
    EXPECT_EQ(settings.GameSpeed, 10);
    EXPECT_STREQ(settings.LanguageFile, "English.txt");
    EXPECT_STREQ(settings.ResourcePath, "");
    saveSettings();
    EXPECT_FALSE(fileExists(ini()));

    ::chmod(dir.path().c_str(), 0755);
    setFileWritesFailForTesting(false);
    const std::string incomplete = "GameSpeed = 4\r\nImagePath = \"/p\"\r\n";
    writeFile(ini(), incomplete);
    makeReadOnly();
    loadSettingsFrom(dir.path());
    EXPECT_EQ(readFile(ini()), incomplete);
    EXPECT_FALSE(fileExists(ini() + ".bak"));
    EXPECT_EQ(settings.GameSpeed, 4);
    EXPECT_STREQ(settings.ImagePath, "/p");
    EXPECT_EQ(settings.Duration, 300);
    settings.GameSpeed = 5;
    saveSettings();
    EXPECT_EQ(readFile(ini()), incomplete);
}

TEST_F(SettingsTest, KeptInMemoryTheFileIsNeverWritten) {
    // No file: the template's values, and still no file.
    keepSettingsInMemory();
    loadSettingsFrom(dir.path());
    EXPECT_FALSE(fileExists(ini()));
    EXPECT_EQ(settings.ScreenWidth, 1600);
    EXPECT_EQ(settings.Duration, 130);
    EXPECT_STREQ(settings.ResourcePath, "Default");
    EXPECT_TRUE(saveSettings().ok());
    EXPECT_FALSE(fileExists(ini()));

    // An incomplete file: what a normal run would read after replacing it, and the
    // file as it was, without a copy beside it.
    const std::string incomplete = "GameSpeed = 4\r\nImagePath = \"/p\"\r\n";
    writeFile(ini(), incomplete);
    loadSettingsFrom(dir.path());
    EXPECT_EQ(readFile(ini()), incomplete);
    EXPECT_FALSE(fileExists(ini() + ".bak"));
    EXPECT_EQ(settings.GameSpeed, 10);
    EXPECT_STREQ(settings.ImagePath, "");
    EXPECT_EQ(settings.Duration, 130);

    // A complete file: its values, and changes stay in memory.
    const std::string complete = fileWith("GameSpeed = 4", "Fullscreen = true");
    writeFile(ini(), complete);
    loadSettingsFrom(dir.path());
    EXPECT_EQ(settings.GameSpeed, 4);
    EXPECT_EQ(settings.Duration, 60);
    settings.GameSpeed = 5;
    settings.ScreenWidth = 322;
    EXPECT_TRUE(saveSettings().ok());
    EXPECT_EQ(readFile(ini()), complete);
}

TEST_F(SettingsTest, AFolderInPlaceOfTheFileIsLeftAlone) {
    ASSERT_TRUE(std::filesystem::create_directory(ini()));
    loadSettingsFrom(dir.path());
    EXPECT_TRUE(std::filesystem::is_directory(ini()));
    EXPECT_EQ(settings.Duration, 300);
}

TEST_F(SettingsTest, AHomeDeeperThan259BytesKeepsItsSettings) {
    // The limit is for values, not for where the file lives.
    std::string deep = dir.path();
    while (deep.size() < 600) deep += "/" + std::string(100, 'd');
    ASSERT_TRUE(std::filesystem::create_directories(deep));
    loadSettingsFrom(deep);
    EXPECT_EQ(readFile(deep + "/Glimmerax.ini"), expectedTemplate());
    EXPECT_EQ(settings.ScreenWidth, 1600);
    EXPECT_EQ(settings.Duration, 130);
    settings.Duration = 77;
    EXPECT_TRUE(saveSettings().ok());
    resetSettings();
    loadSettingsFrom(deep);
    EXPECT_EQ(settings.Duration, 77);
}

// Each way a save can fail: one line on standard error naming the file and the
// reason, once per run, and the file as it was.
class SettingsSaveFailure : public SettingsTest {
protected:
    // Loads, changes the speed, saves twice; returns what standard error got.
    std::string loadChangeAndSaveTwice(SettingsSaveResult* first = nullptr) {
        loadSettingsFrom(dir.path());
        testing::internal::CaptureStderr();
        settings.GameSpeed = settings.GameSpeed == 3 ? 4 : 3;
        SettingsSaveResult r = saveSettings();
        settings.GameSpeed = settings.GameSpeed == 3 ? 4 : 3;
        saveSettings();
        if (first) *first = r;
        return testing::internal::GetCapturedStderr();
    }
    std::string lineFor(const std::string& reason) const {
        return "glimmerax: The settings could not be saved to " + ini() + ": " + reason +
               ". The file was left as it was.\n";
    }
};

TEST_F(SettingsSaveFailure, FileOverOneMegabyte) {
    std::string big = fileWith("GameSpeed = 5", "Fullscreen = false");
    while (big.size() <= (1u << 20)) big += "// " + std::string(1000, 'x') + "\r\n";
    writeFile(ini(), big);
    SettingsSaveResult r;
    EXPECT_EQ(loadChangeAndSaveTwice(&r), lineFor("it is larger than 1 MB"));
    EXPECT_FALSE(r.saved);
    EXPECT_EQ(readFile(ini()), big);
}

TEST_F(SettingsSaveFailure, FolderInItsPlace) {
    ASSERT_TRUE(std::filesystem::create_directory(ini()));
    EXPECT_EQ(loadChangeAndSaveTwice(), lineFor("it is a folder"));
    EXPECT_TRUE(std::filesystem::is_directory(ini()));
}

TEST_F(SettingsSaveFailure, ReadOnlyFile) {
    const std::string mine = fileWith("GameSpeed = 5", "Fullscreen = false");
    writeFile(ini(), mine);
    ASSERT_EQ(::chmod(ini().c_str(), 0444), 0);
    // Also as root, who could write it: a file nobody may write is left alone.
    EXPECT_EQ(loadChangeAndSaveTwice(), lineFor("the file is read-only"));
    EXPECT_EQ(readFile(ini()), mine);
    // An incomplete read-only file is not replaced by the template either.
    ::chmod(ini().c_str(), 0644);
    writeFile(ini(), "GameSpeed = 2\r\n");
    ::chmod(ini().c_str(), 0444);
    resetSettings();
    loadSettingsFrom(dir.path());
    EXPECT_EQ(readFile(ini()), "GameSpeed = 2\r\n");
    EXPECT_FALSE(fileExists(ini() + ".bak"));
    EXPECT_EQ(settings.GameSpeed, 2);
}

TEST_F(SettingsSaveFailure, ReadOnlyFolder) {
    const std::string mine = fileWith("GameSpeed = 5", "Fullscreen = false");
    writeFile(ini(), mine);
    ::chmod(dir.path().c_str(), 0555);
    setFileWritesFailForTesting(true);  // root ignores the folder's mode
    EXPECT_EQ(loadChangeAndSaveTwice(), lineFor("Permission denied"));
    EXPECT_EQ(readFile(ini()), mine);

    // No file at all in a read-only home: the reason is why none could be made.
    ::chmod(dir.path().c_str(), 0755);
    std::filesystem::remove(ini());
    ::chmod(dir.path().c_str(), 0555);
    resetSettings();
    EXPECT_EQ(loadChangeAndSaveTwice(), lineFor("Permission denied"));
    EXPECT_FALSE(fileExists(ini()));
}

TEST_F(SettingsSaveFailure, ChangedByAnotherProgram) {
    loadSettingsFrom(dir.path());
    const std::string theirs = readFile(ini()) + "\r\n// mine now";
    writeFile(ini(), theirs);
    testing::internal::CaptureStderr();
    settings.GameSpeed = 3;
    SettingsSaveResult r = saveSettings();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              lineFor("it was changed by another program since it was read"));
    EXPECT_FALSE(r.saved);
    EXPECT_EQ(readFile(ini()), theirs);
}

TEST_F(SettingsSaveFailure, FullDisk) {
    // A tmpfs of 64 KB, filled (needs the right to mount, as the end-to-end test does).
    TempFolder disk;
    if (::system(("mount -t tmpfs -o size=64k tmpfs '" + disk.path() + "' 2>/dev/null").c_str()) !=
        0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    struct Unmount {
        std::string path;
        ~Unmount() { (void)::system(("umount '" + path + "'").c_str()); }
    } unmount{disk.path()};
    const std::string file = disk.file("Glimmerax.ini");
    writeFile(file, settingsTemplate());
    loadSettingsFrom(disk.path());
    {
        std::ofstream filler(disk.file("filler"), std::ios::binary);
        const std::string block(4096, 'f');
        for (int i = 0; i < 64 && filler; ++i) filler << block;
    }
    testing::internal::CaptureStderr();
    settings.GameSpeed = 3;
    SettingsSaveResult r = saveSettings();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "glimmerax: The settings could not be saved to " + file +
                  ": No space left on device. The file was left as it was.\n");
    EXPECT_FALSE(r.saved);
    EXPECT_EQ(readFile(file), settingsTemplate());
}

TEST_F(SettingsSaveFailure, AValueTheFileCannotHoldIsNamed) {
    // An unquoted path cannot take a value with a blank where it stands.
    writeFile(ini(),
              "ImagePath = /pics\r\nScreenWidth = 1024\r\nScreenHeight = 768\r\n"
              "ResourcePath = R\r\nLanguageFile = English.txt\r\nFullscreen = false\r\n"
              "Duration = 60\r\nGameSpeed = 5\r\n");
    loadSettingsFrom(dir.path());
    std::strcpy(settings.ImagePath, "/my pictures");
    settings.GameSpeed = 6;
    testing::internal::CaptureStderr();
    SettingsSaveResult r = saveSettings();
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        "glimmerax: The settings could not be saved to " + ini() +
            ": the file cannot hold the new value of ImagePath where it stands (a double quote or "
            "line break in it, or the value is not in quotes in the file). ImagePath kept its old "
            "value in the file.\n");
    EXPECT_TRUE(r.saved);
    EXPECT_EQ(r.notStored, "ImagePath");
    // The rest was saved.
    EXPECT_NE(readFile(ini()).find("GameSpeed = 6"), std::string::npos);
    EXPECT_NE(readFile(ini()).find("ImagePath = /pics\r\n"), std::string::npos);
}

TEST_F(SettingsTest, LanguageLabels) {
    loadSettingsFrom(dir.path());
    loadLabelsFrom(dir.path());  // no language file: the defaults
    EXPECT_STREQ(labels.gamePoint, "GAME POINT");
    EXPECT_STREQ(labels.gameOver, "GAME OVER");
    EXPECT_STREQ(labels.redWins, "RED WINS");
    EXPECT_STREQ(labels.blueWins, "BLUE WINS");
    EXPECT_STREQ(labels.paused, "PAUSED");

    resetSettings();
    loadSettingsFrom(dir.path());
    writeFile(dir.file("English.txt"), "paused = Pause\nGameOver = \"" + std::string(128, 'g') +
                                           "\"\n"
                                           "RedWins = \"" +
                                           std::string(127, 'r') + "\"\n");
    loadLabelsFrom(dir.path());
    EXPECT_STREQ(labels.paused, "Pause");
    EXPECT_STREQ(labels.gameOver, "");  // too long: keeps what it held
    EXPECT_EQ(std::string(labels.redWins), std::string(127, 'r'));
    EXPECT_STREQ(labels.gamePoint, "GAME POINT");

    // The file name is taken relative to the home folder.
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("lang")));
    writeFile(dir.file("lang/Deutsch.txt"), "BlueWins = \"BLAU GEWINNT\"\r\n");
    std::strcpy(settings.LanguageFile, "lang/Deutsch.txt");
    loadLabelsFrom(dir.path());
    EXPECT_STREQ(labels.blueWins, "BLAU GEWINNT");
}

}  // namespace
}  // namespace gx
