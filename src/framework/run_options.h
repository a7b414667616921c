// Options of a run that the command line sets and the framework's back ends read.
#pragma once

#include <cstdint>
#include <string>

namespace gx {

struct RunOptions {
    bool headless = false;
    bool windowed = false;
    uint32_t headlessWidth = 1600;
    uint32_t headlessHeight = 1200;
    double seconds = 0;  // headless: stop after this much virtual time (0: never)
    std::string framesOut;
    int every = 1;
    std::string script;  // headless: scripted input, see parseScript
    std::string tracePath;
    long dumpStateFrame = -1;
    std::string dumpStatePath;
    unsigned long hostWindow = 0;  // a screensaver host's window
    bool root = false;
    // The settings dialog's preview: headless on the real clock, every presented frame
    // written to previewOutput (see preview_frames.h), previewPath as ImagePath.
    bool preview = false;
    std::string previewPath;
    int previewOutput = -1;
    // Headless: keep each presented frame as the device's front buffer even when no
    // frame is written anywhere (tests that look at what was shown).
    bool keepFrames = false;
};

RunOptions& runOptions();

// Makes --frames-out, --trace, --dump-state and --preview absolute, taken from the
// folder the program was started from (start-up calls it before the home folder
// becomes current).
void resolveRunOptionPaths(RunOptions& options);
// Makes the --frames-out folder with its parents and checks that a file can be
// written in it; false with the reason in *error when it cannot.
bool prepareFramesFolder(const std::string& folder, std::string* error);

// Names the phase for frames.csv; set by the phases.
using PhaseNameFn = const char* (*)();
void setPhaseNameProvider(PhaseNameFn fn);
const char* currentPhaseName();

}  // namespace gx
