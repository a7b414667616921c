#include "app/run_observers.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "app/phases.h"
#include "bodies/bodies.h"
#include "framework/framework.h"
#include "framework/run_options.h"
#include "platform/image/image_write.h"
#include "render/resources.h"
#include "universe/world.h"

namespace gx {
namespace {

std::FILE* traceFile = nullptr;
bool dumped = false;
bool observerFailed = false;
int32_t populations = 0;

// A file the user asked for that cannot be written ends the run with exit code 1; the
// first failure is the one reported.
void observerCannotWrite(const char* what, const std::string& path, int error) {
    if (observerFailed) return;
    observerFailed = true;
    std::fprintf(stderr, "glimmerax: cannot write the %s %s: %s\n", what, path.c_str(),
                 std::strerror(error ? error : EIO));
    shutdown(1);
}

// Whether the file can be opened for writing, without changing it: a folder in its
// place, a missing folder or a read-only file says so before the run.
bool canWrite(const std::string& path, int* error) {
    bool existed = ::access(path.c_str(), F_OK) == 0;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    ::close(fd);
    if (!existed) ::unlink(path.c_str());
    return true;
}

void mix(uint64_t& h, const void* data, size_t n) {
    const auto* b = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) {
        h ^= b[i];
        h *= 1099511628211ull;
    }
}

bool writeCapturePng(const std::string& path) {
    if (!ScreenCaptureSurface) return false;
    gfx::SurfaceDesc d;
    ScreenCaptureSurface->getDesc(&d);
    gfx::LockedRect lr;
    if (gfx::failed(ScreenCaptureSurface->lockRect(&lr, nullptr, gfx::kLockReadOnly))) return false;
    const bool written = image::writeFramePng(path, static_cast<const uint32_t*>(lr.bits), d.width,
                                              d.height, size_t(lr.pitch) / 4);
    ScreenCaptureSurface->unlockRect();
    return written;
}

}  // namespace

uint64_t hashParticleStates() {
    uint64_t h = 1469598103934665603ull;
    for (uint32_t i = 0; sim.particles && i < sim.particleCount; ++i) {
        const Particle& p = sim.particles[i];
        float f[6] = {p.x, p.y, p.vx, p.vy, p.mass, p.polarRadius};
        int32_t n[4] = {p.cell, p.holdOff, int32_t(p.colour), p.body ? 1 : 0};
        mix(h, f, sizeof f);
        mix(h, n, sizeof n);
    }
    return h;
}

bool dumpState(int32_t frame, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    errno = 0;
    std::unordered_map<const Body*, int> index;
    int m = 0;
    for (BodyNode* node = bodyList(); node; node = node->next) index[node->body] = m++;
    const gfx::SurfaceDesc* bb = getD3D9BackBufferSurfaceDesc();
    std::fprintf(
        f,
        "{\"frame\":%d,\"worldWidth\":%d,\"backBuffer\":[%u,%u],\"picture\":[%.9g,%.9g,%.9g,%.9g],"
        "\"particles\":%u,\"bodies\":%d}\n",
        frame, sim.worldWidth, bb->width, bb->height, double(windUpState.StartX2),
        double(windUpState.StartY2), double(windUpState.EndX2), double(windUpState.EndY2),
        sim.particles ? sim.particleCount : 0u, m);
    for (uint32_t i = 0; sim.particles && i < sim.particleCount; ++i) {
        const Particle& p = sim.particles[i];
        auto it = p.body ? index.find(p.body) : index.end();
        std::fprintf(f,
                     "{\"p\":%u,\"x\":%.9g,\"y\":%.9g,\"colour\":%u,\"mass\":%.9g,\"vx\":%.9g,"
                     "\"vy\":%.9g,\"holdOff\":%d,\"body\":%d}\n",
                     i, double(p.x), double(p.y), p.colour, double(p.mass), double(p.vx),
                     double(p.vy), p.holdOff, it == index.end() ? -1 : it->second);
    }
    int j = 0;
    for (BodyNode* node = bodyList(); node; node = node->next, ++j) {
        const Body* b = node->body;
        std::fprintf(f,
                     "{\"b\":%d,\"centroid\":[%.9g,%.9g],\"velocity\":[%.9g,%.9g],\"mass\":%.9g,"
                     "\"spin\":%.9g,\"radius\":%.9g,\"memberCount\":%d,\"sprite\":%s}\n",
                     j, double(b->centroid.x), double(b->centroid.y), double(b->velocity.x),
                     double(b->velocity.y), double(b->mass), double(b->spin), double(b->radius),
                     b->memberCount, b->group ? "true" : "false");
    }
    bool ok = std::fflush(f) == 0 && std::ferror(f) == 0;
    const int error = errno;
    ok = std::fclose(f) == 0 && ok;
    // The first failure's reason, not that of the close after it.
    if (!ok && error != 0) errno = error;
    return ok;
}

void openRunObservers() {
    const RunOptions& o = runOptions();
    dumped = false;
    observerFailed = false;
    populations = 0;
    if (!o.tracePath.empty()) {
        traceFile = std::fopen(o.tracePath.c_str(), "w");
        if (!traceFile) observerCannotWrite("trace file", o.tracePath, errno);
    }
    int error = 0;
    if (!o.dumpStatePath.empty() && !canWrite(o.dumpStatePath, &error))
        observerCannotWrite("state file", o.dumpStatePath, error);
}

void closeRunObservers() {
    if (traceFile) {
        errno = 0;
        const bool written = std::ferror(traceFile) == 0;
        const bool closed = std::fclose(traceFile) == 0;
        if (!written || !closed) observerCannotWrite("trace file", runOptions().tracePath, errno);
    }
    traceFile = nullptr;
}

void onPopulationCreated() {
    ++populations;
    const RunOptions& o = runOptions();
    if (o.dumpStateFrame == 0 && !dumped && populations == 1 && !o.dumpStatePath.empty()) {
        dumped = true;
        if (!dumpState(0, o.dumpStatePath)) {
            observerCannotWrite("state file", o.dumpStatePath, errno);
        } else if (!writeCapturePng(o.dumpStatePath + ".png")) {
            observerCannotWrite("state picture", o.dumpStatePath + ".png", errno);
        }
    }
}

void onSimulationFrameDone(int32_t frame) {
    if (traceFile) {
        errno = 0;
        // Line by line, so a full disk or /dev/full ends the run at the frame it fails.
        if (std::fprintf(traceFile, "%d %d %016llx\n", populations, frame,
                         (unsigned long long)hashParticleStates()) < 0 ||
            std::fflush(traceFile) != 0) {
            observerCannotWrite("trace file", runOptions().tracePath, errno);
            std::fclose(traceFile);
            traceFile = nullptr;
        }
    }
    const RunOptions& o = runOptions();
    if (o.dumpStateFrame > 0 && !dumped && populations == 1 && frame + 1 == o.dumpStateFrame &&
        !o.dumpStatePath.empty()) {
        dumped = true;
        if (!dumpState(frame + 1, o.dumpStatePath))
            observerCannotWrite("state file", o.dumpStatePath, errno);
    }
}

}  // namespace gx
