// The settings dialog's preview: the saver itself, started as a child process
// (`--preview`) at the pane's size, its frames painted into a drawing area. The same
// way works on X11 and on Wayland, where no window can be handed to another process.
#pragma once

#include <gtk/gtk.h>
#include <sys/types.h>

#include <string>

#include "ui/preview_stream.h"

namespace gx {

class PreviewPane {
public:
    // About 320 pixels wide, with the aspect of the screen the saver fills (a tall
    // screen gives 320 pixels high). Needs GTK running.
    PreviewPane();
    ~PreviewPane();
    PreviewPane(const PreviewPane&) = delete;
    PreviewPane& operator=(const PreviewPane&) = delete;

    GtkWidget* widget() const { return area_; }

    // (Re)starts the saver on `imagePath` as ImagePath (empty: the defaults).
    void start(const std::string& imagePath);
    // Ends the saver and waits for it: no process is left behind.
    void stop();

    // The running saver's process id, or 0.
    pid_t child() const { return pid_; }

private:
    static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static gboolean onFrames(gint fd, GIOCondition condition, gpointer self);
    static gboolean onText(gint fd, GIOCondition condition, gpointer self);
    static gboolean onReap(gpointer self);
    void draw(cairo_t* cr);
    void showLatestFrame();
    void closeFrames();
    void closeText();
    void outputEnded();

    GtkWidget* area_ = nullptr;
    int width_, height_;
    pid_t pid_ = 0;
    int framesFd_ = -1, textFd_ = -1;
    guint framesWatch_ = 0, textWatch_ = 0, reapTimer_ = 0;
    PreviewFrameReader frames_;
    PreviewTextLine text_;
    cairo_surface_t* image_ = nullptr;
    bool ended_ = false;
    // Lines of text that had come when the latest frame came.
    uint64_t linesAtFrame_ = 0;
    // Why the preview shows nothing, when the dialog knows better than the saver.
    std::string problem_;
};

}  // namespace gx
