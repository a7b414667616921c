// The settings dialog's rules: where the slider opens, what its label says, what OK
// and Cancel do to the settings, and how a picked folder is stored.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "support/temp_folder.h"
#include "ui/config_dialog.h"
#include "ui/config_dialog_model.h"
#include "ui/contact.h"
#include "ui/preview_stream.h"

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

const std::string kPicturesFolder = "/home/someone/Pictures";
const gx::DefaultPictures kPictures{kPicturesFolder, true, "/usr/share/glimmerax/samples"};

// What a save reports: saved, or not with a reason.
gx::SettingsSaveResult savedOk() { return {}; }

TEST(ConfigDialogModel, OpensAtThePresetThatHoldsTheSize) {
    struct Case {
        int width, height, initial, slider;
    } cases[] = {
        {1280, 1024, 4, 4},
        {1000, 700, 3, 3},
        {640, 480, 1, 1},
        {641, 480, 2, 2},
        {1600, 1200, 5, 5},
        {1601, 1200, 6, 5},
        {3000, 2000, 6, 5},
        {0, 0, 1, 1},
        // Each preset width is compared with both sides of the configured size.
        {600, 1000, 3, 3},
        {1280, 1100, 4, 4},
        {100, 1700, 6, 5},
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
    const auto save = [&] {
        ++saves;
        return savedOk();
    };

    // Untouched slider: the size stays, even one that is no preset, but a picked path
    // is saved with it.
    gx::Settings untouched = settingsOf(3000, 2000, "/old");
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, untouched, kPictures);
    gx::pickImageFolder(model, untouched, "/new/pictures");
    EXPECT_TRUE(gx::closeConfigDialog(model, gx::DialogButton::ok, untouched, save));
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(model.message, "");
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
    EXPECT_TRUE(gx::closeConfigDialog(model, gx::DialogButton::cancel, s, [&] {
        ++saves;
        return savedOk();
    }));
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(s.ScreenWidth, 1280);
    EXPECT_EQ(s.ScreenHeight, 1024);
    EXPECT_STREQ(s.ImagePath, "/kept");
}

TEST(ConfigDialogModel, EmptyImagePathShowsPicturesFolderWithoutStoringIt) {
    gx::Settings s = settingsOf(1600, 1200);
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, s, kPictures);
    EXPECT_EQ(model.path, kPicturesFolder);
    EXPECT_EQ(model.note, "");
    // The preview reads an empty ImagePath as the saver does: the pictures folder and
    // then the samples, not the shown folder alone.
    EXPECT_EQ(model.previewPath, "");
    gx::closeConfigDialog(model, gx::DialogButton::ok, s, savedOk);
    EXPECT_STREQ(s.ImagePath, "");

    gx::Settings set = settingsOf(1600, 1200, "/srv/photos");
    gx::openConfigDialog(model, set, kPictures);
    EXPECT_EQ(model.path, "/srv/photos");
    EXPECT_EQ(model.previewPath, "/srv/photos");
}

TEST(ConfigDialogModel, MissingPicturesFolderSaysTheSamplesAreShown) {
    gx::Settings s = settingsOf(1600, 1200);
    gx::ConfigDialogModel model;
    const gx::DefaultPictures missing{kPicturesFolder, false, "/opt/glimmerax/samples"};
    gx::openConfigDialog(model, s, missing);
    EXPECT_EQ(model.path, "/opt/glimmerax/samples");
    EXPECT_EQ(model.note,
              "/home/someone/Pictures does not exist: the bundled sample pictures are shown.");
    gx::closeConfigDialog(model, gx::DialogButton::ok, s, savedOk);
    EXPECT_STREQ(s.ImagePath, "");  // still the defaults, not the samples' path

    // Neither folder: the desktop snapshot stands in, and the note says so.
    gx::openConfigDialog(model, s, gx::DefaultPictures{kPicturesFolder, false, ""});
    EXPECT_EQ(model.path, "");
    EXPECT_EQ(model.note,
              "/home/someone/Pictures does not exist and no sample pictures were found: "
              "a snapshot of the desktop is shown.");

    // A picked folder replaces the note.
    gx::openConfigDialog(model, s, missing);
    EXPECT_TRUE(gx::pickImageFolder(model, s, "/srv/photos"));
    EXPECT_EQ(model.path, "/srv/photos");
    EXPECT_EQ(model.note, "");
}

