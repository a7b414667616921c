// The report written when the device or a drawing step fails: "error.log" in the home
// folder with the message, the picture, the phase state and the device's record, then
// a message box naming that file, then shutdown.
#pragma once

#include <functional>
#include <string>

#include "platform/gfx/gfx.h"

namespace gx {

// What the current phase state shows in the report; filled by the phase states.
struct PhaseStateReport {
    enum class Kind { None, Simulation, WindUp, WindDown };
    Kind kind = Kind::None;
    float elapsedTime = 0;
    int frameCounter = 0;  // simulation; the report prints frameCounter + 1
    float startX1 = 0, startY1 = 0, startX2 = 0, startY2 = 0;  // wind-up
    float endX1 = 0, endY1 = 0, endX2 = 0, endY2 = 0;
    int creationWidth = 0, creationHeight = 0;
};

// Where the report reads the state it cannot know itself. Unset: no state, no picture.
struct ErrorReportSources {
    std::function<PhaseStateReport()> phaseState;
    std::function<std::string()> picturePath;  // empty: no picture or no path
};
ErrorReportSources& errorReportSources();

extern const char* const kReportContact;

// The state block as the report prints it ("\nno state", "\nSTATE1..." ...).
std::string formatStateBlock(const PhaseStateReport& state);
// Full path of the report file.
std::string errorReportPath();
// Writes the report; silent on failure, false when the file could not be written.
bool writeErrorReport(const char* message);
// The message box's text: the report's full path when it was written, else that it
// could not be written, where, and why (`error`, an errno value). Cut to 511 bytes.
std::string errorReportBoxText(bool reportWritten, int error, const std::string& picturePath);
// Report, box, shutdown(1). Only the first call of a run does anything.
gfx::Result reportInternalError(const char* message);
// Makes this report the one internalError (framework/failures.h) writes.
void connectErrorReport();
// Tests: forget that a report was made in this run.
void resetErrorReport();

}  // namespace gx
