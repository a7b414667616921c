// The real program's settings dialog on a private X server: it opens with its
// controls, keys drive it, OK writes the preset's size and Escape writes nothing; its
// preview pane runs the saver on the chosen folder and ends with it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/run.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool onPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && access((folder + "/" + tool).c_str(), X_OK) == 0) return true;
    return false;
}

using gxtest::readFile;
using gxtest::writeFile;

// A complete settings file, so loading keeps it as it is.
std::string settingsFile(int width, int height, const std::string& imagePath) {
    const std::string rule = "//" + std::string(60, '-') + "//\r\n";
    return "// Glimmerax settings\r\n\r\n" + rule + "// File or Directory path\r\n" + rule +
           "ImagePath = \"" + imagePath + "\"\r\n\r\n" + rule + "// Screen\r\n" + rule +
           "ScreenWidth = " + std::to_string(width) +
           "\r\nScreenHeight = " + std::to_string(height) + "\r\n\r\n" + rule +
           "ResourcePath = \"Default\"\r\nLanguageFile = \"English.txt\"\r\n"
           "Fullscreen = false\r\nDuration = 130\r\nGameSpeed = 10\t// Ranging from 1 to 10";
}

int settingValue(const std::string& text, const std::string& key) {
    std::smatch match;
    if (!std::regex_search(text, match, std::regex("(^|\n)" + key + " *= *(-?[0-9]+)"))) return -1;
    return std::stoi(match[2]);
}

struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xRRGGBB
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

uint32_t bigEndian(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Reads the ZPixmap dumps that xwd writes of a 24-bit screen: 32 or, once a client has
// installed its visuals, packed 24 bits per pixel.
bool readXwd(const std::string& data, Image& image) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    if (data.size() < 100) return false;
    auto field = [&](int index) { return bigEndian(bytes + 4 * index); };
    const uint32_t headerSize = field(0), format = field(2), width = field(4), height = field(5);
    const uint32_t byteOrder = field(7), bitsPerPixel = field(11), bytesPerLine = field(12);
    const uint32_t redMask = field(14), greenMask = field(15), blueMask = field(16);
    const uint32_t colours = field(19);
    const uint32_t pixelBytes = bitsPerPixel / 8;
    if (format != 2 || (bitsPerPixel != 24 && bitsPerPixel != 32) ||
        bytesPerLine < pixelBytes * width || redMask != 0xFF0000 || greenMask != 0xFF00 ||
        blueMask != 0xFF)
        return false;
    const size_t start = size_t(headerSize) + size_t(colours) * 12;
    if (data.size() < start + size_t(bytesPerLine) * height) return false;
    image.width = int(width);
    image.height = int(height);
    image.pixels.resize(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned char* p = bytes + start + size_t(y) * bytesPerLine + pixelBytes * x;
            uint32_t v = 0;
            for (uint32_t i = 0; i < pixelBytes; ++i)  // byte order 1: most significant first
                v |= uint32_t(p[byteOrder ? i : pixelBytes - 1 - i]) << (8 * (pixelBytes - 1 - i));
            image.pixels[size_t(y) * width + x] = v & 0xFFFFFF;
        }
    return true;
}

void writePpm(const fs::path& path, const Image& image, int x0, int y0, int w, int h) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << w << " " << h << "\n255\n";
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            const uint32_t v = image.at(x, y);
            const char rgb[3] = {char(v >> 16), char(v >> 8), char(v)};
            out.write(rgb, 3);
        }
}

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

