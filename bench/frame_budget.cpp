// The whole-frame budget: the saver run headless on named scenes (each sample picture on
// a 1080p and a 4K screen), timed stage by stage at chosen simulation frames and during
// the wind-down, with the population counts and the peak memory of each scene; also the
// start-up time and the CPU share of a 60-second virtual run. Prints a table and, given
// a committed results file, the change against it.
//
//   bench_frame_budget [--all] [--scene NAME]... [--runs N] [--write FILE] [--compare FILE]
//                      [--no-whole-run] [--image-inline]
//
// --image-inline fills the particle image on the rendering thread instead of beside the
// sprite layer, to compare the two.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bodies/bodies.h"
#include "bodies/sprites.h"
#include "core/stage_marks.h"
#include "framework/frame_timer.h"
#include "platform/image/image.h"
#include "render/frame.h"
#include "support/scenes.h"
#include "support/whole_run.h"

namespace {

using Clock = std::chrono::steady_clock;

// Simulation frames whose cost is measured; each point takes this frame and the next
// kWindow - 1, so a point is the median of kWindow frames times the number of runs.
const int kPoints[] = {1, 50, 200, 1000};
constexpr int kWindow = 5;
constexpr int kWindDownFrame = 10;  // frames after the wind-down began
constexpr int kDuration = 68;       // game seconds: the wind-down starts after frame ~1020

// Stage columns, in frame order. "move" is the frame-move work outside the simulation
// (the wind-down's own update); "present" is the device's present and the back end.
const char* const kStages[] = {
    "move",           "sim.lock",       "sim.attract", "sim.clump",    "sim.contacts",
    "sim.recentre",   "sim.particles",  "sim.unlock",  "sim.pull",     "sim.advance",
    "sim.refill",     "sprites",        "observers",   "render.clear", "render.particles",
    "render.sprites", "render.compose", "present"};
constexpr int kStageCount = int(sizeof kStages / sizeof kStages[0]);

int stageIndex(const char* name) {
    for (int i = 0; i < kStageCount; ++i)
        if (std::strcmp(kStages[i], name) == 0) return i;
    return 0;
}

// ---- the listener that splits a frame into stages ----

struct FrameClock {
    double ms[kStageCount] = {};
    int current = 0;
    Clock::time_point last;
    void begin() {
        std::fill(std::begin(ms), std::end(ms), 0.0);
        current = 0;
        last = Clock::now();
    }
    void mark(int next) {
        const auto now = Clock::now();
        ms[current] += std::chrono::duration<double, std::milli>(now - last).count();
        current = next;
        last = now;
    }
};
FrameClock frameClock;

void onStage(const char* stage) { frameClock.mark(stageIndex(stage)); }

void timedRender(gx::gfx::Device* device, double time, float elapsed, void* ctx) {
    gx::renderFrame(device, time, elapsed, ctx);
    frameClock.mark(stageIndex("present"));
}

double sum(const double* ms, const char* prefix) {
    double t = 0;
    for (int i = 0; i < kStageCount; ++i)
        if (std::strncmp(kStages[i], prefix, std::strlen(prefix)) == 0) t += ms[i];
    return t;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

double peakMegabytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// ---- one scene, run in a child process so its peak memory is its own ----

struct Sample {
    std::string point;
    double ms[kStageCount];
    double particles, bodies, sprites;
};

int countBodies() {
    int n = 0;
    for (gx::BodyNode* b = gx::bodyList(); b; b = b->next) ++n;
    return n;
}

int countSprites() {
    int n = 0;
    for (gx::BodySprite* s = gx::firstAttachedSprite(); s; s = gx::nextAttachedSprite(s)) ++n;
    return n;
}

// Lines "sample POINT ms... particles bodies sprites", "startup MS DECODE_MS", "peak MB".
void runScene(const gxtest::Scene& scene, const std::string& dataFile, std::FILE* out) {
    gx::image::Bitmap bitmap;
    const auto d0 = Clock::now();
    gx::image::decodeImageFile(scene.picture, &bitmap);
    const double decodeMs = std::chrono::duration<double, std::milli>(Clock::now() - d0).count();

    gxtest::SaverOptions o = gxtest::sceneOptions(scene);
    o.duration = kDuration;
    o.dataFile = dataFile;
    const auto t0 = Clock::now();
    gxtest::Saver saver(o);
    if (!saver.started) {
        std::fprintf(stderr, "%s: the saver did not start: %s\n", scene.name.c_str(),
                     saver.boxes.c_str());
        return;
    }
    saver.frame();
    const double startMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    std::fprintf(out, "startup %.3f %.3f\n", startMs, decodeMs);

    gx::stageListener = onStage;
    int windDownFrames = -1;
    for (int step = 0; step < 40000 && !gx::RenderSuppressed; ++step) {
        if (gx::getCallbackFrameRender() == gx::renderFrame)
            gx::setCallbackFrameRender(timedRender);
        const bool inSimulation = gx::currentState == &gx::simulationState;
        const int simFrame = gx::simulationState.frames + 1;  // the frame this step runs
        if (gx::currentState == &gx::windDownState) ++windDownFrames;
        std::string point;
        if (inSimulation)
            for (int p : kPoints)
                if (simFrame >= p && simFrame < p + kWindow) point = "frame" + std::to_string(p);
        if (windDownFrames >= kWindDownFrame && windDownFrames < kWindDownFrame + kWindow)
            point = "winddown";
        frameClock.begin();
        saver.frame();
        frameClock.mark(0);
        if (!point.empty()) {
            std::fprintf(out, "sample %s", point.c_str());
            for (double ms : frameClock.ms) std::fprintf(out, " %.4f", ms);
            std::fprintf(out, " %u %d %d\n", gx::sim.particleCount, countBodies(), countSprites());
        }
        if (windDownFrames >= kWindDownFrame + kWindow) break;
    }
    gx::stageListener = nullptr;
    std::fprintf(out, "peak %.1f\n", peakMegabytes());
}

// CPU seconds of a 60-second virtual run at 1080p, start-up included.
void runWhole(const gxtest::Scene& scene, const std::string& dataFile, std::FILE* out) {
    const double c0 = cpuSeconds();
    gxtest::SaverOptions o = gxtest::sceneOptions(scene);
    o.dataFile = dataFile;
    gxtest::Saver saver(o);
    if (!saver.started) return;
    while (gx::getGlobalTimer()->absoluteTime() < 60.0 && !gx::RenderSuppressed) saver.frame();
    std::fprintf(out, "whole %.3f %.3f\n", cpuSeconds() - c0, gx::getGlobalTimer()->absoluteTime());
}

template <typename Fn>
std::vector<std::string> inChild(Fn fn) {
    char path[] = "/tmp/gxbench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    close(fd);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        std::FILE* out = std::fopen(path, "w");
        if (out) {
            fn(out);
            std::fclose(out);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    unlink(path);
    return lines;
}

// ---- results ----

struct Row {
    std::string scene, point;
    double ms[kStageCount] = {};
    double particles = 0, bodies = 0, sprites = 0, peak = 0;
    double sim() const { return sum(ms, "sim."); }
    double render() const { return sum(ms, "render."); }
    double sprite() const { return ms[stageIndex("sprites")]; }
    double budget() const { return sim() + sprite() + render(); }
};

std::vector<Row> aggregate(const std::string& scene,
                           const std::vector<std::vector<std::string>>& runs, double* startup,
                           double* decode) {
    std::map<std::string, std::vector<Sample>> byPoint;
    std::vector<std::string> order;
    std::vector<double> starts, decodes;
    double peak = 0;
    for (const auto& lines : runs)
        for (const std::string& line : lines) {
            std::istringstream in(line);
            std::string kind;
            in >> kind;
            if (kind == "sample") {
                Sample s;
                in >> s.point;
                for (double& m : s.ms) in >> m;
                in >> s.particles >> s.bodies >> s.sprites;
                if (!byPoint.count(s.point)) order.push_back(s.point);
                byPoint[s.point].push_back(s);
            } else if (kind == "startup") {
                double a = 0, b = 0;
                in >> a >> b;
                starts.push_back(a);
                decodes.push_back(b);
            } else if (kind == "peak") {
                double p = 0;
                in >> p;
                peak = std::max(peak, p);
            }
        }
    *startup = median(starts);
    *decode = median(decodes);
    std::vector<Row> rows;
    for (const std::string& point : order) {
        const auto& samples = byPoint[point];
        Row r;
        r.scene = scene;
        r.point = point;
        r.peak = peak;
        for (int i = 0; i < kStageCount; ++i) {
            std::vector<double> v;
            for (const Sample& s : samples) v.push_back(s.ms[i]);
            r.ms[i] = median(v);
        }
        std::vector<double> p, b, s;
        for (const Sample& x : samples) {
            p.push_back(x.particles);
            b.push_back(x.bodies);
            s.push_back(x.sprites);
        }
        r.particles = median(p);
        r.bodies = median(b);
        r.sprites = median(s);
        rows.push_back(r);
    }
    return rows;
}

// The results file: one line per scene and point, "scene point budget sim sprites render
// present particles bodies sprites peak stages...", then "startup" and "whole" lines.
void writeRow(std::FILE* f, const Row& r) {
    std::fprintf(f, "%-20s %-9s %8.2f %8.2f %7.2f %7.2f %7.2f %8.0f %6.0f %6.0f %7.1f",
                 r.scene.c_str(), r.point.c_str(), r.budget(), r.sim(), r.sprite(), r.render(),
                 r.ms[stageIndex("present")], r.particles, r.bodies, r.sprites, r.peak);
    for (double m : r.ms) std::fprintf(f, " %.3f", m);
    std::fprintf(f, "\n");
}

void printHeader(std::FILE* f) {
    std::fprintf(f, "# %-18s %-9s %8s %8s %7s %7s %7s %8s %6s %6s %7s  stages(ms):", "scene",
                 "point", "budget", "sim", "sprites", "render", "present", "particle", "bodies",
                 "sprite", "peakMB");
    for (const char* s : kStages) std::fprintf(f, " %s", s);
    std::fprintf(f, "\n");
}

struct Committed {
    std::map<std::string, double> budget;  // "scene point" -> ms
    std::map<std::string, double> extra;   // "startup scene" / "whole" -> value
    // "scene point" -> "particles bodies sprites": any change means the results changed.
    std::map<std::string, std::string> population;
};

std::string populationOf(double particles, double bodies, double sprites) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f %.0f %.0f", particles, bodies, sprites);
    return text;
}

Committed readCommitted(const std::string& path) {
    Committed c;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        std::string a, b;
        double v = 0;
        s >> a >> b >> v;
        if (a == "startup" || a == "whole") {
            c.extra[a + " " + b] = v;
            continue;
        }
        c.budget[a + " " + b] = v;
        double sim = 0, sprites = 0, render = 0, present = 0, particles = 0, bodies = 0,
               spriteCount = 0;
        if (s >> sim >> sprites >> render >> present >> particles >> bodies >> spriteCount)
            c.population[a + " " + b] = populationOf(particles, bodies, spriteCount);
    }
    return c;
}

void compareLine(const std::string& what, double now, const Committed& c, const std::string& key,
                 const std::map<std::string, double>& table) {
    auto it = table.find(key);
    if (it == table.end()) {
        std::printf("  %-34s %9.2f   (not in the committed results)\n", what.c_str(), now);
        return;
    }
    (void)c;
    const double ratio = it->second > 0 ? now / it->second : 0;
    std::printf("  %-34s %9.2f   was %9.2f   x%.2f%s\n", what.c_str(), now, it->second, ratio,
                ratio > 1.10 ? "  SLOWER" : (ratio < 0.90 ? "  faster" : ""));
}

}  // namespace

