// How a failure ends the run, for every part of the program below the user interface.
// Running out of memory shows the out-of-memory box and shuts down; a device or drawing
// step that failed goes to the internal-error reporter, which the error report installs
// at start-up (a box and a shutdown until then). Callers return at once after either.
#pragma once

#include "platform/gfx/gfx.h"

namespace gx {

// The out-of-memory convention: box, shutdown(1).
void reportOutOfMemory();

using InternalErrorReporter = gfx::Result (*)(const char* message);
// Null restores the box-and-shutdown fallback.
void setInternalErrorReporter(InternalErrorReporter reporter);
// Hands the message ("Internal error - ...") to the reporter.
gfx::Result internalError(const char* message);

}  // namespace gx
