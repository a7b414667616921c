// The one place reports and questions go: named by the error report, the settings
// dialog, the README and the man page.
#pragma once

#define GLIMMERAX_ISSUE_TRACKER "https://github.com/glimmerax/glimmerax/issues"

namespace gx {

inline constexpr const char kIssueTracker[] = GLIMMERAX_ISSUE_TRACKER;

}  // namespace gx
