// The settings dialog's rules: where the slider opens, what its label says, what OK
// and Cancel do to the settings, and how a picked folder is stored.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/settings.h"
#include "ui/config_dialog.h"
#include "ui/config_dialog_model.h"

namespace {

gx::Settings settingsOf(int width, int height, const char* imagePath = "") {
    gx::Settings s{};
    std::strncpy(s.ImagePath, imagePath, sizeof s.ImagePath - 1);
    s.ScreenWidth = width;
    s.ScreenHeight = height;
    std::strcpy(s.ResourcePath, "Default");
    std::strcpy(s.LanguageFile, "English.txt");
    s.Duration = 130;
    s.GameSpeed = 10;
    return s;
}

const std::string kPictures = "/home/someone/Pictures";

TEST(ConfigDialogModel, OpensAtThePresetThatHoldsTheSize) {
    struct Case {
        int width, height, initial, slider;
    } cases[] = {
        {1280, 1024, 4, 4}, {1000, 700, 3, 3}, {640, 480, 1, 1},   {641, 480, 2, 2},
        {1600, 1200, 5, 5}, {1601, 1200, 6, 5}, {3000, 2000, 6, 5}, {0, 0, 1, 1},
        // Each preset width is compared with both sides of the configured size.
        {600, 1000, 3, 3}, {1280, 1100, 4, 4}, {100, 1700, 6, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        gx::ConfigDialogModel model;
        model.chosenPosition = 3;  // stale state must not survive opening
        gx::openConfigDialog(model, settingsOf(c.width, c.height), kPictures);
        EXPECT_EQ(model.initialPosition, c.initial);
        EXPECT_EQ(model.sliderPosition, c.slider);
        EXPECT_EQ(model.chosenPosition, -1);
        EXPECT_EQ(model.resolutionLabel, std::to_string(c.width) + "x" + std::to_string(c.height));
    }
}

TEST(ConfigDialogModel, LabelFollowsTheSliderOnceItMoves) {
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, settingsOf(1000, 700), kPictures);
    EXPECT_EQ(model.resolutionLabel, "1000x700");

    const char* labels[] = {"640x480", "800x600", "1024x768", "1280x1024", "1600x1200"};
    for (int position = 1; position <= 5; ++position) {
        gx::moveResolutionSlider(model, position);
        EXPECT_EQ(model.chosenPosition, position);
        EXPECT_EQ(model.resolutionLabel, labels[position - 1]);
    }
    // A stray value from the widget is held to the slider's ends.
    gx::moveResolutionSlider(model, 9);
    EXPECT_EQ(model.chosenPosition, 5);
    EXPECT_EQ(model.resolutionLabel, "1600x1200");
    gx::moveResolutionSlider(model, 0);
    EXPECT_EQ(model.chosenPosition, 1);
    EXPECT_EQ(model.resolutionLabel, "640x480");
}

TEST(ConfigDialogModel, OkSavesTheMovedPresetOrKeepsTheSize) {
    int saves = 0;
    const auto save = [&] { ++saves; };

    // Untouched slider: the size stays, even one that is no preset, but a picked path
    // is saved with it.
    gx::Settings untouched = settingsOf(3000, 2000, "/old");
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, untouched, kPictures);
    gx::pickImageFolder(model, untouched, "/new/pictures");
    gx::closeConfigDialog(model, gx::DialogButton::ok, untouched, save);
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(untouched.ScreenWidth, 3000);
    EXPECT_EQ(untouched.ScreenHeight, 2000);
    EXPECT_STREQ(untouched.ImagePath, "/new/pictures");

    // Moved slider, even back to where it opened: the preset's size.
    gx::Settings moved = settingsOf(1000, 700);
    gx::openConfigDialog(model, moved, kPictures);
    gx::moveResolutionSlider(model, 3);
    gx::closeConfigDialog(model, gx::DialogButton::ok, moved, save);
    EXPECT_EQ(saves, 2);
    EXPECT_EQ(moved.ScreenWidth, 1024);
    EXPECT_EQ(moved.ScreenHeight, 768);

    gx::openConfigDialog(model, moved, kPictures);
    gx::moveResolutionSlider(model, 4);
    gx::moveResolutionSlider(model, 1);
    gx::closeConfigDialog(model, gx::DialogButton::ok, moved, save);
    EXPECT_EQ(moved.ScreenWidth, 640);
    EXPECT_EQ(moved.ScreenHeight, 480);
}