class ConfigDialogOnDisplay : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!onPath("Xvfb") || !onPath("xdotool")) return;
        // Xvfb picks a free display itself and tells us its number.
        int fds[2];
        if (pipe(fds) != 0) return;
        xvfb = fork();
        if (xvfb == 0) {
            close(fds[0]);
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                   "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd waitFor{fds[0], POLLIN, 0};
        while (poll(&waitFor, 1, 20000) > 0) {
            char c;
            if (read(fds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        close(fds[0]);
        if (!number.empty()) display = ":" + number;
    }

    static void TearDownTestSuite() {
        if (xvfb > 0) {
            kill(xvfb, SIGTERM);
            waitpid(xvfb, nullptr, 0);
            xvfb = -1;
        }
    }

    void SetUp() override {
        if (!onPath("Xvfb") || !onPath("xdotool"))
            GTEST_SKIP() << "Xvfb or xdotool is not installed; the dialog cannot be driven";
        ASSERT_FALSE(display.empty()) << "Xvfb did not start";
        ASSERT_TRUE(onPath("xwd")) << "xwd (x11-apps) is needed for the screenshots";
        home = fs::temp_directory_path() /
               ("glimmerax-dialog-" + std::to_string(getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(home);
        fs::create_directories(home);
        // The preview would otherwise make the data file first, in every test.
        fs::copy_file(gxtest::sharedDataFile(), home / "Glimmerax.dat");
        artifacts = fs::path(GLIMMERAX_BUILD_DIR) / "test-artifacts" / "ui";
        fs::create_directories(artifacts);
    }

    void TearDown() override {
        if (program > 0) {
            kill(program, SIGKILL);
            waitpid(program, nullptr, 0);
            program = -1;
        }
        if (!home.empty()) fs::remove_all(home);
    }

    // Runs a command on our display; returns its standard output.
    std::string run(const std::string& command) {
        const std::string line = "DISPLAY=" + display + " " + command + " 2>/dev/null";
        std::string out;
        if (FILE* pipe = popen(line.c_str(), "r")) {
            std::array<char, 512> buffer;
            size_t got;
            while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
                out.append(buffer.data(), got);
            pclose(pipe);
        }
        return out;
    }

    // The first visible window captioned `caption`, once it is up; "" after 15 s.
    std::string waitForWindow(const std::string& caption) {
        const auto deadline = std::chrono::steady_clock::now() + 15s;
        while (std::chrono::steady_clock::now() < deadline) {
            std::string id = run("xdotool search --onlyvisible --name '^" + caption + "$'");
            if (!id.empty()) return id.substr(0, id.find('\n'));
            std::this_thread::sleep_for(100ms);
        }
        return "";
    }

    bool windowShown(const std::string& caption) {
        return !run("xdotool search --onlyvisible --name '^" + caption + "$'").empty();
    }

    bool programRunning() {
        int status;
        if (program > 0 && waitpid(program, &status, WNOHANG) == program) {
            program = -1;
            return false;
        }
        return program > 0;
    }

    // Writes the settings file, starts configure mode and returns its dialog once up.
    std::string openDialogOver(const std::string& settingsText,
                               fs::perms mode = fs::perms::owner_read | fs::perms::owner_write) {
        const fs::path ini = home / "Glimmerax.ini";
        writeFile(ini, settingsText);
        fs::permissions(ini, mode);
        startConfigure();
        const std::string window = waitForDialog();
        std::this_thread::sleep_for(500ms);
        return window;
    }

    void startConfigure() {
        program = fork();
        if (program == 0) {
            setenv("DISPLAY", display.c_str(), 1);
            unsetenv("WAYLAND_DISPLAY");
            setenv("GLIMMERAX_HOME", home.c_str(), 1);
            setenv("GDK_BACKEND", "x11", 1);
            setenv("NO_AT_BRIDGE", "1", 1);
            setenv("GSETTINGS_BACKEND", "memory", 1);
            const int log = open((home / "output.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(log, 1);
            dup2(log, 2);
            execl(GLIMMERAX_BINARY, GLIMMERAX_BINARY, "/c", static_cast<char*>(nullptr));
            _exit(127);
        }
    }

    // The dialog's mapped window, once it is up; 0 if the program ended or it never came.
    std::string waitForDialog() {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline) {
            int status;
            if (waitpid(program, &status, WNOHANG) == program) {
                program = -1;
                ADD_FAILURE() << "the program ended without showing the dialog (status " << status
                              << "):\n"
                              << readFile(home / "output.log");
                return "";
            }
            std::string id = run("xdotool search --onlyvisible --name '^Glimmerax Setup$'");
            if (!id.empty()) return id.substr(0, id.find('\n'));
            std::this_thread::sleep_for(100ms);
        }
        ADD_FAILURE() << "no window captioned \"Glimmerax Setup\" appeared:\n"
                      << readFile(home / "output.log");
        return "";
    }

    Geometry geometryOf(const std::string& window) {
        Geometry g;
        std::stringstream lines(run("xdotool getwindowgeometry --shell " + window));
        std::string line;
        while (std::getline(lines, line)) {
            const auto eq = line.find('=');
            if (eq == std::string::npos) continue;
            const std::string key = line.substr(0, eq);
            const int value = std::atoi(line.c_str() + eq + 1);
            if (key == "X") g.x = value;
            if (key == "Y") g.y = value;
            if (key == "WIDTH") g.width = value;
            if (key == "HEIGHT") g.height = value;
        }
        return g;
    }

    Image screenshot() {
        const fs::path file = home / "screen.xwd";
        run("xwd -root -silent -out '" + file.string() + "'");
        Image image;
        EXPECT_TRUE(readXwd(readFile(file), image)) << "unreadable screenshot";
        return image;
    }

    void key(const std::string& window, const std::string& keys) {
        run("xdotool windowfocus --sync " + window);
        std::this_thread::sleep_for(200ms);
        run("xdotool key --delay 150 " + keys);
        std::this_thread::sleep_for(300ms);
    }

    // The program's exit status, or a failure if it does not end.
    int waitForExit() {
        const auto deadline = std::chrono::steady_clock::now() + 15s;
        while (std::chrono::steady_clock::now() < deadline) {
            int status;
            if (waitpid(program, &status, WNOHANG) == program) {
                program = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << "the dialog did not close";
        return -1;
    }

    static pid_t xvfb;
    static std::string display;
    pid_t program = -1;
    fs::path home, artifacts;
};

pid_t ConfigDialogOnDisplay::xvfb = -1;
std::string ConfigDialogOnDisplay::display;

// Text and frames draw dark pixels on the light dialog: count the pixel rows that hold
// any, grouped into horizontal bands, within one column range of the window.
int darkBands(const Image& image, const Geometry& g, int x0, int x1) {
    int bands = 0;
    bool inBand = false;
    for (int y = g.y; y < g.y + g.height; ++y) {
        bool dark = false;
        for (int x = g.x + x0; x < g.x + x1 && !dark; ++x) {
            const uint32_t v = image.at(x, y);
            dark = ((v >> 16 & 0xFF) + (v >> 8 & 0xFF) + (v & 0xFF)) < 3 * 100;
        }
        if (dark && !inBand) ++bands;
        inBand = dark;
    }
    return bands;
}

// A solid picture for the saver to show (PPM).
void writePicture(const fs::path& file, uint32_t rgb) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << "P6\n96 72\n255\n";
    const char pixel[3] = {char(rgb >> 16), char(rgb >> 8), char(rgb)};
    for (int i = 0; i < 96 * 72; ++i) out.write(pixel, 3);
}

// The saver's black inside the dialog: the preview pane, whatever it shows in the
// middle. (Text may be black too, but never in 120 pixels of a row or a column.)
Geometry blackArea(const Image& image, const Geometry& dialog) {
    std::vector<int> rows(size_t(dialog.height)), columns(size_t(dialog.width));
    for (int y = 0; y < dialog.height; ++y)
        for (int x = 0; x < dialog.width; ++x)
            if (image.at(dialog.x + x, dialog.y + y) == 0) {
                ++rows[size_t(y)];
                ++columns[size_t(x)];
            }
    const auto span = [](const std::vector<int>& counts, int* first, int* length) {
        int last = -1;
        *first = -1;
        for (int i = 0; i < int(counts.size()); ++i)
            if (counts[size_t(i)] >= 120) {
                if (*first < 0) *first = i;
                last = i;
            }
        *length = last - *first + 1;
    };
    Geometry pane;
    span(columns, &pane.x, &pane.width);
    span(rows, &pane.y, &pane.height);
    if (pane.x < 0 || pane.y < 0) return Geometry{};
    pane.x += dialog.x;
    pane.y += dialog.y;
    return pane;
}

// Pixels of the pane whose hue is that of `rgb` (one saturated channel, one at about
// half, one near zero), at any brightness: faded in, shaded or not.
int pixelsOfHue(const Image& image, const Geometry& pane, uint32_t rgb) {
    const auto channels = [](uint32_t v) {
        return std::array<int, 3>{int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)};
    };
    const std::array<int, 3> want = channels(rgb);
    const int top = int(std::max_element(want.begin(), want.end()) - want.begin());
    int count = 0;
    for (int y = pane.y; y < pane.y + pane.height; ++y)
        for (int x = pane.x; x < pane.x + pane.width; ++x) {
            const std::array<int, 3> c = channels(image.at(x, y));
            if (c[top] < 60) continue;
            bool same = true;
            for (int i = 0; i < 3 && same; ++i)
                same = std::abs(c[i] * 255 - want[i] * c[top]) <= 40 * c[top];
            count += same;
        }
    return count;
}

// The preview processes running on something under `folder` (their command line
// names it): the saver the dialog started, and any it left behind.
std::vector<pid_t> previewsUnder(const fs::path& folder) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string line = readFile(entry.path() / "cmdline");
        std::vector<std::string> args;
        for (size_t at = 0; at < line.size();) {
            const size_t end = line.find('\0', at);
            args.push_back(line.substr(at, end - at));
            at = end == std::string::npos ? line.size() : end + 1;
        }
        for (size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == "--preview" && args[i + 1].rfind(folder.string(), 0) == 0)
                found.push_back(pid_t(std::stoi(name)));
    }
    return found;
}

int differingPixels(const Image& a, const Image& b, const Geometry& g) {
    int count = 0;
    for (int y = g.y; y < g.y + g.height; ++y)
        for (int x = g.x; x < g.x + g.width; ++x) count += a.at(x, y) != b.at(x, y);
    return count;
}

TEST_F(ConfigDialogOnDisplay, ShowsControlsAndOkSavesTheKeyedPreset) {
    const fs::path ini = home / "Glimmerax.ini";
    writeFile(ini, settingsFile(1000, 700, "/srv/photos"));
    startConfigure();
    const std::string window = waitForDialog();
    ASSERT_FALSE(window.empty());

    const Geometry g = geometryOf(window);
    ASSERT_GE(g.width, 300);
    ASSERT_GE(g.height, 150);
    ASSERT_LE(g.x + g.width, 1024);
    ASSERT_LE(g.y + g.height, 768);
    // Labels, slider, path field, the KEYS lines and the contact line on the left and
    // middle; OK, Cancel, Browse and the contact line on the right. A busy machine may
    // take a while over the first paint.
    Image before;
    int leftBands = 0, rightBands = 0;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(200ms)) {
        before = screenshot();
        ASSERT_EQ(before.width, 1024);
        leftBands = darkBands(before, g, 0, g.width * 2 / 3);
        rightBands = darkBands(before, g, g.width * 2 / 3, g.width);
        if (leftBands >= 8 && rightBands >= 3) break;
    }
    writePpm(artifacts / "config_dialog.ppm", before, g.x, g.y, g.width, g.height);
    EXPECT_GE(leftBands, 8) << "too few rows of text in the dialog; see "
                            << (artifacts / "config_dialog.ppm");
    EXPECT_GE(rightBands, 3) << "the buttons are missing; see "
                             << (artifacts / "config_dialog.ppm");

    key(window, "Right");
    Image moved;
    int changed = 0;
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < deadline && changed <= 50;
         std::this_thread::sleep_for(200ms)) {
        moved = screenshot();
        changed = differingPixels(before, moved, g);
    }
    writePpm(artifacts / "config_dialog_moved.ppm", moved, g.x, g.y, g.width, g.height);
    EXPECT_GT(changed, 50) << "the slider did not move on a key";

    key(window, "Return");
    EXPECT_EQ(waitForExit(), 0) << readFile(home / "output.log");
    const std::string saved = readFile(ini);
    EXPECT_EQ(settingValue(saved, "ScreenWidth"), 1280) << saved;
    EXPECT_EQ(settingValue(saved, "ScreenHeight"), 1024) << saved;
    EXPECT_NE(saved.find("ImagePath = \"/srv/photos\""), std::string::npos) << saved;
}

TEST_F(ConfigDialogOnDisplay, EscapeLeavesTheFileUntouched) {
    const fs::path ini = home / "Glimmerax.ini";
    writeFile(ini, settingsFile(1280, 1024, ""));
    const std::string original = readFile(ini);
    startConfigure();
    const std::string window = waitForDialog();
    ASSERT_FALSE(window.empty());
    std::this_thread::sleep_for(500ms);

    key(window, "Left Left");
    key(window, "Escape");
    EXPECT_EQ(waitForExit(), 0) << readFile(home / "output.log");
    EXPECT_EQ(readFile(ini), original);
}

TEST_F(ConfigDialogOnDisplay, OkWithoutMovingKeepsASizeBeyondThePresets) {
    const fs::path ini = home / "Glimmerax.ini";
    writeFile(ini, settingsFile(3000, 2000, ""));
    startConfigure();
    const std::string window = waitForDialog();
    ASSERT_FALSE(window.empty());
    std::this_thread::sleep_for(500ms);

    key(window, "Return");
    EXPECT_EQ(waitForExit(), 0) << readFile(home / "output.log");
    const std::string saved = readFile(ini);
    EXPECT_EQ(settingValue(saved, "ScreenWidth"), 3000) << saved;
    EXPECT_EQ(settingValue(saved, "ScreenHeight"), 2000) << saved;
    EXPECT_NE(saved.find("ImagePath = \"\""), std::string::npos) << saved;
}

TEST_F(ConfigDialogOnDisplay, OkThatCannotSaveSaysSoAndStaysOpen) {
    const fs::path ini = home / "Glimmerax.ini";
    const std::string original = settingsFile(1000, 700, "/srv/photos");
    const std::string window = openDialogOver(
        original, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ASSERT_FALSE(window.empty());

    key(window, "Right");
    key(window, "Return");
    // Not closed as if saved: a box says what happened, over the dialog still open.
    const std::string box = waitForWindow("Glimmerax Setup - not saved");
    ASSERT_FALSE(box.empty()) << readFile(home / "output.log");
    EXPECT_TRUE(programRunning());
    EXPECT_EQ(readFile(home / "output.log"),
              "glimmerax: The settings could not be saved to " + ini.string() +
                  ": the file is read-only. The file was left as it was.\n");
    key(box, "Return");
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < deadline && windowShown("Glimmerax Setup - not saved");)
        std::this_thread::sleep_for(100ms);
    ASSERT_FALSE(waitForDialog().empty());
    key(window, "Escape");
    EXPECT_EQ(waitForExit(), 0) << readFile(home / "output.log");
    EXPECT_EQ(readFile(ini), original);
}

TEST_F(ConfigDialogOnDisplay, FolderChooserOpensAtTheCurrentImagePath) {
    // ImagePath names a picture file: the chooser opens at its folder, so choosing
    // straight away picks that folder.
    const fs::path pictures = home / "my pictures";
    fs::create_directories(pictures / "inner");
    writeFile(pictures / "cat.png", "not really");
    const fs::path ini = home / "Glimmerax.ini";
    const std::string window =
        openDialogOver(settingsFile(1280, 1024, (pictures / "cat.png").string()));
    ASSERT_FALSE(window.empty());

    key(window, "alt+b");
    const std::string chooser = waitForWindow("Select Images Folder");
    ASSERT_FALSE(chooser.empty()) << readFile(home / "output.log");
    std::this_thread::sleep_for(1s);
    key(chooser, "Return");
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < deadline && windowShown("Select Images Folder");)
        std::this_thread::sleep_for(100ms);
    key(window, "Return");
    EXPECT_EQ(waitForExit(), 0) << readFile(home / "output.log");
    const std::string saved = readFile(ini);
    EXPECT_NE(saved.find("ImagePath = \"" + pictures.string() + "\"\r\n"), std::string::npos)
        << saved;
}

