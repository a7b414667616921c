// The progress display of the first run. GTK is touched only on the thread that runs
// runProgressDisplay; the generating thread only sets atomics and wakes us.
#include "ui/progress_window.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace gx {

namespace {

std::atomic<ProgressDisplay> chosenDisplay{ProgressDisplay::Automatic};
std::atomic<int> lastDisplayed{-1};

bool displayNamed() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// ---- the window ----

// Dialog units of the original layout to pixels (8 pt dialog font).
constexpr double kUnitX = 1.5;
constexpr double kUnitY = 1.625;

struct WindowState {
    ProgressLink* link = nullptr;
    GtkWidget* window = nullptr;
    GtkWidget* percentLabel = nullptr;
    GtkWidget* bar = nullptr;
    int shownPercent = -1;  // set into the label
    int drawnPercent = -1;  // painted on the screen
    int closingTicks = 0;
    guint tick = 0;
};

// Ticks the window waits, once the generator is done, for its last percentage to be
// painted (20 ms each).
constexpr int kClosingTicks = 100;

void place(GtkFixed* fixed, GtkWidget* widget, int x, int y, int w, int h) {
    gtk_widget_set_size_request(widget, int(w * kUnitX), int(h * kUnitY));
    gtk_fixed_put(fixed, widget, int(x * kUnitX), int(y * kUnitY));
}

GtkWidget* leftLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    return label;
}

void showPercent(WindowState& s) {
    const int percent = s.link->percent.load();
    if (percent < 0 || percent == s.shownPercent) return;
    s.shownPercent = percent;
    char text[64];
    std::snprintf(text, sizeof text, "%d%%", percent);
    gtk_label_set_text(GTK_LABEL(s.percentLabel), text);
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(s.bar), std::clamp(percent, 0, 100) / 100.0);
}

gboolean onPercentDrawn(GtkWidget*, cairo_t*, gpointer data) {
    auto& s = *static_cast<WindowState*>(data);
    s.drawnPercent = s.shownPercent;
    return FALSE;
}