TEST(ConfigDialogModel, CancelWritesNothing) {
    int saves = 0;
    gx::Settings s = settingsOf(1280, 1024, "/kept");
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, s, kPictures);
    gx::moveResolutionSlider(model, 1);
    gx::closeConfigDialog(model, gx::DialogButton::cancel, s, [&] { ++saves; });
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(s.ScreenWidth, 1280);
    EXPECT_EQ(s.ScreenHeight, 1024);
    EXPECT_STREQ(s.ImagePath, "/kept");
}

TEST(ConfigDialogModel, EmptyImagePathShowsPicturesFolderWithoutStoringIt) {
    gx::Settings s = settingsOf(1600, 1200);
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, s, kPictures);
    EXPECT_EQ(model.path, kPictures);
    gx::closeConfigDialog(model, gx::DialogButton::ok, s, [] {});
    EXPECT_STREQ(s.ImagePath, "");

    gx::Settings set = settingsOf(1600, 1200, "/srv/photos");
    gx::openConfigDialog(model, set, kPictures);
    EXPECT_EQ(model.path, "/srv/photos");
}

TEST(ConfigDialogModel, PickedFolderIsStoredAndCut) {
    gx::Settings s = settingsOf(1600, 1200, "/before");
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, s, kPictures);

    // A cancelled browser changes nothing.
    gx::pickImageFolder(model, s, "");
    EXPECT_STREQ(s.ImagePath, "/before");
    EXPECT_EQ(model.path, "/before");

    const std::string fits = "/" + std::string(258, 'a');
    gx::pickImageFolder(model, s, fits);
    EXPECT_EQ(std::string(s.ImagePath), fits);

    const std::string longPath = "/" + std::string(300, 'b');
    gx::pickImageFolder(model, s, longPath);
    EXPECT_EQ(std::strlen(s.ImagePath), 259u);
    EXPECT_EQ(std::string(s.ImagePath), longPath.substr(0, 259));
    EXPECT_EQ(model.path, longPath.substr(0, 259));  // the field shows what is saved

    // A shorter pick after a long one leaves no tail of the old text.
    gx::pickImageFolder(model, s, "/short");
    EXPECT_STREQ(s.ImagePath, "/short");
}

TEST(ConfigDialogModel, CutNeverSplitsACharacter) {
    // "é" is two bytes; placed so that the limit falls between them.
    const std::string accented = "/" + std::string(257, 'c') + "\xC3\xA9" + "/more";
    gx::Settings s = settingsOf(1600, 1200);
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, s, kPictures);
    gx::pickImageFolder(model, s, accented);
    EXPECT_EQ(std::string(s.ImagePath), accented.substr(0, 258));

    // A four-byte character across the limit goes whole.
    const std::string emoji = std::string(257, 'd') + "\xF0\x9F\x93\xB7";
    EXPECT_EQ(gx::cutAtCharacter(emoji, 259), emoji.substr(0, 257));
    // Bytes that are not UTF-8 are cut where the limit falls.
    const std::string raw(300, '\x80');
    EXPECT_EQ(gx::cutAtCharacter(raw, 259).size(), 259u);
}

TEST(ConfigDialogWithoutDisplay, PrintsSettingsAndWhereTheyLive) {
    const gx::Settings s = settingsOf(1024, 768, "/srv/photos");
    const std::string text = gx::describeSettingsWithoutDisplay(s, "/home/x/Glimmerax.ini");
    EXPECT_NE(text.find("/home/x/Glimmerax.ini"), std::string::npos);
    EXPECT_NE(text.find("/srv/photos"), std::string::npos);
    EXPECT_NE(text.find("ScreenWidth  = 1024"), std::string::npos);
    EXPECT_NE(text.find("ScreenHeight = 768"), std::string::npos);
    EXPECT_NE(text.find("needs a display"), std::string::npos);

    // The real entry point takes that path when no display is named.
    std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    std::string wayland = std::getenv("WAYLAND_DISPLAY") ? std::getenv("WAYLAND_DISPLAY") : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    const gx::Settings saved = gx::settings;
    gx::settings = s;
    testing::internal::CaptureStdout();
    gx::showConfigDialog();
    const std::string printed = testing::internal::GetCapturedStdout();
    gx::settings = saved;
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    if (!wayland.empty()) setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
    EXPECT_NE(printed.find("/srv/photos"), std::string::npos);
    EXPECT_NE(printed.find("needs a display"), std::string::npos);
}

}  // namespace
