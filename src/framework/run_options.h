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
};

RunOptions& runOptions();

// Names the phase for frames.csv; set by the phases.
using PhaseNameFn = const char* (*)();
void setPhaseNameProvider(PhaseNameFn fn);
const char* currentPhaseName();

}  // namespace gx
