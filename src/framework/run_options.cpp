#include "framework/run_options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/os/paths.h"

namespace gx {
namespace {
PhaseNameFn phaseName = nullptr;
}

RunOptions& runOptions() {
    static RunOptions options;
    return options;
}

void setPhaseNameProvider(PhaseNameFn fn) { phaseName = fn; }

const char* currentPhaseName() {
    const char* n = phaseName ? phaseName() : nullptr;
    return n ? n : "";
}

void resolveRunOptionPaths(RunOptions& o) {
    o.framesOut = fromStartingFolder(o.framesOut);
    o.tracePath = fromStartingFolder(o.tracePath);
    o.dumpStatePath = fromStartingFolder(o.dumpStatePath);
    o.previewPath = fromStartingFolder(o.previewPath);
}

bool prepareFramesFolder(const std::string& folder, std::string* error) {
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        return fail("it exists and is not a folder");
    if (!makeFolders(folder)) {
        const int err = errno;
        return fail(std::string("the folder cannot be made: ") +
                    std::strerror(err ? err : ENOTDIR));
    }
    // One byte written and taken back: a read-only or full disk says so now, not
    // frame by frame once the run is under way.
    std::string probe = folder + (folder.back() == '/' ? "" : "/") + ".glimmerax-probe-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        const int err = errno;
        return fail(std::string("no file can be written in it: ") + std::strerror(err));
    }
    int err = 0;
    if (::write(fd, "x", 1) != 1) err = errno ? errno : EIO;
    if (::close(fd) != 0 && err == 0) err = errno;
    ::unlink(probe.c_str());
    if (err != 0) return fail(std::string("no file can be written in it: ") + std::strerror(err));
    return true;
}

}  // namespace gx
