#include <gtest/gtest.h>

#include <set>

#include "universe/colour_matching.h"
#include "universe/world.h"

namespace gx {
namespace {

struct Colours {
    uint32_t picture, now;
};

class ColourMatching : public ::testing::Test {
protected:
    void TearDown() override {
        releaseParticlesAtExit();
        releaseColourBuckets();
    }
    void make(const std::vector<Colours>& pairs) {
        ASSERT_TRUE(allocateParticles(uint32_t(pairs.size())));
        sim.particleCount = uint32_t(pairs.size());
        ASSERT_TRUE(allocateMatchSlots());
        for (size_t i = 0; i < pairs.size(); ++i) {
            Particle& p = sim.particles[i];
            p.links().pictureColour = pairs[i].picture;
            p.colour = pairs[i].now;
            p.links().originX = p.links().homeX = int32_t(i) * 10;
            p.links().originY = p.links().homeY = int32_t(i) * 10 + 1;
        }
    }
};

TEST_F(ColourMatching, BucketSizes) {
    EXPECT_EQ(bucketSize(300), 2);
    EXPECT_EQ(bucketSize(254), 1);
    EXPECT_EQ(bucketSize(255), 2);
    EXPECT_EQ(bucketSize(1), 1);
    EXPECT_EQ(bucketSize(510), 3);
}

TEST_F(ColourMatching, UnchangedPopulationKeepsItsHomes) {
    make({{0xFFFF0000, 0xFFFF0000}, {0xFF00FF00, 0xFF00FF00}, {0xFF0000FF, 0xFF0000FF}});
    matchColours();
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sim.particles[i].links().homeX, int32_t(i) * 10);
        EXPECT_EQ(sim.particles[i].links().homeY, int32_t(i) * 10 + 1);
    }
}

TEST_F(ColourMatching, TakersGetHomesOfTheirColourInReverseOrder) {
    const uint32_t red = 0xFFFF0000, blue = 0xFF0000FF;
    // Three reds became blue and three blues became red.
    make({{red, blue}, {red, blue}, {red, blue}, {blue, red}, {blue, red}, {blue, red}});
    matchColours();
    // The first particle now red takes the home of the last red of the picture.
    EXPECT_EQ(sim.particles[3].links().homeX, 20);
    EXPECT_EQ(sim.particles[4].links().homeX, 10);
    EXPECT_EQ(sim.particles[5].links().homeX, 0);
    EXPECT_EQ(sim.particles[0].links().homeX, 50);
    EXPECT_EQ(sim.particles[1].links().homeX, 40);
    EXPECT_EQ(sim.particles[2].links().homeX, 30);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(sim.particles[i].colour, sim.particles[i].links().pictureColour);
        EXPECT_EQ(sim.particles[i].memberNext, nullptr);
    }
}

TEST_F(ColourMatching, LeftoversTakeHomesNobodyTookSoNoHomeIsShared) {
    const uint32_t red = 0xFFFF0000, blue = 0xFF0000FF, green = 0xFF00FF00;
    // Two reds turned green (no green in the picture), one blue turned red, and more
    // particles want red than the picture had.
    make({{red, green}, {red, green}, {blue, red}, {red, red}, {green, blue}, {blue, red}});
    matchColours();
    std::set<std::pair<int, int>> homes;
    for (uint32_t i = 0; i < 6; ++i)
        homes.insert({sim.particles[i].links().homeX, sim.particles[i].links().homeY});
    EXPECT_EQ(homes.size(), 6u) << "two particles share a home";
    EXPECT_EQ(sim.particles[3].links().homeX, 30) << "an unchanged particle keeps its home";
    for (uint32_t i = 0; i < 6; ++i)
        EXPECT_EQ(sim.particles[i].colour, sim.particles[i].links().pictureColour);
}

TEST_F(ColourMatching, ManyColoursAcrossBuckets) {
    // 600 particles: bucket size 3, many distinct colours, each colour swapped with the next.
    std::vector<Colours> pairs;
    for (uint32_t i = 0; i < 600; ++i) {
        uint32_t c = 0xFF000000u | (i / 2) * 977u;
        uint32_t next = 0xFF000000u | (((i / 2) + 1) % 300) * 977u;
        pairs.push_back({c, next});
    }
    make(pairs);
    matchColours();
    std::set<std::pair<int, int>> homes;
    for (uint32_t i = 0; i < 600; ++i) {
        homes.insert({sim.particles[i].links().homeX, sim.particles[i].links().homeY});
        // Its new home was the origin of a particle of its own colour.
        uint32_t origin = uint32_t(sim.particles[i].links().homeX / 10);
        EXPECT_EQ(pairs[origin].picture, pairs[i].now) << i;
    }
    EXPECT_EQ(homes.size(), 600u);
}

}  // namespace
}  // namespace gx
