// The program's entry: the screensaver switch, the Linux options, the start-up
// sequence and the fixed release order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gx {

extern int32_t RunMode;
extern int32_t ShowCommand;
extern bool CreatingDevice;

// The screensaver switch: 0 configure, 1 preview, 2/3/4 run. args excludes the program.
int32_t parseCommandLine(const std::vector<std::string>& args);

struct ParsedArgs {
    int32_t mode = 0;
    bool exitNow = false;  // --help, --version, or a usage error
    int exitCode = 0;
    std::string message;  // printed before exiting
};
// Takes the Linux options (with their values) out first, then the switch decides;
// run options without a switch mean run mode.
ParsedArgs parseArguments(const std::vector<std::string>& args);

std::string usageText();

// Run mode after the settings are read: tables, window, device, pictures, the first
// phase. True when the main loop should run.
bool startRun();
// Releases everything start-up made, in a fixed order.
void releaseRun();

// Returns every module to its state before the first run, so a test can run the saver
// twice in one process.
void resetAllModulesForTests();

// The whole program; returns the process exit code.
int runEntry(int argc, char** argv);

}  // namespace gx
