// The installed program: its files land where a user expects and it finds its samples.
#include <gtest/gtest.h>

#include <stb_image.h>

#include "support/run.h"
#include "support/xvfb.h"

namespace {

using namespace gxtest;

TEST(Install, InstalledProgramShowsTheBundledSamplesFromAnyFolder) {
    std::string prefix = makeTempDir("gxprefix");
    Result inst = run({"/usr/bin/cmake", "--install", GLIMMERAX_BUILD_DIR, "--prefix", prefix}, {}, prefix, 120);
    ASSERT_EQ(inst.code, 0) << inst.err;
    for (const char* f : {"/bin/glimmerax", "/share/man/man1/glimmerax.1", "/share/applications/glimmerax.desktop",
                          "/share/glimmerax/samples/sunset.png", "/share/xscreensaver/config/glimmerax.xml"})
        EXPECT_TRUE(fileExists(prefix + f)) << f;

    std::string home = newHome();
    std::string out = home + "/frames";
    mkdir(out.c_str(), 0755);
    std::string elsewhere = makeTempDir("gxcwd");
    Result r = run({prefix + "/bin/glimmerax", "--headless", "--size", "320x240", "--seconds", "10", "--every", "60",
                    "--frames-out", out},
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
    Result f = run({prefix + "/bin/glimmerax", "/s", "--headless", "--size", "320x240", "--seconds", "5"},
                   {"GLIMMERAX_HOME=" + home, "DISPLAY=", "GLIMMERAX_FAULTS=lock:vertexbuffer:5"}, elsewhere, 120);
    EXPECT_EQ(f.code, 1);
    EXPECT_NE(readFile(home + "/error.log").find("\n" + prefix + "/share/glimmerax/samples/"), std::string::npos)
        << readFile(home + "/error.log");
    removeTree(home);
    removeTree(elsewhere);
    removeTree(prefix);
}

TEST(Install, ManPageRenders) {
    if (!haveProgram("man")) GTEST_SKIP() << "man is not installed";
    Result r = run({"/bin/sh", "-c", "man -l '" + sourceDir() + "/data/man/glimmerax.1' | cat"}, {"MANPAGER=cat"},
                   "/tmp", 30);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("-window-id"), std::string::npos);
    EXPECT_NE(r.out.find("GLIMMERAX_HOME"), std::string::npos);
}

}  // namespace
