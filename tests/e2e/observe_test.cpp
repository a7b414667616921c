// --dump-state and --trace: what a developer or user reads to inspect a run.
#include <gtest/gtest.h>

#include <stb_image.h>

#include <cmath>
#include <regex>
#include <sstream>

#include "support/run.h"

namespace {

using namespace gxtest;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) out.push_back(l);
    return out;
}

long field(const std::string& line, const std::string& name) {
    std::smatch m;
    std::regex re("\"" + name + "\":(-?[0-9]+)");
    return std::regex_search(line, m, re) ? std::stol(m[1]) : -999999;
}

TEST(Observe, DumpStateAtCaptureAndAfterAFrame) {
    for (int frame : {0, 20}) {
        std::string home = newHome();
        std::string file = home + "/state.jsonl";
        Result r = run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "9",
                        "--dump-state", std::to_string(frame), file},
                       {"GLIMMERAX_HOME=" + home, "DISPLAY="}, home);
        ASSERT_EQ(r.code, 0) << r.err;
        auto ls = lines(readFile(file));
        ASSERT_GT(ls.size(), 2u);
        const std::string& head = ls[0];
        EXPECT_EQ(field(head, "frame"), frame);
        EXPECT_EQ(field(head, "worldWidth"), 320);
        EXPECT_NE(head.find("\"backBuffer\":[320,240]"), std::string::npos) << head;
        EXPECT_NE(head.find("\"picture\":[136,96,184,144]"), std::string::npos) << head;
        long n = field(head, "particles"), m = field(head, "bodies");
        ASSERT_GT(n, 100);
        ASSERT_EQ(long(ls.size()), 1 + n + m);
        for (long i = 0; i < n; ++i) {
            const std::string& p = ls[size_t(1 + i)];
            ASSERT_EQ(field(p, "p"), i) << p;
            long b = field(p, "body");
            ASSERT_TRUE(b >= -1 && b < m) << p;
        }
        long members = 0;
        for (long j = 0; j < m; ++j) {
            const std::string& b = ls[size_t(1 + n + j)];
            ASSERT_EQ(field(b, "b"), j) << b;
            members += field(b, "memberCount");
            EXPECT_TRUE(b.find("\"sprite\":true") != std::string::npos ||
                        b.find("\"sprite\":false") != std::string::npos);
        }
        EXPECT_LE(members, n);
        if (frame == 0) {
            int w = 0, h = 0, c = 0;
            unsigned char* px = stbi_load((file + ".png").c_str(), &w, &h, &c, 3);
            ASSERT_NE(px, nullptr);
            EXPECT_EQ(w, 320);
            EXPECT_EQ(h, 240);
            // The pixel under the first particle has the particle's colour.
            long x = std::lround(std::stod(ls[1].substr(ls[1].find("\"x\":") + 4)));
            long y = std::lround(std::stod(ls[1].substr(ls[1].find("\"y\":") + 4)));
            unsigned long colour = std::stoul(ls[1].substr(ls[1].find("\"colour\":") + 9));
            const unsigned char* q = px + (y * w + x) * 3;
            EXPECT_EQ(colour & 0xFFFFFF, (unsigned long)((q[0] << 16) | (q[1] << 8) | q[2]));
            stbi_image_free(px);
        }
        removeTree(home);
    }
}

TEST(Observe, TwoRunsOfTheSameSessionTraceTheSame) {
    std::string traces[2];
    for (int i = 0; i < 2; ++i) {
        std::string home = newHome();
        Result r = run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "16",
                        "--script", "12:key:107", "--trace", home + "/trace.txt"},
                       {"GLIMMERAX_HOME=" + home, "DISPLAY="}, home);
        ASSERT_EQ(r.code, 0) << r.err;
        traces[i] = readFile(home + "/trace.txt");
        removeTree(home);
    }
    EXPECT_GT(lines(traces[0]).size(), 100u);
    EXPECT_EQ(traces[0], traces[1]);
}

}  // namespace

namespace {

// A fixed scene's state hash, pinned: every build type (the Release suite and the
// sanitizer suite both run this) and every optimisation must give the same numbers.
TEST(Observe, PinnedTraceOfTheFirstSample) {
    std::string home = gxtest::newHome();
    gxtest::Result r = gxtest::run({gxtest::binary(), "/s", "--headless", "--size", "320x240",
                                    "--seconds", "16", "--trace", home + "/trace.txt"},
                                   {"GLIMMERAX_HOME=" + home, "DISPLAY="}, home);
    ASSERT_EQ(r.code, 0) << r.err;
    auto ls = lines(gxtest::readFile(home + "/trace.txt"));
    ASSERT_FALSE(ls.empty());
    EXPECT_EQ(ls.back(), "1 141 e5f6a3d006790eee");
    gxtest::removeTree(home);
}

}  // namespace

namespace {

// A --trace or --dump-state file that cannot be written ends the run with exit code 1
// and says which file and why.
TEST(Observe, UnwritableTraceOrStateFileIsAnError) {
    std::string home = gxtest::newHome();
    struct Case {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"--trace", home},
         "glimmerax: cannot write the trace file " + home + ": Is a directory\n"},
        {{"--trace", "/dev/full"},
         "glimmerax: cannot write the trace file /dev/full: No space left on device\n"},
        {{"--dump-state", "0", home},
         "glimmerax: cannot write the state file " + home + ": Is a directory\n"},
        {{"--dump-state", "0", "/dev/full"},
         "glimmerax: cannot write the state file /dev/full: No space left on device\n"},
        {{"--dump-state", "5", "/dev/full"},
         "glimmerax: cannot write the state file /dev/full: No space left on device\n"},
        {{"--dump-state", "5", home + "/no/such/state.jsonl"},
         "glimmerax: cannot write the state file " + home +
             "/no/such/state.jsonl: No such file or directory\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {gxtest::binary(), "/s",        "--headless", "--size",
                                         "160x120",        "--seconds", "12"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        gxtest::Result r = gxtest::run(args, {"GLIMMERAX_HOME=" + home, "DISPLAY="}, home);
        EXPECT_EQ(r.code, 1) << c.line << r.err;
        EXPECT_EQ(r.err, c.line);
    }
    gxtest::removeTree(home);
}

}  // namespace