gboolean onTick(gpointer data) {
    auto& s = *static_cast<WindowState*>(data);
    // The latest percentage first, also when the generator has just ended: the window
    // shows 100% before it closes, as the text bar does.
    showPercent(s);
    if (s.link->ended.load()) {
        if (s.drawnPercent != s.shownPercent && ++s.closingTicks < kClosingTicks) {
            return G_SOURCE_CONTINUE;
        }
        s.tick = 0;
        gtk_main_quit();
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

void onQuit(GtkButton*, gpointer data) {
    auto& s = *static_cast<WindowState*>(data);
    if (s.link->quit.exchange(true)) return;
    gtk_main_quit();
}

gboolean onDelete(GtkWidget*, GdkEvent*, gpointer) { return TRUE; }  // QUIT is the way out

bool runWindow(ProgressLink& link) {
    static bool gtkReady = false;
    if (!gtkReady) gtkReady = displayNamed() && gtk_init_check(nullptr, nullptr);
    if (!gtkReady) return false;

    WindowState s;
    s.link = &link;
    s.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(s.window);
    gtk_window_set_title(window, kProgressCaption);
    gtk_window_set_deletable(window, FALSE);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_keep_above(window, TRUE);
    gtk_window_set_default_size(window, 304, 92);
    g_signal_connect(s.window, "delete-event", G_CALLBACK(onDelete), nullptr);

    GtkFixed* fixed = GTK_FIXED(gtk_fixed_new());
    gtk_container_add(GTK_CONTAINER(s.window), GTK_WIDGET(fixed));
    place(fixed, leftLabel(kProgressPleaseWait), 5, 4, 181, 12);
    s.bar = gtk_progress_bar_new();
    place(fixed, s.bar, 6, 19, 175, 14);
    // The text and the percentage share a row so that a wider font cannot overlap them.
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_start(GTK_BOX(row), leftLabel(kProgressGenerating), FALSE, FALSE, 0);
    s.percentLabel = leftLabel("0%");
    g_signal_connect_after(s.percentLabel, "draw", G_CALLBACK(onPercentDrawn), &s);
    gtk_box_pack_start(GTK_BOX(row), s.percentLabel, FALSE, FALSE, 0);
    gtk_fixed_put(fixed, row, int(10 * kUnitX), int(39 * kUnitY));
    GtkWidget* quit = gtk_button_new_with_label(kProgressQuit);
    g_signal_connect(quit, "clicked", G_CALLBACK(onQuit), &s);
    place(fixed, quit, 133, 36, 48, 14);

    if (link.placeAtCursor) {
        link.placeAtCursor = false;
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
        if (pointer) {
            int x = 0, y = 0;
            gdk_device_get_position(pointer, nullptr, &x, &y);
            gtk_window_move(window, x, y);
        }
    }
    gtk_widget_show_all(s.window);
    gtk_widget_grab_focus(quit);
    link.shown.store(true);

    // The generator cannot reach into GTK, so the window polls it.
    s.tick = g_timeout_add(20, onTick, &s);
    if (!link.ended.load() && !link.quit.load()) gtk_main();
    if (s.tick) g_source_remove(s.tick);
    lastDisplayed.store(s.drawnPercent);
    gtk_widget_destroy(s.window);
    while (gtk_events_pending()) gtk_main_iteration();
    gdk_display_flush(gdk_display_get_default());
    return true;
}

// ---- the text bar ----

std::atomic<std::atomic<bool>*> interruptTarget{nullptr};

void onInterrupt(int) {
    if (std::atomic<bool>* quit = interruptTarget.load()) quit->store(true);
}

void drawBar(int percent) {
    // A log file or a pipe gets a line per tenth instead of a hundred redraws.
    static const bool terminal = isatty(STDERR_FILENO) != 0;
    if (!terminal) {
        if (percent % 10 == 0) {
            std::fprintf(stderr, "%s%d%%\n", kProgressGenerating, percent);
            lastDisplayed.store(percent);
        }
        return;
    }
    lastDisplayed.store(percent);
    constexpr int kWidth = 40;
    const int filled = std::clamp(percent, 0, 100) * kWidth / 100;
    std::string bar(size_t(filled), '#');
    bar.append(size_t(kWidth - filled), '.');
    std::fprintf(stderr, "\r%s[%s] %3d%%   (Ctrl-C: %s)", kProgressGenerating, bar.c_str(), percent,
                 kProgressQuit);
    std::fflush(stderr);
}

void runText(ProgressLink& link) {
    interruptTarget.store(&link.quit);
    struct sigaction action {
    }, previous{};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);

    std::fprintf(stderr, "%s: %s\n", kProgressCaption, kProgressPleaseWait);
    link.placeAtCursor = false;
    link.shown.store(true);
    int drawn = -2;
    {
        std::unique_lock lock(link.mutex);
        while (!link.ended.load() && !link.quit.load()) {
            const int percent = std::max(link.percent.load(), 0);
            if (percent != drawn) {
                drawn = percent;
                drawBar(percent);
            }
            // Ctrl-C cannot notify, so the wait also times out.
            link.wake.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    const int percent = std::max(link.percent.load(), 0);
    if (percent != drawn) drawBar(percent);
    if (link.quit.load()) {
        std::fprintf(stderr, "\n%s\n", kProgressQuit);
    } else {
        std::fprintf(stderr, "\n");
    }
    std::fflush(stderr);

    sigaction(SIGINT, &previous, nullptr);
    interruptTarget.store(nullptr);
}

}  // namespace

void setProgressDisplay(ProgressDisplay display) { chosenDisplay.store(display); }
ProgressDisplay progressDisplay() { return chosenDisplay.load(); }
int lastPercentDisplayed() { return lastDisplayed.load(); }

int runProgressDisplay(ProgressLink& link) {
    lastDisplayed.store(-1);
    switch (chosenDisplay.load()) {
    case ProgressDisplay::None: break;
    case ProgressDisplay::Text: runText(link); break;
    case ProgressDisplay::Window: runWindow(link); break;
    case ProgressDisplay::Automatic:
        if (!runWindow(link)) runText(link);
        break;
    }
    return 0;
}

void wakeProgressDisplay(ProgressLink& link) {
    std::lock_guard lock(link.mutex);
    link.wake.notify_all();
}

}  // namespace gx
