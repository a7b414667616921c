// Message boxes. A real box when a display is there, standard error otherwise; tests
// replace the sink to capture what the user would see.
#pragma once

#include <functional>
#include <string>

namespace gx {

using MessageBoxSink = std::function<void(const std::string& text, const std::string& caption)>;

void showMessageBox(const std::string& text, const std::string& caption);
// Replaces where boxes go; an empty sink restores the default.
void setMessageBoxSink(MessageBoxSink sink);
// The window boxes are parented to and the hooks that release the cursor first; set by
// the framework while the saver's window exists.
void setMessageBoxParent(void* sdlWindow, std::function<void()> beforeShow);

}  // namespace gx