// A folder tree of its own for the chooser's starting folder.
class ChooserFolders : public ::testing::Test {
protected:
    void SetUp() override {
        root = gxtest::makeTempDir("gx_chooser");
        ASSERT_FALSE(root.empty());
        std::filesystem::create_directories(root + "/photos/2024");
        std::filesystem::create_directories(root + "/samples");
        std::ofstream(root + "/photos/one.png") << "x";
    }
    void TearDown() override { gxtest::removeTree(root); }
    std::string root;
};

TEST_F(ChooserFolders, OpensAtTheCurrentImagePath) {
    const gx::DefaultPictures defaults{root + "/Pictures", false, root + "/samples"};
    // A folder: that folder; a picture file: its folder; a path that went away: the
    // nearest folder above it.
    EXPECT_EQ(gx::chooserStartFolder(root + "/photos/2024", defaults), root + "/photos/2024");
    EXPECT_EQ(gx::chooserStartFolder(root + "/photos/2024/", defaults), root + "/photos/2024");
    EXPECT_EQ(gx::chooserStartFolder(root + "/photos/one.png", defaults), root + "/photos");
    EXPECT_EQ(gx::chooserStartFolder(root + "/photos/gone/deeper", defaults), root + "/photos");
    // Relative to the current folder (the home folder while the dialog runs).
    char* here = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(root.c_str()), 0);
    EXPECT_EQ(gx::chooserStartFolder("photos/2024", defaults), root + "/photos/2024");
    ASSERT_EQ(chdir(here), 0);
    std::free(here);
    // Empty: the pictures folder when it exists, else the samples that are shown.
    EXPECT_EQ(gx::chooserStartFolder("", defaults), root + "/samples");
    EXPECT_EQ(
        gx::chooserStartFolder("", gx::DefaultPictures{root + "/photos", true, root + "/samples"}),
        root + "/photos");

    // The model carries it, and a picked folder becomes the next start.
    gx::Settings s = settingsOf(1600, 1200, (root + "/photos/one.png").c_str());
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, s, defaults);
    EXPECT_EQ(model.chooserFolder, root + "/photos");
    ASSERT_TRUE(gx::pickImageFolder(model, s, root + "/photos/2024"));
    EXPECT_EQ(model.chooserFolder, root + "/photos/2024");
}

TEST(ConfigDialogModel, PickedFolderIsStoredWhole) {
    gx::Settings s = settingsOf(1600, 1200, "/before");
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, s, kPictures);

    // A cancelled browser changes nothing.
    EXPECT_TRUE(gx::pickImageFolder(model, s, ""));
    EXPECT_STREQ(s.ImagePath, "/before");
    EXPECT_EQ(model.path, "/before");

    // Paths up to Linux's 4095 bytes are stored as they are.
    const std::string longest = "/" + std::string(4094, 'a');
    EXPECT_TRUE(gx::pickImageFolder(model, s, longest));
    EXPECT_EQ(std::string(s.ImagePath), longest);
    EXPECT_EQ(model.path, longest);
    EXPECT_EQ(model.previewPath, longest);
    EXPECT_EQ(model.message, "");

    // One byte more cannot be stored: nothing changes and the dialog says why.
    const std::string tooLong = "/" + std::string(4095, 'b');
    EXPECT_FALSE(gx::pickImageFolder(model, s, tooLong));
    EXPECT_EQ(std::string(s.ImagePath), longest);
    EXPECT_EQ(model.path, longest);
    EXPECT_EQ(model.previewPath, longest);
    EXPECT_EQ(model.message,
              "This folder cannot be stored in the settings: its path is 4096 bytes long, more "
              "than the 4095 a path may have. Image Path is unchanged.");

    // A shorter pick after a long one leaves no tail of the old text.
    EXPECT_TRUE(gx::pickImageFolder(model, s, "/short"));
    EXPECT_STREQ(s.ImagePath, "/short");
    EXPECT_EQ(model.message, "");
}