constexpr uint32_t kOrange = 0xFF8C00;
constexpr uint32_t kAzure = 0x008CFF;

class PreviewOnDisplay : public ConfigDialogOnDisplay {
protected:
    // The dialog over settings that name `pictures`; their bytes go to *original.
    std::string openOn(const fs::path& pictures, std::string* original, Geometry* dialog) {
        const std::string window = openDialogOver(settingsFile(1600, 1200, pictures.string()));
        *original = readFile(home / "Glimmerax.ini");
        if (!window.empty()) *dialog = geometryOf(window);
        return window;
    }

    // Screenshots until the pane shows the colour (30 s at most); the last one in *shot.
    Geometry waitForPaneShowing(const Geometry& dialog, uint32_t colour, Image* shot) {
        Geometry pane;
        for (auto deadline = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(200ms)) {
            *shot = screenshot();
            pane = blackArea(*shot, dialog);
            if (pane.width > 0 && pixelsOfHue(*shot, pane, colour) > 500) break;
        }
        return pane;
    }
};

TEST_F(PreviewOnDisplay, RunsTheFolderAndEndsWithTheDialog) {
    const fs::path pictures = home / "orange";
    writePicture(pictures / "orange.ppm", kOrange);
    std::string original;
    Geometry dialog;
    const std::string window = openOn(pictures, &original, &dialog);
    ASSERT_FALSE(window.empty());

    // The saver on the folder, in a pane of the screen's aspect (1024 x 768).
    Image shot;
    const Geometry pane = waitForPaneShowing(dialog, kOrange, &shot);
    writePpm(artifacts / "preview.ppm", shot, dialog.x, dialog.y, dialog.width, dialog.height);
    ASSERT_GT(pixelsOfHue(shot, pane, kOrange), 500)
        << "no orange in the preview; see " << (artifacts / "preview.ppm") << "\n"
        << readFile(home / "output.log");
    EXPECT_NEAR(pane.width, 320, 2);
    EXPECT_NEAR(pane.height, 240, 2);
    const std::vector<pid_t> savers = previewsUnder(home);
    ASSERT_EQ(savers.size(), 1u);

    // It moves: two screenshots a second apart differ (the picture holds still for a
    // moment after it has faded in, so a few tries).
    bool moved = false;
    for (int attempt = 0; attempt < 10 && !moved; ++attempt) {
        const Image before = screenshot();
        std::this_thread::sleep_for(1s);
        shot = screenshot();
        moved = differingPixels(before, shot, pane) > 100 && pixelsOfHue(shot, pane, kOrange) > 0;
    }
    EXPECT_TRUE(moved) << "the preview stands still";

    key(window, "Escape");
    EXPECT_EQ(waitForExit(), 0) << readFile(home / "output.log");
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(savers[0]))) << "the saver was left behind";
    EXPECT_TRUE(previewsUnder(home).empty());
    EXPECT_EQ(readFile(home / "Glimmerax.ini"), original);
}

