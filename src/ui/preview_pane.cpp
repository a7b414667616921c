// The preview pane: starts the saver with `--preview`, reads its frames and text through
// GLib's fd watches on the dialog's own thread, and paints the latest frame.
#include "ui/preview_pane.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/os/paths.h"

namespace gx {

namespace {

constexpr int kPaneSide = 320;
// Bytes taken from a pipe per wake-up at most, so a flood cannot hold the dialog up.
constexpr size_t kReadPerWake = size_t(4) << 20;
// How long a saver that was asked to end may take before it is killed.
constexpr auto kEndingTime = std::chrono::milliseconds(300);

// Runs in the child between fork and exec: the saver ends with the dialog however the
// dialog ends (a crash, SIGKILL), not only when it closes.
void endWithParent(gpointer parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The dialog may have gone before the line above.
    if (getppid() != pid_t(GPOINTER_TO_INT(parent))) _exit(0);
}

std::string ownProgram() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string();
}

void paneSize(int* width, int* height) {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle screen{0, 0, 4, 3};
    if (monitor) gdk_monitor_get_geometry(monitor, &screen);
    if (screen.width <= 0 || screen.height <= 0) screen = GdkRectangle{0, 0, 4, 3};
    // The saver takes no side under 16 pixels.
    const auto shorter = [](double side) { return std::max(16, int(std::lround(side))); };
    if (screen.width >= screen.height) {
        *width = kPaneSide;
        *height = shorter(double(kPaneSide) * screen.height / screen.width);
    } else {
        *height = kPaneSide;
        *width = shorter(double(kPaneSide) * screen.width / screen.height);
    }
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

PreviewPane::PreviewPane() {
    paneSize(&width_, &height_);
    area_ = gtk_drawing_area_new();
    // Ours until we are gone, whatever the dialog does with it.
    g_object_ref_sink(area_);
    gtk_widget_set_size_request(area_, width_, height_);
    gtk_widget_set_halign(area_, GTK_ALIGN_START);
    gtk_widget_set_valign(area_, GTK_ALIGN_START);
    g_signal_connect(area_, "draw", G_CALLBACK(onDraw), this);
}

PreviewPane::~PreviewPane() {
    stop();
    g_signal_handlers_disconnect_by_data(area_, this);
    g_object_unref(area_);
    if (image_) cairo_surface_destroy(image_);
}

void PreviewPane::start(const std::string& imagePath) {
    stop();
    frames_ = PreviewFrameReader{};
    text_ = PreviewTextLine{};
    linesAtFrame_ = 0;
    ended_ = false;
    problem_.clear();
    gtk_widget_queue_draw(area_);

    const std::string program = ownProgram();
    const std::string size = std::to_string(width_) + "x" + std::to_string(height_);
    // The saver starts where we were started, so that a relative GLIMMERAX_HOME or
    // XDG folder means the same to it; a relative ImagePath means what it means here,
    // in the home folder.
    std::string path = imagePath;
    if (!path.empty() && path.front() != '/') {
        if (char* here = getcwd(nullptr, 0)) {
            path = std::string(here) + "/" + path;
            std::free(here);
        }
    }
    const std::string& from = startingFolder();
    const gchar* argv[] = {program.c_str(), "--preview",  path.c_str(),
                           "--size",        size.c_str(), nullptr};
    GError* error = nullptr;
    GPid pid = 0;
    gint frames = -1, text = -1;
    if (program.empty() ||
        !g_spawn_async_with_pipes(
            from.empty() ? nullptr : from.c_str(), const_cast<gchar**>(argv), nullptr,
            GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDIN_FROM_DEV_NULL), endWithParent,
            GINT_TO_POINTER(getpid()), &pid, nullptr, &frames, &text, &error)) {
        problem_ = std::string("The preview cannot start: ") +
                   (error ? error->message : "the program's own file cannot be found") + ".";
        if (error) g_error_free(error);
        return;
    }
    pid_ = pid;
    framesFd_ = frames;
    textFd_ = text;
    setNonBlocking(framesFd_);
    setNonBlocking(textFd_);
    // A whole frame fits in the pipe: the saver writes it in one go and we wake once.
    const size_t frameBytes = sizeof(PreviewFrameHeader) + size_t(width_) * height_ * 4;
    fcntl(framesFd_, F_SETPIPE_SZ, int(std::min<size_t>(frameBytes, size_t(1) << 20)));
    const auto watched = GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR);
    framesWatch_ = g_unix_fd_add(framesFd_, watched, onFrames, this);
    textWatch_ = g_unix_fd_add(textFd_, watched, onText, this);
}

void PreviewPane::stop() {
    closeFrames();
    closeText();
    if (reapTimer_) g_source_remove(reapTimer_);
    reapTimer_ = 0;
    if (pid_ <= 0) return;
    // With its pipe closed the saver ends at its next frame; the signal covers the
    // time before its first (the data file, the first picture).
    kill(pid_, SIGTERM);
    int status = 0;
    bool reaped = false;
    for (const auto deadline = std::chrono::steady_clock::now() + kEndingTime;;) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            reaped = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!reaped) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
    }
    pid_ = 0;
}

void PreviewPane::closeFrames() {
    if (framesWatch_) g_source_remove(framesWatch_);
    framesWatch_ = 0;
    if (framesFd_ >= 0) close(framesFd_);
    framesFd_ = -1;
}

void PreviewPane::closeText() {
    if (textWatch_) g_source_remove(textWatch_);
    textWatch_ = 0;
    if (textFd_ >= 0) close(textFd_);
    textFd_ = -1;
}

