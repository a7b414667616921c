#include "framework/failures.h"

#include "framework/framework.h"
#include "platform/os/message_box.h"

namespace gx {

namespace {
InternalErrorReporter reporter = nullptr;
}  // namespace

void reportOutOfMemory() {
    showMessageBox("ERROR: Out of memory.", "Glimmerax");
    shutdown(1);
}

void setInternalErrorReporter(InternalErrorReporter r) { reporter = r; }

gfx::Result internalError(const char* message) {
    if (reporter != nullptr) return reporter(message);
    showMessageBox(message, "Glimmerax");
    return shutdown(1);
}

}  // namespace gx
