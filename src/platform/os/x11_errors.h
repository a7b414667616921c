// Xlib's error handling, made fit for a screensaver: no raw Xlib text ever reaches
// the user, and a display that goes away ends the process at once instead of leaving
// it to wait on a dead connection.
#pragma once

#include <string>

namespace gx {

// Installs the process-wide handlers (again after a toolkit replaced them): protocol
// errors are recorded, a lost connection prints one line and exits with code 1
// without running any destructor or touching any file.
void installX11Handlers();

// The protocol errors recorded since the last call.
struct X11Errors {
    int count = 0;
    int lastCode = 0;
    unsigned long lastResource = 0;
};
X11Errors takeX11Errors();

// Why the saver cannot be shown on a display, as one line for the user ("" when it
// can): DISPLAY names a server that cannot be opened, or no display is set at all.
std::string displayProblem();

}  // namespace gx