namespace {

// Reads what the pipe holds now, handing it to `take` (false: take no more). True
// while the pipe stays open and wanted.
template <typename Take>
bool readWhatIsThere(int fd, Take take) {
    char buffer[1 << 16];
    for (size_t taken = 0; taken < kReadPerWake;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            taken += size_t(n);
            if (!take(buffer, size_t(n))) return false;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    return true;
}

}  // namespace

gboolean PreviewPane::onFrames(gint fd, GIOCondition, gpointer data) {
    auto& self = *static_cast<PreviewPane*>(data);
    const uint64_t before = self.frames_.frames();
    const bool open = readWhatIsThere(fd, [&](const char* bytes, size_t size) {
        return self.frames_.take(reinterpret_cast<const uint8_t*>(bytes), size);
    });
    if (self.frames_.frames() != before) self.showLatestFrame();
    if (open) return G_SOURCE_CONTINUE;
    // This source ends here: only the descriptor is left to close.
    self.framesWatch_ = 0;
    if (self.frames_.broken()) {
        self.stop();
        self.problem_ = "The preview sent frames that cannot be shown.";
        gtk_widget_queue_draw(self.area_);
    } else {
        self.closeFrames();
        self.outputEnded();
    }
    return G_SOURCE_REMOVE;
}

gboolean PreviewPane::onText(gint fd, GIOCondition, gpointer data) {
    auto& self = *static_cast<PreviewPane*>(data);
    const uint64_t before = self.text_.lines();
    const bool open = readWhatIsThere(fd, [&](const char* bytes, size_t size) {
        self.text_.take(bytes, size);
        return true;
    });
    if (!open) self.text_.finish();
    if (self.text_.lines() != before) gtk_widget_queue_draw(self.area_);
    if (open) return G_SOURCE_CONTINUE;
    self.textWatch_ = 0;
    self.closeText();
    self.outputEnded();
    return G_SOURCE_REMOVE;
}

// Both pipes closed: the saver is ending. Reaped as soon as it has.
void PreviewPane::outputEnded() {
    if (framesFd_ >= 0 || textFd_ >= 0 || pid_ <= 0 || reapTimer_) return;
    reapTimer_ = g_timeout_add(20, onReap, this);
}

gboolean PreviewPane::onReap(gpointer data) {
    auto& self = *static_cast<PreviewPane*>(data);
    int status = 0;
    const pid_t r = waitpid(self.pid_, &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR)) return G_SOURCE_CONTINUE;
    self.reapTimer_ = 0;
    self.pid_ = 0;
    self.ended_ = true;
    // (Reaped elsewhere, r < 0: how it ended is not known.)
    const bool failed = r > 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // A failure says why in its last line; one that did not (a crash) is named here.
    const bool saidWhy = self.text_.lines() > self.linesAtFrame_ ||
                         (self.frames_.frames() == 0 && !self.text_.line().empty());
    if (failed && !saidWhy) {
        self.problem_ =
            WIFSIGNALED(status)
                ? "The preview stopped (signal " + std::to_string(WTERMSIG(status)) + ")."
                : "The preview ended with exit code " + std::to_string(WEXITSTATUS(status)) + ".";
    }
    gtk_widget_queue_draw(self.area_);
    return G_SOURCE_REMOVE;
}

void PreviewPane::showLatestFrame() {
    const uint32_t w = frames_.width(), h = frames_.height();
    if (!image_ || cairo_image_surface_get_width(image_) != int(w) ||
        cairo_image_surface_get_height(image_) != int(h)) {
        if (image_) cairo_surface_destroy(image_);
        // X8R8G8B8 in memory is cairo's RGB24: the rows copy as they are.
        image_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(w), int(h));
    }
    if (cairo_surface_status(image_) != CAIRO_STATUS_SUCCESS) return;
    cairo_surface_flush(image_);
    unsigned char* rows = cairo_image_surface_get_data(image_);
    const int stride = cairo_image_surface_get_stride(image_);
    const uint32_t* pixels = frames_.frame().data();
    for (uint32_t y = 0; y < h; ++y)
        std::memcpy(rows + size_t(y) * stride, pixels + size_t(y) * w, size_t(w) * 4);
    cairo_surface_mark_dirty(image_);
    linesAtFrame_ = text_.lines();
    gtk_widget_queue_draw(area_);
}

gboolean PreviewPane::onDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    static_cast<PreviewPane*>(data)->draw(cr);
    return TRUE;
}

void PreviewPane::draw(cairo_t* cr) {
    const int w = gtk_widget_get_allocated_width(area_);
    const int h = gtk_widget_get_allocated_height(area_);
    // A line that came after the last frame is why the saver ended.
    const bool saidWhy = ended_ && text_.lines() > linesAtFrame_;
    if (problem_.empty() && image_ && frames_.frames() > 0 && !saidWhy) {
        const double sx = double(w) / cairo_image_surface_get_width(image_);
        const double sy = double(h) / cairo_image_surface_get_height(image_);
        cairo_scale(cr, sx, sy);
        cairo_set_source_surface(cr, image_, 0, 0);
        if (sx != 1.0 || sy != 1.0)
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
        return;
    }
    // The saver's black, with what it has to say instead of a box.
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    std::string text = problem_;
    if (text.empty()) text = text_.line();
    if (text.empty() && ended_) text = "The preview ended.";
    if (text.empty()) return;
    PangoLayout* layout = gtk_widget_create_pango_layout(area_, text.c_str());
    constexpr int kMargin = 12;
    pango_layout_set_width(layout, std::max(1, w - 2 * kMargin) * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
    int textWidth = 0, textHeight = 0;
    pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
    cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
    cairo_move_to(cr, kMargin, std::max(0, (h - textHeight) / 2));
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

}  // namespace gx
