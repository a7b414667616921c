#include "app/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/callbacks.h"
#include "app/phases.h"
#include "app/picture_source.h"
#include "app/run_observers.h"
#include "bodies/bodies.h"
#include "bodies/ring_tables.h"
#include "bodies/sprites.h"
#include "config/settings.h"
#include "framework/framework.h"
#include "framework/headless_script.h"
#include "framework/run_options.h"
#include "platform/os/desktop_capture.h"
#include "platform/os/paths.h"
#include "platform/os/x11_errors.h"
#include "render/collision_surfaces.h"
#include "render/resources.h"
#include "ui/config_dialog.h"
#include "ui/config_dialog_model.h"
#include "ui/error_report.h"
#include "ui/progress_window.h"
#include "ui/ring_generator.h"
#include "universe/motion.h"
#include "universe/picture_to_particles.h"
#include "universe/world.h"

#ifndef GLIMMERAX_VERSION
#define GLIMMERAX_VERSION "0.0.0"
#endif

namespace gx {

int32_t RunMode = 0;
int32_t ShowCommand = 1;
bool CreatingDevice = false;

namespace {

bool letterMatches(const std::string& text, char letter) {
    if (text.empty() || std::tolower(static_cast<unsigned char>(text[0])) != letter) return false;
    return text.size() == 1 || text[1] == ':';
}

bool parseSize(const std::string& s, uint32_t* w, uint32_t* h) {
    unsigned a = 0, b = 0;
    char x = 0, extra = 0;
    if (std::sscanf(s.c_str(), "%u%c%u%c", &a, &x, &b, &extra) != 3 || (x != 'x' && x != 'X'))
        return false;
    if (a < 16 || b < 16 || a > 16384 || b > 16384) return false;
    *w = a;
    *h = b;
    return true;
}

bool parseNumber(const std::string& s, double* out) {
    char* end = nullptr;
    *out = std::strtod(s.c_str(), &end);
    return !s.empty() && end && *end == 0;
}

bool parseWindowId(const std::string& s, unsigned long* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(s.c_str(), &end, 0);  // 0x... or decimal
    if (!end || *end != 0 || v == 0) return false;
    *out = v;
    return true;
}

// The preview's frames take standard output for themselves: anything else printed
// there goes to standard error, where the dialog reads it as text. No window or box
// of ours may appear, progress included, and a closed pipe ends the run quietly.
bool startPreviewOutput() {
    if (runOptions().previewPath.size() >= sizeof settings.ImagePath) {
        std::fprintf(stderr, "glimmerax: --preview takes a path of at most %zu bytes\n",
                     sizeof settings.ImagePath - 1);
        return false;
    }
    if (isatty(STDOUT_FILENO)) {
        std::fputs(
            "glimmerax: --preview writes frames to standard output; run it with the output "
            "going to a pipe or a file\n",
            stderr);
        return false;
    }
    std::fflush(stdout);
    const int frames = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (frames < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::perror("glimmerax: --preview");
        return false;
    }
    runOptions().previewOutput = frames;
    std::signal(SIGPIPE, SIG_IGN);
    setenv("GLIMMERAX_NO_DIALOGS", "1", 1);
    setProgressDisplay(ProgressDisplay::Text);
    return true;
}

}  // namespace

int32_t parseCommandLine(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a.empty() || (a[0] != '/' && a[0] != '-')) continue;
        std::string text = a.substr(1);
        static const char order[] = {'c', 't', 'p', 'a'};
        static const int32_t result[] = {0, 3, 1, 4};
        for (int i = 0; i < 4; ++i)
            if (letterMatches(text, order[i])) return result[i];
        return 2;
    }
    return 0;
}

std::string usageText() {
    return "Usage: glimmerax [/s | /c | /p | /t | /a] [options]\n"
           "  /s, /t, /a          run the screensaver\n"
           "  /c                  show the settings dialog (also with no switch)\n"
           "  /p                  preview: exit at once\n"
           "Options:\n"
           "  --windowed          run in a resizable window instead of full screen\n"
           "  --headless          run without a display (offscreen, virtual clock)\n"
           "  --size WxH          the headless display's size (default 1600x1200)\n"
           "  --seconds S         headless: stop after S seconds of virtual time\n"
           "  --frames-out DIR    headless: write presented frames as PNG and DIR/frames.csv\n"
           "  --every N           with --frames-out: write every Nth frame\n"
           "  --script EVENTS      headless: scripted input, e.g. 3:key:32,5:click,9:move:10:20\n"
           "  --trace FILE        write a hash of the particle states per simulation frame\n"
           "  --dump-state N FILE write the population after simulation frame N as JSON lines\n"
           "  -window-id ID       draw into a screensaver host's window (hex 0x... or decimal)\n"
           "  -root               draw into the root window\n"
           "  --preview PATH      the settings dialog's preview: run headless at --size in real\n"
           "                      time on the pictures of PATH, frames to standard output\n"
           "  --help, --version   print this text or the version and exit\n"
           "Environment: GLIMMERAX_HOME (settings folder), XSCREENSAVER_WINDOW (host window),\n"
           "  GLIMMERAX_FAULTS (fault injection for testing).\n";
}

