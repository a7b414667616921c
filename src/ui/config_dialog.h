// The settings dialog of configure mode (screen size and picture folder).
#pragma once

namespace gx {

// Shows the modal dialog over the in-memory settings and returns when it closes; OK
// saves the settings file, Cancel, Escape and the close box leave it alone. Without a
// display it prints the settings and where their file lives instead.
void showConfigDialog();

}  // namespace gx
