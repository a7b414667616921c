// The ring tables the body sprites walk: every offset of a 1600 x 1600 square in order
// of growing distance from its centre, where each distance ring starts, a few grey
// levels, and a map of one-pixel outward steps. Loaded from "Glimmerax.dat" in the cache
// folder, or generated on the first run (ui/ring_generator.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gx {

constexpr int kRingSide = 1600;
constexpr int kRingCount = 1600;
constexpr int kRingPointCount = kRingSide * kRingSide;
constexpr int kRingShadeCount = 50;
constexpr int kRingCentre = 800;
constexpr int32_t kRingStampSide = 1600;
constexpr int32_t kRingStampSecond = 1200;

// File layout: two stamps, the centre, ringStart, ringShades, ringPoints, directionCodes.
constexpr size_t kRingFileHeaderBytes = 16;
constexpr size_t kRingStartBytes = sizeof(int32_t) * kRingCount;
constexpr size_t kRingShadesBytes = sizeof(int32_t) * kRingShadeCount;
constexpr size_t kRingPointsBytes = sizeof(int32_t) * 2 * size_t(kRingPointCount);
constexpr size_t kDirectionCodesBytes = size_t(kRingPointCount);
constexpr size_t kRingFileSize = kRingFileHeaderBytes + kRingStartBytes + kRingShadesBytes +
                                 kRingPointsBytes + kDirectionCodesBytes;
static_assert(kRingFileSize == 23046616);

constexpr const char* kRingFileName = "Glimmerax.dat";

struct RingPoint {
    int32_t x;
    int32_t y;
};
static_assert(sizeof(RingPoint) == 8);

struct RingTables {
    int32_t ringCentreX = 0;
    int32_t ringCentreY = 0;
    int32_t* ringStart = nullptr;  // kRingCount entries
    int32_t ringShades[kRingShadeCount] = {};
    RingPoint* ringPoints = nullptr;    // kRingPointCount entries
    uint8_t* directionCodes = nullptr;  // kRingSide rows of kRingSide, index y * 1600 + x
};

// The process-wide tables; filled by loadRingTables or generateRingTables, read-only
// afterwards, released by freeRingTables.
extern RingTables ringTables;

// Entry k is the step a direction code k stands for; k - 1 and k + 1 are its two
// neighbouring compass steps (hence (1, 1) and (0, 1) at both ends).
extern const int8_t ringCompassSteps[11][2];

// The code of a one-pixel step (dx, dy), each -1, 0 or +1 (0 for anything else).
// Inline: the generator asks for it once per table point.
inline int ringStepCode(int dx, int dy) {
    // Rows dx = -1, 0, +1; columns dy = -1, 0, +1.
    constexpr uint8_t codes[3][3] = {{5, 4, 3}, {6, 0, 2}, {7, 8, 9}};
    if (dx < -1 || dx > 1 || dy < -1 || dy > 1) return 0;
    return codes[dx + 1][dy + 1];
}

// Full path of the data file in the cache folder.
std::string ringTablesPath();

// Loads the tables from the data file; false (tables left empty) when the file is
// missing, short, foreign or damaged. First removes the half-written files that killed
// runs left beside it (removeStaleDataFileParts).
bool loadRingTables();
bool loadRingTablesFrom(const std::string& path);

// Releases the tables and clears the centre and shades; safe when nothing is loaded.
void freeRingTables();

// True when the tables hold what the generator could have produced: centre, ring
// starts in order and in range, points inside the square, only codes 0 and 2..9.
bool ringTablesValid(const RingTables& tables);

// A hash of the geometry the sprites walk (ring starts, points, direction codes). The
// generator's tables are the same on every machine (it uses our own angle functions),
// and the loader takes only a file that holds exactly them: a file made by an earlier
// version (with the C library's sin and cos) or by anything else is made again.
uint64_t ringTablesHash(const RingTables& tables);
constexpr uint64_t kRingTablesHash = 0xE24C3B9F3886922Bull;

// Writes the tables in file order through a temporary file "<path>.part.<pid>" renamed
// into place, so a half-written file never carries the final name. False when nothing
// was written, with the reason (an errno value) in *error.
bool writeRingTables(const RingTables& tables, const std::string& path, int* error = nullptr);

// Removes the "<path>.part.<pid>" files of processes that no longer run (a run killed
// while writing the data file leaves its 23 MB behind); returns how many went.
int removeStaleDataFileParts(const std::string& path);

// Tests: every allocation of a load fails, as when memory runs out.
void setRingTablesAllocationFailsForTesting(bool fail);

}  // namespace gx