ParsedArgs parseArguments(const std::vector<std::string>& args) {
    ParsedArgs out;
    RunOptions& o = runOptions();
    std::vector<std::string> rest;
    bool runOption = false;
    auto fail = [&](const std::string& why) {
        out.exitNow = true;
        out.exitCode = 2;
        out.message = "glimmerax: " + why + "\n" + usageText();
        return out;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= args.size()) return false;
            *v = args[++i];
            return true;
        };
        std::string v, v2;
        if (a == "--help" || a == "-h") {
            out.exitNow = true;
            out.message = usageText();
            return out;
        } else if (a == "--version") {
            out.exitNow = true;
            out.message = std::string("glimmerax ") + GLIMMERAX_VERSION + "\n";
            return out;
        } else if (a == "--windowed") {
            o.windowed = true;
            runOption = true;
        } else if (a == "--headless") {
            o.headless = true;
            runOption = true;
        } else if (a == "--size") {
            if (!value(&v) || !parseSize(v, &o.headlessWidth, &o.headlessHeight))
                return fail("--size takes WxH, e.g. 1920x1080");
        } else if (a == "--seconds") {
            double s = 0;
            if (!value(&v) || !parseNumber(v, &s) || s <= 0)
                return fail("--seconds takes a positive number");
            o.seconds = s;
        } else if (a == "--frames-out") {
            if (!value(&v) || v.empty()) return fail("--frames-out takes a folder");
            o.framesOut = v;
        } else if (a == "--every") {
            double n = 0;
            if (!value(&v) || !parseNumber(v, &n) || n < 1)
                return fail("--every takes a whole number of at least 1");
            o.every = int(n);
        } else if (a == "--script") {
            std::vector<ScriptEvent> events;
            std::string error;
            if (!value(&v) || !parseScript(v, &events, &error)) return fail("--script: " + error);
            o.script = v;
        } else if (a == "--trace") {
            if (!value(&v) || v.empty()) return fail("--trace takes a file");
            o.tracePath = v;
        } else if (a == "--dump-state") {
            double n = 0;
            if (!value(&v) || !parseNumber(v, &n) || n < 0 || !value(&v2) || v2.empty())
                return fail("--dump-state takes a frame number and a file");
            o.dumpStateFrame = long(n);
            o.dumpStatePath = v2;
        } else if (a == "-window-id" || a == "--window-id") {
            unsigned long id = 0;
            if (!value(&v) || !parseWindowId(v, &id)) return fail("-window-id takes a window id");
            o.hostWindow = id;
            runOption = true;
        } else if (a == "-root" || a == "--root") {
            o.root = true;
            runOption = true;
        } else if (a == "--preview") {
            // An empty PATH previews what an empty ImagePath shows.
            if (!value(&v)) return fail("--preview takes a picture file or folder");
            o.preview = true;
            o.previewPath = v;
            o.headless = true;
            runOption = true;
        } else if (a.size() > 2 && a[0] == '-' && a[1] == '-') {
            return fail("unknown option " + a);
        } else {
            rest.push_back(a);
        }
    }
    if (!o.hostWindow) {
        if (const char* env = std::getenv("XSCREENSAVER_WINDOW"); env && *env) {
            unsigned long id = 0;
            if (parseWindowId(env, &id)) {
                o.hostWindow = id;
                runOption = true;
            }
        }
    }
    if (o.hostWindow) o.root = false;  // the window id wins
    bool hasSwitch = false;
    for (const std::string& a : rest)
        if (!a.empty() && (a[0] == '/' || a[0] == '-')) hasSwitch = true;
    out.mode = hasSwitch || !runOption ? parseCommandLine(rest) : 2;
    return out;
}

