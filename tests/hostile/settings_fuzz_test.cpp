// Mutated settings files through the whole settings round: load (which may put the
// template in place of an incomplete file), change two settings, save, load again.
// Nothing of the user's is lost: the file is either left as it was or kept beside the
// template, a second load writes nothing, and every setting reads back as it was
// saved (a value the reader would not read back the same is left untouched).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "config/key_value_file.h"
#include "config/settings.h"
#include "support/mutation.h"
#include "support/run.h"

namespace {

using namespace gx;
using gxtest::readFile;

std::vector<std::string> seedFiles() {
    std::string lf = settingsTemplate();
    for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.replace(at, 2, "\n");
    return {
        settingsTemplate(),
        lf,
        "ImagePath = \"/tmp/pictures\"\r\nScreenWidth = 322\r\nScreenHeight = 242\r\nResourcePath "
        "= "
        "\"Default\"\r\nLanguageFile = \"English.txt\"\r\nFullscreen = false\r\nDuration = "
        "1\r\nGameSpeed = 4\r\n",
        // Comments, duplicates, odd spacing and a path too long to be taken.
        "// mine\nGameSpeed=3 // slow\nGAMESPEED = 9\nImagePath=\"" + std::string(4096, 'p') +
            "\"\nScreenWidth =   -5\nScreenHeight= 99999999999\nResourcePath = "
            "Default\nLanguageFile=\"\"\n"
            "Fullscreen = TRUE\nDuration = 0x20\n",
    };
}

struct Snapshot {
    std::string imagePath, resourcePath, languageFile;
    int32_t width, height, duration, speed;
    bool fullscreen;
};

Snapshot snapshot() {
    auto text = [](const char(&s)[kPathValueCapacity]) {
        return std::string(s, strnlen(s, sizeof s));
    };
    return {text(settings.ImagePath), text(settings.ResourcePath), text(settings.LanguageFile),
            settings.ScreenWidth,     settings.ScreenHeight,       settings.Duration,
            settings.GameSpeed,       settings.Fullscreen};
}

TEST(SettingsFuzz, MutatedFilesKeepTheUsersSettings) {
    const std::string dir = gxtest::fuzzFolder("gxinifuzz");
    ASSERT_FALSE(dir.empty());
    const std::string ini = dir + "/Glimmerax.ini", bak = ini + ".bak";
    const std::vector<std::string> seeds = seedFiles();
    const uint32_t seed = gxtest::fuzzSeed(1357);
    gxtest::Mutator m(seed);
    const int n = gxtest::fuzzIterations(3000);
    int replaced = 0, speedsSaved = 0;
    for (int i = 0; i < n && !HasFailure(); ++i) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " iteration " + std::to_string(i));
        const std::string mine =
            i < int(seeds.size()) ? seeds[size_t(i)] : m.mutate(seeds[m.below(seeds.size())]);
        std::remove(bak.c_str());
        std::ofstream(ini, std::ios::binary | std::ios::trunc) << mine;

        resetSettings();
        loadSettingsFrom(dir);
        ASSERT_NE(settingsReader(), nullptr);
        const std::string afterLoad = readFile(ini);
        if (gxtest::fileExists(bak)) {
            ++replaced;
            ASSERT_EQ(readFile(bak), mine) << "the user's file was not kept whole";
            ASSERT_EQ(afterLoad, settingsTemplate());
        } else {
            ASSERT_EQ(afterLoad, mine) << "loading changed the file";
        }
        ASSERT_GE(settings.GameSpeed, 1);
        ASSERT_LE(settings.GameSpeed, 10);
        const Snapshot before = snapshot();

        settings.GameSpeed = before.speed % 10 + 1;
        settings.Duration = before.duration == 7 ? 8 : 7;
        if (i % 3 == 0) std::strcpy(settings.ImagePath, "/tmp/some pictures");
        saveSettings();
        const std::string afterSave = readFile(ini);
        const std::string bakAfterSave = readFile(bak);

        resetSettings();
        loadSettingsFrom(dir);
        ASSERT_EQ(readFile(ini), afterSave)
            << "a complete saved file was replaced on the next load";
        ASSERT_EQ(readFile(bak), bakAfterSave);
        const Snapshot after = snapshot();
        EXPECT_TRUE(after.speed == before.speed || after.speed == before.speed % 10 + 1)
            << after.speed;
        EXPECT_TRUE(after.duration == before.duration ||
                    after.duration == (before.duration == 7 ? 8 : 7));
        if (i % 3 == 0) {
            EXPECT_TRUE(after.imagePath == before.imagePath ||
                        after.imagePath == "/tmp/some pictures");
        } else {
            EXPECT_EQ(after.imagePath, before.imagePath);
        }
        EXPECT_EQ(after.resourcePath, before.resourcePath);
        EXPECT_EQ(after.languageFile, before.languageFile);
        EXPECT_EQ(after.width, before.width);
        EXPECT_EQ(after.height, before.height);
        EXPECT_EQ(after.fullscreen, before.fullscreen);
        if (after.speed != before.speed) ++speedsSaved;
    }
    std::printf("%d files, %d replaced by the template (kept as .bak), %d saved a new speed\n", n,
                replaced, speedsSaved);
    // The template and the plain seeds take every change, so most rounds save.
    EXPECT_GT(speedsSaved, n / 4);
    resetSettings();
    gxtest::removeFuzzFolder(dir);
}

}  // namespace
