// The installed program: its files land where a user expects and it finds its samples.
#include <gtest/gtest.h>

#include <stb_image.h>

#include "support/run.h"
#include "support/xvfb.h"
#include "ui/config_dialog_model.h"
#include "ui/contact.h"
#include "ui/error_report.h"

namespace {

using namespace gxtest;

TEST(Install, InstalledProgramShowsTheBundledSamplesFromAnyFolder) {
    std::string prefix = makeTempDir("gxprefix");
    Result inst = run({"/usr/bin/cmake", "--install", GLIMMERAX_BUILD_DIR, "--prefix", prefix}, {},
                      prefix, 120);
    ASSERT_EQ(inst.code, 0) << inst.err;
    for (const char* f :
         {"/bin/glimmerax", "/share/man/man1/glimmerax.1", "/share/applications/glimmerax.desktop",
          "/share/glimmerax/samples/sunset.png", "/share/xscreensaver/config/glimmerax.xml"})
        EXPECT_TRUE(fileExists(prefix + f)) << f;

    std::string home = newHome();
    std::string out = home + "/frames";
    mkdir(out.c_str(), 0755);
    std::string elsewhere = makeTempDir("gxcwd");
    Result r = run({prefix + "/bin/glimmerax", "--headless", "--size", "320x240", "--seconds", "10",
                    "--every", "60", "--frames-out", out},
                   {"GLIMMERAX_HOME=" + home, "DISPLAY="}, elsewhere, 120);
    EXPECT_EQ(r.code, 0) << r.err;
    // Frame 60 is two seconds into the wind-up: the first sample stands in the middle.
    int w = 0, h = 0, n = 0;
    unsigned char* px = stbi_load((out + "/frame-000060.png").c_str(), &w, &h, &n, 3);
    ASSERT_NE(px, nullptr);
    size_t lit = 0;
    for (int i = 0; i < w * h; ++i) lit += px[i * 3] + px[i * 3 + 1] + px[i * 3 + 2] > 90;
    stbi_image_free(px);
    EXPECT_GT(lit, 5000u);

    // The picture it showed came from the installed samples, not the source tree.
    Result f =
        run({prefix + "/bin/glimmerax", "/s", "--headless", "--size", "320x240", "--seconds", "5"},
            {"GLIMMERAX_HOME=" + home, "DISPLAY=", "GLIMMERAX_FAULTS=lock:vertexbuffer:5"},
            elsewhere, 120);
    EXPECT_EQ(f.code, 1);
    EXPECT_NE(readFile(home + "/error.log").find("\n" + prefix + "/share/glimmerax/samples/"),
              std::string::npos)
        << readFile(home + "/error.log");
    removeTree(home);
    removeTree(elsewhere);
    removeTree(prefix);
}

TEST(Install, ManPageRenders) {
    if (!haveProgram("man")) GTEST_SKIP() << "man is not installed";
    Result r = run({"/bin/sh", "-c", "man -l '" + sourceDir() + "/data/man/glimmerax.1' | cat"},
                   {"MANPAGER=cat"}, "/tmp", 30);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("-window-id"), std::string::npos);
    EXPECT_NE(r.out.find("GLIMMERAX_HOME"), std::string::npos);
    // The switches keep their slashes.
    EXPECT_NE(r.out.find("decides the mode: /s, /t, /a"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/p exits at once"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("and /c (or no switch"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--help, --version"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("s , t"), std::string::npos) << r.out;
}

TEST(Install, OneIssueTrackerEverywhere) {
    const std::string address = gx::kIssueTracker;
    EXPECT_EQ(address, "https://github.com/glimmerax/glimmerax/issues");
    EXPECT_STREQ(gx::kReportContact, gx::kIssueTracker);
    EXPECT_NE(std::string(gx::kConfigDialogContact).find(address), std::string::npos);
    for (const char* file : {"/README.md", "/data/man/glimmerax.1"}) {
        const std::string text = readFile(sourceDir() + file);
        EXPECT_NE(text.find(address), std::string::npos) << file;
        // No other place to send reports to.
        EXPECT_EQ(text.find("glimmerax.example"), std::string::npos) << file;
        EXPECT_EQ(text.find("the Glimmerax issue tracker"), std::string::npos) << file;
    }
}

}  // namespace