TEST(ConfigDialogModel, OkThatCannotSaveKeepsTheDialogOpenAndSaysWhy) {
    gx::Settings s = settingsOf(1600, 1200, "/before");
    gx::ConfigDialogModel model;
    gx::openConfigDialog(model, s, kPictures);
    gx::pickImageFolder(model, s, "/srv/new");
    gx::SettingsSaveResult failed;
    failed.saved = false;
    failed.problem = "the file is read-only";
    int saves = 0;
    auto failing = [&] {
        ++saves;
        return failed;
    };
    EXPECT_FALSE(gx::closeConfigDialog(model, gx::DialogButton::ok, s, failing));
    EXPECT_EQ(saves, 1);
    // The sentence names the file the settings live in and the reason.
    EXPECT_EQ(model.message.rfind("The settings could not be saved to ", 0), 0u) << model.message;
    EXPECT_NE(model.message.find(": the file is read-only. The file was left as it was."),
              std::string::npos)
        << model.message;

    // A value the file cannot hold where it stands is named.
    gx::SettingsSaveResult partly;
    partly.notStored = "ImagePath";
    partly.problem = "the file cannot hold the new value of ImagePath where it stands";
    EXPECT_FALSE(gx::closeConfigDialog(model, gx::DialogButton::ok, s, [&] { return partly; }));
    EXPECT_NE(model.message.find("ImagePath kept its old value in the file."), std::string::npos)
        << model.message;

    // Trying again once it can be saved closes it; Cancel always closes.
    EXPECT_TRUE(gx::closeConfigDialog(model, gx::DialogButton::ok, s, savedOk));
    EXPECT_EQ(model.message, "");
    EXPECT_TRUE(gx::closeConfigDialog(model, gx::DialogButton::cancel, s, failing));
    EXPECT_EQ(saves, 1);
}

TEST(ConfigDialogModel, CutNeverSplitsACharacter) {
    // "é" is two bytes; placed so that the limit falls between them.
    const std::string accented = "/" + std::string(257, 'c') + "\xC3\xA9" + "/more";
    EXPECT_EQ(gx::cutAtCharacter(accented, 259), accented.substr(0, 258));

    // A four-byte character across the limit goes whole.
    const std::string emoji = std::string(257, 'd') + "\xF0\x9F\x93\xB7";
    EXPECT_EQ(gx::cutAtCharacter(emoji, 259), emoji.substr(0, 257));
    // Bytes that are not UTF-8 are cut where the limit falls.
    const std::string raw(300, '\x80');
    EXPECT_EQ(gx::cutAtCharacter(raw, 259).size(), 259u);
}

