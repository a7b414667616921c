#include "config/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "config/key_value_file.h"
#include "temp_folder.h"

namespace gx {
namespace {

using test::exists;
using test::readBytes;
using test::TempFolder;
using test::writeBytes;

std::string expectedTemplate() {
    const std::string sep = "//" + std::string(60, '-') + "//";
    const char* lines[] = {"// Quorl Settings....", "", sep.c_str(), "// File or Directory path",
                           sep.c_str(), "ImagePath = \"\"", "", sep.c_str(),
                           "// Windowed and Full-Screen settings", sep.c_str(),
                           "ScreenWidth = 1600", "ScreenHeight = 1200", "", sep.c_str(),
                           "// Misc settings", sep.c_str(), "ResourcePath = \"Default\"",
                           "LanguageFile = \"English.txt\"", "Fullscreen = false", "Duration = 130",
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
    ASSERT_EQ(expected.size(), 695u);
    EXPECT_EQ(settingsTemplate(), expected);
    // Through the home folder, as start-up calls it.
    ASSERT_EQ(::setenv("GLIMMERAX_HOME", dir.path().c_str(), 1), 0);
    loadSettings();
    ::unsetenv("GLIMMERAX_HOME");
    EXPECT_EQ(readBytes(ini()), expected);
    EXPECT_FALSE(exists(ini() + ".bak"));
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
    writeBytes(ini(), old);
    loadSettingsFrom(dir.path());
    EXPECT_EQ(readBytes(ini()), expectedTemplate());
    EXPECT_EQ(readBytes(ini() + ".bak"), old);
    EXPECT_EQ(settings.Duration, 130);
    EXPECT_EQ(settings.GameSpeed, 10);
    EXPECT_STREQ(settings.ImagePath, "");
}

TEST_F(SettingsTest, GameSpeedRangeAndBooleanForms) {
    struct Case {
        const char* speed;
        int expected;
    };
    for (Case c : {Case{"0", 10}, Case{"11", 10}, Case{"-3", 10}, Case{"1", 1},
                   Case{"99999999999", 10}}) {
        writeBytes(ini(), fileWith(std::string("GameSpeed = ") + c.speed, "Fullscreen = false"));
        loadSettingsFrom(dir.path());
        EXPECT_EQ(settings.GameSpeed, c.expected) << c.speed;
    }
    struct Flag {
        const char* text;
        bool expected;
    };
    for (Flag f : {Flag{"TRUE", true}, Flag{"1", true}, Flag{"true", true}, Flag{"yes", false}}) {
        writeBytes(ini(), fileWith("GameSpeed = 4", std::string("Fullscreen = ") + f.text));
        loadSettingsFrom(dir.path());
        EXPECT_EQ(settings.Fullscreen, f.expected) << f.text;
        EXPECT_EQ(settings.ScreenWidth, 1024);
        EXPECT_EQ(settings.Duration, 60);
        EXPECT_STREQ(settings.ResourcePath, "R");
    }
    // Zero and negative sizes stay as read (they ask for the desktop size).
    writeBytes(ini(), "ImagePath = \"\"\r\nScreenWidth = 0\r\nScreenHeight = -5\r\n"
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
    EXPECT_EQ(readBytes(ini()), expectedTemplate());

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
    EXPECT_EQ(readBytes(ini()), expect);

    settings.GameSpeed = 3;
    saveSettings();
    expect.replace(expect.find("= 10\t"), 5, "= 3\t");
    EXPECT_EQ(readBytes(ini()), expect);

    // Edited by hand while running: later saves leave it alone.
    std::string edited = expect;
    edited.replace(edited.find("Duration = 130"), 14, "Duration = 90");
    writeBytes(ini(), edited);
    settings.GameSpeed = 4;
    saveSettings();
    EXPECT_EQ(readBytes(ini()), edited);
}

TEST_F(SettingsTest, OverLongValueIsRefusedButNeverReplacesTheFile) {
    const std::string longPath = "/" + std::string(280, 'p');
    const std::string old = "ImagePath = \"" + longPath + "\"\r\nScreenWidth = 1024\r\n"
                            "ScreenHeight = 768\r\nResourcePath = \"R\"\r\n"
                            "LanguageFile = \"English.txt\"\r\nFullscreen = false\r\n"
                            "Duration = 60\r\nGameSpeed = 5\r\n";
    writeBytes(ini(), old);
    std::strcpy(settings.ImagePath, "before");
    loadSettingsFrom(dir.path());
    EXPECT_EQ(readBytes(ini()), old);
    EXPECT_FALSE(exists(ini() + ".bak"));
    EXPECT_STREQ(settings.ImagePath, "before");  // keeps what it held
    EXPECT_EQ(settings.Duration, 60);
    EXPECT_EQ(settings.GameSpeed, 5);

    // Saving other changes leaves the refused value as it stands.
    settings.GameSpeed = 6;
    saveSettings();
    std::string expect = old;
    expect.replace(expect.find("GameSpeed = 5"), 13, "GameSpeed = 6");
    EXPECT_EQ(readBytes(ini()), expect);

    // The program's own change of that setting is written over it.
    std::strcpy(settings.ImagePath, "/short");
    saveSettings();
    expect.replace(expect.find(longPath), longPath.size(), "/short");
    EXPECT_EQ(readBytes(ini()), expect);
}

TEST_F(SettingsTest, UnwritableHomeUsesTheValuesAndWritesNothing) {
    // Read-only folder; root ignores the mode, so writes are also made to fail.
    auto makeReadOnly = [&] {
        ::chmod(dir.path().c_str(), 0555);
        setFileWritesFailForTesting(true);
    };
    makeReadOnly();
    loadSettingsFrom(dir.path());
    EXPECT_FALSE(exists(ini()));
    EXPECT_EQ(settings.ScreenWidth, 800);
    EXPECT_EQ(settings.ScreenHeight, 600);
    EXPECT_EQ(settings.Duration, 300);
    EXPECT_EQ(settings.GameSpeed, 10);
    EXPECT_STREQ(settings.LanguageFile, "English.txt");
    EXPECT_STREQ(settings.ResourcePath, "");
    saveSettings();
    EXPECT_FALSE(exists(ini()));

    ::chmod(dir.path().c_str(), 0755);
    setFileWritesFailForTesting(false);
    const std::string incomplete = "GameSpeed = 4\r\nImagePath = \"/p\"\r\n";
    writeBytes(ini(), incomplete);
    makeReadOnly();
    loadSettingsFrom(dir.path());
    EXPECT_EQ(readBytes(ini()), incomplete);
    EXPECT_FALSE(exists(ini() + ".bak"));
    EXPECT_EQ(settings.GameSpeed, 4);
    EXPECT_STREQ(settings.ImagePath, "/p");
    EXPECT_EQ(settings.Duration, 300);
    settings.GameSpeed = 5;
    saveSettings();
    EXPECT_EQ(readBytes(ini()), incomplete);
}

TEST_F(SettingsTest, NonRegularOrTooLongPathIsLeftAlone) {
    ASSERT_TRUE(std::filesystem::create_directory(ini()));
    loadSettingsFrom(dir.path());
    EXPECT_TRUE(std::filesystem::is_directory(ini()));
    EXPECT_EQ(settings.Duration, 300);

    std::string deep = dir.path() + "/" + std::string(250, 'd');
    ASSERT_TRUE(std::filesystem::create_directory(deep));
    loadSettingsFrom(deep);
    EXPECT_FALSE(exists(deep + "/Glimmerax.ini"));
    EXPECT_EQ(settings.ScreenWidth, 800);
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
    writeBytes(dir.file("English.txt"),
               "paused = Pause\nGameOver = \"" + std::string(128, 'g') + "\"\n"
               "RedWins = \"" + std::string(127, 'r') + "\"\n");
    loadLabelsFrom(dir.path());
    EXPECT_STREQ(labels.paused, "Pause");
    EXPECT_STREQ(labels.gameOver, "");  // too long: keeps what it held
    EXPECT_EQ(std::string(labels.redWins), std::string(127, 'r'));
    EXPECT_STREQ(labels.gamePoint, "GAME POINT");

    // The file name is taken relative to the home folder.
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("lang")));
    writeBytes(dir.file("lang/Deutsch.txt"), "BlueWins = \"BLAU GEWINNT\"\r\n");
    std::strcpy(settings.LanguageFile, "lang/Deutsch.txt");
    loadLabelsFrom(dir.path());
    EXPECT_STREQ(labels.blueWins, "BLAU GEWINNT");
}

}  // namespace
}  // namespace gx