TEST_F(PreviewOnDisplay, AnotherFolderRestartsItOnThatFolder) {
    const fs::path orange = home / "orange", azure = home / "azure";
    writePicture(orange / "orange.ppm", kOrange);
    writePicture(azure / "azure.ppm", kAzure);
    std::string original;
    Geometry dialog;
    const std::string window = openOn(orange, &original, &dialog);
    ASSERT_FALSE(window.empty());
    Image shot;
    const Geometry pane = waitForPaneShowing(dialog, kOrange, &shot);
    ASSERT_GT(pixelsOfHue(shot, pane, kOrange), 500) << readFile(home / "output.log");
    const std::vector<pid_t> first = previewsUnder(orange);
    ASSERT_EQ(first.size(), 1u);

    // The other folder, typed into the folder chooser.
    key(window, "alt+b");
    const std::string chooser = waitForWindow("Select Images Folder");
    ASSERT_FALSE(chooser.empty()) << readFile(home / "output.log");
    std::this_thread::sleep_for(1s);
    key(chooser, "ctrl+l");
    run("xdotool type --delay 30 '" + azure.string() + "/'");
    key(chooser, "Return");
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < deadline && windowShown("Select Images Folder");)
        std::this_thread::sleep_for(100ms);

    int azurePixels = 0, orangePixels = 0;
    for (auto deadline = std::chrono::steady_clock::now() + 30s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(200ms)) {
        shot = screenshot();
        azurePixels = pixelsOfHue(shot, pane, kAzure);
        orangePixels = pixelsOfHue(shot, pane, kOrange);
        if (azurePixels > 500 && orangePixels == 0) break;
    }
    writePpm(artifacts / "preview_other_folder.ppm", shot, dialog.x, dialog.y, dialog.width,
             dialog.height);
    EXPECT_GT(azurePixels, 500) << "see " << (artifacts / "preview_other_folder.ppm");
    EXPECT_EQ(orangePixels, 0);
    // The first saver is gone while the dialog still runs: ended and reaped, not a zombie.
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(first[0])));
    EXPECT_TRUE(previewsUnder(orange).empty());
    const std::vector<pid_t> second = previewsUnder(azure);
    ASSERT_EQ(second.size(), 1u);

    // Ended from outside, the dialog closes as Cancel does: nothing saved, nothing left.
    ASSERT_EQ(kill(program, SIGTERM), 0);
    EXPECT_EQ(waitForExit(), 0) << readFile(home / "output.log");
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(second[0])));
    EXPECT_TRUE(previewsUnder(home).empty());
    EXPECT_EQ(readFile(home / "Glimmerax.ini"), original);
}

}  // namespace