int main(int argc, char** argv) {
    bool all = false, whole = true;
    int runs = 1;
    std::string writePath, comparePath;
    std::vector<std::string> chosen;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--all") all = true;
        else if (a == "--no-whole-run") whole = false;
        else if (a == "--image-inline") gx::particleImageFill = gx::ImageFill::Inline;
        else if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--scene" && i + 1 < argc) chosen.push_back(argv[++i]);
        else if (a == "--write" && i + 1 < argc) writePath = argv[++i];
        else if (a == "--compare" && i + 1 < argc) comparePath = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: %s [--all] [--scene NAME]... [--runs N] [--write FILE] "
                         "[--compare FILE] [--no-whole-run] [--image-inline]\n",
                         argv[0]);
            return 2;
        }
    }
    const auto scenes = gxtest::sampleScenes(GLIMMERAX_SOURCE_DIR);
    std::vector<gxtest::Scene> run;
    if (all) {
        run = scenes;
    } else if (!chosen.empty()) {
        for (const std::string& name : chosen) {
            const gxtest::Scene* s = gxtest::findScene(scenes, name);
            if (!s) {
                std::fprintf(stderr, "no scene %s; the scenes are:\n", name.c_str());
                for (const auto& x : scenes) std::fprintf(stderr, "  %s\n", x.name.c_str());
                return 2;
            }
            run.push_back(*s);
        }
    } else {
        // Quick default: one picture at both sizes.
        for (const char* name : {"sunset@1920x1080", "sunset@3840x2160"})
            if (const gxtest::Scene* s = gxtest::findScene(scenes, name)) run.push_back(*s);
    }

    // The data file is made once and copied into every scene's home.
    std::string dataDir = gxtest::makeTempDir("gxbench-data");
    std::string dataFile = dataDir + "/Glimmerax.dat";
    inChild([&](std::FILE*) {
        gxtest::SaverOptions o;
        o.width = 64;
        o.height = 48;
        gxtest::Saver saver(o);
        std::ifstream from(saver.home + "/Glimmerax.dat", std::ios::binary);
        std::ofstream to(dataFile, std::ios::binary);
        to << from.rdbuf();
    });

    std::vector<Row> rows;
    std::vector<std::pair<std::string, std::pair<double, double>>> startups;
    for (const gxtest::Scene& scene : run) {
        std::vector<std::vector<std::string>> results;
        for (int r = 0; r < runs; ++r)
            results.push_back(inChild([&](std::FILE* out) { runScene(scene, dataFile, out); }));
        double startup = 0, decode = 0;
        const auto sceneRows = aggregate(scene.name, results, &startup, &decode);
        startups.push_back({scene.name, {startup, decode}});
        for (const Row& r : sceneRows) {
            rows.push_back(r);
            std::fprintf(stderr, "%-20s %-9s %8.2f ms\n", r.scene.c_str(), r.point.c_str(),
                         r.budget());
        }
    }
    double wholeCpu = -1, wholeTime = 0;
    if (whole) {
        if (const gxtest::Scene* s = gxtest::findScene(scenes, "sunset@1920x1080")) {
            for (const std::string& line :
                 inChild([&](std::FILE* out) { runWhole(*s, dataFile, out); })) {
                std::istringstream in(line);
                std::string kind;
                in >> kind >> wholeCpu >> wholeTime;
            }
        }
    }
    gxtest::removeTree(dataDir);

    auto emit = [&](std::FILE* f) {
        std::fprintf(f, "# frame budget: median ms per frame (%d frames x %d runs per point)\n",
                     kWindow, runs);
        std::fprintf(
            f, "# budget = simulation + sprites + render; targets 8 ms at 1080p, 30 ms at 4K\n");
        printHeader(f);
        for (const Row& r : rows) writeRow(f, r);
        for (const auto& [name, v] : startups)
            std::fprintf(f, "startup %-20s %8.1f ms (decode %.1f ms; target %.1f ms)\n",
                         name.c_str(), v.first, v.second, 300.0 + v.second);
        if (wholeCpu >= 0)
            std::fprintf(
                f,
                "whole sunset@1920x1080 %.1f %% of a core (%.2f CPU s over %.0f s; target 20 %%)\n",
                100.0 * wholeCpu / wholeTime, wholeCpu, wholeTime);
    };
    emit(stdout);
    if (!writePath.empty()) {
        if (std::FILE* f = std::fopen(writePath.c_str(), "w")) {
            emit(f);
            std::fclose(f);
        }
    }
    if (!comparePath.empty()) {
        const Committed c = readCommitted(comparePath);
        std::printf("\nagainst %s (budget ms, start-up ms, whole-run %%):\n", comparePath.c_str());
        int changed = 0;
        for (const Row& r : rows) {
            const std::string key = r.scene + " " + r.point;
            compareLine(key, r.budget(), c, key, c.budget);
            auto it = c.population.find(key);
            const std::string now = populationOf(r.particles, r.bodies, r.sprites);
            if (it != c.population.end() && it->second != now) {
                std::printf("  %-34s particles/bodies/sprites %s, were %s: THE RESULTS CHANGED\n",
                            key.c_str(), now.c_str(), it->second.c_str());
                ++changed;
            }
        }
        for (const auto& [name, v] : startups)
            compareLine("startup " + name, v.first, c, "startup " + name, c.extra);
        if (wholeCpu >= 0)
            compareLine("whole sunset@1920x1080", 100.0 * wholeCpu / wholeTime, c,
                        "whole sunset@1920x1080", c.extra);
        if (changed > 0) return 1;
    }
    return 0;
}
