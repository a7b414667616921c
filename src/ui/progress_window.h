// The first-run progress display: a small GTK window when a display is there, a text
// bar on standard error otherwise (Ctrl-C then acts as QUIT). It runs on a worker
// thread of its own; the generating thread talks to it only through a ProgressLink.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace gx {

// Shared between the generating thread and the display's thread. Each flag has one
// writer: the display writes `shown` and `quit`, the generator `percent` and `ended`.
struct ProgressLink {
    std::atomic<bool> shown{false};  // the display is up; progress counts from now on
    std::atomic<bool> quit{false};   // the user pressed QUIT (or Ctrl-C)
    std::atomic<bool> ended{false};  // the generator is done with the display
    std::atomic<int> percent{-1};    // the latest percentage handed over
    bool placeAtCursor = true;       // read by the display when it comes up
    std::mutex mutex;
    std::condition_variable wake;
};

enum class ProgressDisplay {
    Automatic,  // the window when a display can be opened, else text
    Window,     // the window, or nothing when no display can be opened
    Text,
    None,  // no display at all: progress updates are never shown
};

// Which display the next run of the progress display uses (tests choose; the program
// leaves it at Automatic).
void setProgressDisplay(ProgressDisplay display);
ProgressDisplay progressDisplay();

// Shows the display on the calling thread until the user quits or `ended` is set;
// returns 0 when the display is gone.
int runProgressDisplay(ProgressLink& link);

// The percentage the last display put on the screen (painted in the window, drawn in
// the text bar) before it closed; -1 when it showed none.
int lastPercentDisplayed();

// Called by the generator after changing `percent` or setting `ended`.
void wakeProgressDisplay(ProgressLink& link);

// The texts the display shows.
inline constexpr const char* kProgressCaption = "Glimmerax";
inline constexpr const char* kProgressPleaseWait =
    "Please wait - This will only happen first time.";
inline constexpr const char* kProgressGenerating = "Generating data file: ";
inline constexpr const char* kProgressQuit = "QUIT";

}  // namespace gx