bool startRun() {
    if (RenderSuppressed) return false;
    // Out of memory while loading stops here, as every other stop does.
    if (!loadRingTables() && (RenderSuppressed || !generateRingTables())) return false;
    if (RenderSuppressed) return false;

    connectErrorReport();
    registerCallbacks();
    connectPhases();
    connectPictureSource();
    setPhaseNameProvider([]() -> const char* { return currentState ? currentState->name() : ""; });
    // The desktop must be photographed before our own window covers it.
    setSnapshotHostWindow(runOptions().hostWindow);
    takeDesktopSnapshot();
    setCursorSettings(false, true);
    init(false, false, nullptr, false);
    createWindow("Glimmerax");

    DeviceSettings request;
    request.behaviorFlags = kCreateScreensaver;
    // The reset stores the back buffer's size plus 2; asking for the stored size minus 2
    // keeps the user's choice from drifting run after run.
    request.pp.backBufferWidth = settings.ScreenWidth > 2 ? uint32_t(settings.ScreenWidth - 2) : 0;
    request.pp.backBufferHeight =
        settings.ScreenHeight > 2 ? uint32_t(settings.ScreenHeight - 2) : 0;
    request.pp.windowed = false;
    // The preview shows the saver at the pane's size, whatever the settings ask for.
    if (runOptions().preview) request.pp.backBufferWidth = request.pp.backBufferHeight = 0;
    CreatingDevice = true;
    createDeviceFromSettings(request, false, true);
    CreatingDevice = false;
    if (RenderSuppressed) return false;

    if (!checkDeviceCaps()) {
        shutdown(1);
        return false;
    }
    buildPictureList();
    if (!loadCurrentPicture()) {
        shutdown(1);
        return false;
    }
    openRunObservers();
    switchState(&windUpState);
    return !RenderSuppressed;
}

void releaseRun() {
    // A fixed order: the universe, the tables, the renderer's pools, the pictures, the
    // settings, and last the device and the window.
    switchState(nullptr);
    releaseBodies();
    freeRingTables();
    releaseParticlesAtExit();
    freeSprites();
    releasePictures();
    releaseSettings();
    releasePhases();
    closeRunObservers();
    frameworkCleanup();
}

void resetAllModulesForTests() {
    frameworkResetForTests();
    resetPhasesForTests();
    resetCallbacksForTests();
    resetSimulation();
    resetCollisionSurfaces();
    resetRenderResources();
    resetErrorReport();
    resetPictureSource();
    resetSettings();
    RunMode = 0;
    CreatingDevice = false;
}

int runEntry(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    ParsedArgs parsed = parseArguments(args);
    if (parsed.exitNow) {
        std::fputs(parsed.message.c_str(), parsed.exitCode ? stderr : stdout);
        return parsed.exitCode;
    }
    RunMode = parsed.mode;
    ShowCommand = 1;

    // Paths the user gave are taken from the folder we were started in, once, before
    // the home folder becomes current.
    rememberStartingFolder();
    resolveRunOptionPaths(runOptions());
    if (RunMode >= 2 && !runOptions().framesOut.empty()) {
        std::string why;
        if (!prepareFramesFolder(runOptions().framesOut, &why)) {
            std::fprintf(stderr, "glimmerax: cannot write frames to %s: %s\n",
                         runOptions().framesOut.c_str(), why.c_str());
            return 2;
        }
    }

    if (RunMode >= 2 && runOptions().preview && !startPreviewOutput()) return 2;

    // Without a display the saver would run unseen and take the offscreen size for the
    // user's: refuse before anything is read or written.
    std::string noDisplay;
    if (RunMode == 0 || (RunMode >= 2 && !runOptions().headless)) noDisplay = displayProblem();
    if (!noDisplay.empty() && RunMode >= 2) {
        std::fprintf(stderr, "Glimmerax: %s\n", noDisplay.c_str());
        return 1;
    }

    // Settings, language file and error.log live in the home folder.
    if (chdir(homeFolder().c_str()) != 0) std::perror("glimmerax: home folder");

    std::srand(unsigned(std::time(nullptr)));
    (void)std::rand();

    if (RunMode == 1) return getExitCode();

    if (RunMode >= 2 && runOptions().preview) keepSettingsInMemory();
    loadSettings();
    if (RunMode >= 2 && runOptions().preview) {
        const std::string& path = runOptions().previewPath;
        std::memset(settings.ImagePath, 0, sizeof settings.ImagePath);
        std::memcpy(settings.ImagePath, path.data(), path.size());
    }
    if (!RenderSuppressed) loadLabels();
    setSpeed(float(settings.GameSpeed) / 10.0f);

    if (RunMode == 0) {
        if (!noDisplay.empty()) {
            const std::string text = describeSettingsWithoutDisplay(settings, settingsFilePath());
            std::fputs(text.c_str(), stdout);
            std::fprintf(stderr, "Glimmerax: %s\n", noDisplay.c_str());
            releaseSettings();
            return 1;
        }
        showConfigDialog();
        releaseSettings();
        return getExitCode();
    }

    if (startRun()) mainLoop();
    releaseRun();
    return getExitCode();
}

}  // namespace gx