TEST(ConfigDialogModel, ContactLineNamesTheIssueTracker) {
    EXPECT_STREQ(gx::kConfigDialogContact,
                 "Send reports to\nhttps://github.com/glimmerax/glimmerax/issues");
    EXPECT_EQ(std::string(gx::kConfigDialogContact).find(gx::kIssueTracker), 16u);
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

// The preview's frames go through a pipe whole, however the pipe splits them, and
// the reader puts them together from pieces of any size.
TEST(PreviewStream, FramesArriveWholeFromPiecesOfAnySize) {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // Larger than the pipe holds: the writer is left with part of a frame to write.
    const uint32_t w = 300, h = 200;
    std::vector<uint32_t> first(size_t(w) * h), second(size_t(w) * h);
    for (size_t i = 0; i < first.size(); ++i) {
        first[i] = uint32_t(i * 2654435761u) | 0xFF000000u;
        second[i] = ~first[i];
    }
    bool written = false;
    std::thread writer([&] {
        written = gx::writePreviewFrame(fds[1], first.data(), w, h) &&
                  gx::writePreviewFrame(fds[1], second.data(), w, h) &&
                  gx::writePreviewFrame(fds[1], first.data(), 2, 1);
        close(fds[1]);
    });
    std::vector<uint8_t> stream;
    uint8_t buffer[7000];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        stream.insert(stream.end(), buffer, buffer + n);
    writer.join();
    close(fds[0]);
    ASSERT_TRUE(written);
    ASSERT_EQ(stream.size(), 3 * 12 + (first.size() * 2 + 2) * 4);

    gx::PreviewFrameReader reader;
    size_t at = 0;
    for (size_t piece = 1; at < stream.size(); piece = piece * 3 % 9973 + 1) {
        const size_t n = std::min(piece, stream.size() - at);
        ASSERT_TRUE(reader.take(stream.data() + at, n));
        at += n;
        if (reader.frames() == 1) {
            ASSERT_EQ(reader.width(), w);
            ASSERT_EQ(reader.height(), h);
            ASSERT_EQ(reader.frame(), first);
        }
        if (reader.frames() == 2) {
            ASSERT_EQ(reader.frame(), second);
        }
    }
    EXPECT_EQ(reader.frames(), 3u);
    EXPECT_EQ(reader.width(), 2u);
    EXPECT_EQ(reader.height(), 1u);
    EXPECT_EQ(reader.frame(), std::vector<uint32_t>(first.begin(), first.begin() + 2));

    // A reader gone: the writer says so instead of blocking or dying of SIGPIPE.
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    EXPECT_FALSE(gx::writePreviewFrame(fds[1], first.data(), 2, 1));
    close(fds[1]);
}

TEST(PreviewStream, AnythingButFramesStopsTheReader) {
    const auto header = [](const char* magic, uint32_t w, uint32_t h) {
        std::vector<uint8_t> bytes(12);
        std::memcpy(bytes.data(), magic, 4);
        std::memcpy(bytes.data() + 4, &w, 4);
        std::memcpy(bytes.data() + 8, &h, 4);
        return bytes;
    };
    for (const auto& bad : {header("GXPX", 4, 4), header("GXPF", 0, 4), header("GXPF", 4, 16385)}) {
        gx::PreviewFrameReader reader;
        EXPECT_FALSE(reader.take(bad.data(), bad.size()));
        EXPECT_TRUE(reader.broken());
        const std::vector<uint8_t> good = header("GXPF", 1, 1);
        EXPECT_FALSE(reader.take(good.data(), good.size())) << "nothing is taken once broken";
        EXPECT_EQ(reader.frames(), 0u);
    }
}

TEST(PreviewStream, TheLastLineOfTextIsWhatThePaneShows) {
    gx::PreviewTextLine text;
    const std::string out =
        "Glimmerax: Please wait - This will only happen first time.\nGenerating data file: 0%\n"
        "Generating data file: 10%\n\n";
    for (char c : out) text.take(&c, 1);
    EXPECT_EQ(text.line(), "Generating data file: 10%");
    EXPECT_EQ(text.lines(), 3u);
    // A line is shown only once it is whole, or once the output has ended.
    text.take("Glimmerax: Could not load /srv/ph", 33);
    EXPECT_EQ(text.line(), "Generating data file: 10%");
    text.take("otos  ", 6);
    text.finish();
    EXPECT_EQ(text.line(), "Could not load /srv/photos");
    // A line with no end does not grow without bound.
    const std::string endless(100000, 'x');
    text.take(endless.data(), endless.size());
    text.finish();
    EXPECT_EQ(text.line(), endless.substr(0, 1024));
}

}  // namespace
