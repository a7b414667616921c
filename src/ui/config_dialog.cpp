// GTK view of the settings dialog; every decision is the model's.
#include "ui/config_dialog.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "config/settings.h"
#include "platform/os/paths.h"
#include "ui/config_dialog_model.h"
#include "ui/preview_pane.h"

namespace gx {

namespace {

struct ConfigDialogView {
    ConfigDialogModel model;
    GtkWidget* window = nullptr;
    GtkWidget* slider = nullptr;
    GtkWidget* resolutionLabel = nullptr;
    GtkWidget* pathField = nullptr;
    GtkWidget* note = nullptr;
    std::unique_ptr<PreviewPane> preview;
    // A dialog running over ours (the folder chooser, a message), which an ending by
    // signal has to close first.
    GtkWidget* nested = nullptr;
    // SIGTERM, SIGINT or SIGHUP came: close as Cancel does.
    bool terminated = false;
};

// Lives as long as the dialog.
ConfigDialogView view;

bool displayNamed() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

void showPath() {
    gtk_entry_set_text(GTK_ENTRY(view.pathField), view.model.path.c_str());
    // Keep the end of a long path in sight: the folder's own name matters most.
    gtk_editable_set_position(GTK_EDITABLE(view.pathField), -1);
    gtk_label_set_text(GTK_LABEL(view.note), view.model.note.c_str());
    gtk_widget_set_visible(view.note, !view.model.note.empty());
}

// The model's message in a box over the dialog; the dialog stays open behind it.
void showMessage() {
    if (view.model.message.empty() || view.terminated) return;
    GtkWidget* box =
        gtk_message_dialog_new(GTK_WINDOW(view.window), GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                               GTK_BUTTONS_OK, "%s", view.model.message.c_str());
    gtk_window_set_title(GTK_WINDOW(box), "Glimmerax Setup - not saved");
    view.nested = box;
    gtk_dialog_run(GTK_DIALOG(box));
    view.nested = nullptr;
    gtk_widget_destroy(box);
}

// Every user movement of the slider, keyboard or mouse, even one that stays at an end.
gboolean onSliderChange(GtkRange*, GtkScrollType, gdouble value, gpointer) {
    if (!std::isfinite(value)) return FALSE;
    moveResolutionSlider(view.model, static_cast<int>(std::lround(value)));
    gtk_label_set_text(GTK_LABEL(view.resolutionLabel), view.model.resolutionLabel.c_str());
    return FALSE;  // let the range move itself
}

void onBrowse(GtkButton*, gpointer) {
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        "Select Images Folder", GTK_WINDOW(view.window), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
        "_Cancel", GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* files = GTK_FILE_CHOOSER(chooser);
    gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    gtk_window_set_position(GTK_WINDOW(chooser), GTK_WIN_POS_CENTER_ON_PARENT);
    gtk_file_chooser_set_local_only(files, TRUE);
    gtk_file_chooser_set_create_folders(files, FALSE);
    // Open where the pictures are now, not at "Recent".
    if (!view.model.chooserFolder.empty())
        gtk_file_chooser_set_current_folder(files, view.model.chooserFolder.c_str());
    bool picked = false;
    std::string folder;
    view.nested = chooser;
    const gint response = gtk_dialog_run(GTK_DIALOG(chooser));
    view.nested = nullptr;
    if (response == GTK_RESPONSE_ACCEPT && !view.terminated) {
        // Only a real folder on disk counts; anything else leaves the settings alone.
        if (gchar* name = gtk_file_chooser_get_filename(files)) {
            folder = name;
            picked = true;
            g_free(name);
        }
    }
    gtk_widget_destroy(chooser);
    if (!picked) return;
    const std::string previewed = view.model.previewPath;
    if (!pickImageFolder(view.model, settings, folder)) {
        showMessage();
        return;
    }
    showPath();
    if (view.model.previewPath != previewed) view.preview->start(view.model.previewPath);
}

gboolean onTerminate(gpointer) {
    view.terminated = true;
    if (view.nested) gtk_dialog_response(GTK_DIALOG(view.nested), GTK_RESPONSE_CANCEL);
    if (view.window) gtk_dialog_response(GTK_DIALOG(view.window), GTK_RESPONSE_CANCEL);
    return G_SOURCE_CONTINUE;
}

void onButton(GtkButton*, gpointer response) {
    gtk_dialog_response(GTK_DIALOG(view.window), GPOINTER_TO_INT(response));
}

GtkWidget* leftLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    return label;
}

GtkWidget* buildKeysGroup() {
    GtkWidget* frame = gtk_frame_new("KEYS");
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 24);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 2);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 6);
    const char* lines[3][2] = {
        {"+", "Speed up time"}, {"-", "Slow down time"}, {"ANY KEY", "Skip to next picture"}};
    for (int row = 0; row < 3; ++row) {
        gtk_grid_attach(GTK_GRID(grid), leftLabel(lines[row][0]), 0, row, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), leftLabel(lines[row][1]), 1, row, 1, 1);
    }
    gtk_container_add(GTK_CONTAINER(frame), grid);
    return frame;
}

void buildDialog() {
    view.window = gtk_dialog_new();
    GtkWindow* window = GTK_WINDOW(view.window);
    gtk_window_set_title(window, "Glimmerax Setup");
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_modal(window, TRUE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 10);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(view.window))), grid, TRUE,
                       TRUE, 0);

    // Row 0-1: resolution slider with its label; OK and Cancel on the right.
    gtk_grid_attach(GTK_GRID(grid), leftLabel("Screen Resolution:"), 0, 0, 2, 1);
    view.slider =
        gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 1, kResolutionPresetCount, 1);
    GtkRange* range = GTK_RANGE(view.slider);
    gtk_scale_set_draw_value(GTK_SCALE(view.slider), FALSE);
    gtk_scale_set_digits(GTK_SCALE(view.slider), 0);
    gtk_range_set_round_digits(range, 0);
    gtk_range_set_increments(range, 1, 1);
    gtk_range_set_value(range, view.model.sliderPosition);
    gtk_widget_set_size_request(view.slider, 220, -1);
    gtk_grid_attach(GTK_GRID(grid), view.slider, 0, 1, 1, 1);
    view.resolutionLabel = gtk_label_new(view.model.resolutionLabel.c_str());
    gtk_label_set_width_chars(GTK_LABEL(view.resolutionLabel), 10);
    gtk_grid_attach(GTK_GRID(grid), view.resolutionLabel, 1, 1, 1, 1);

    GtkWidget* ok = gtk_button_new_with_label("OK");
    GtkWidget* cancel = gtk_button_new_with_label("Cancel");
    gtk_grid_attach(GTK_GRID(grid), ok, 2, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), cancel, 2, 1, 1, 1);

    // Row 2-4: the picture folder, changed only through Browse, and what an empty one
    // shows when the pictures folder is missing.
    gtk_grid_attach(GTK_GRID(grid), leftLabel("Image Path:"), 0, 2, 2, 1);
    view.pathField = gtk_entry_new();
    gtk_editable_set_editable(GTK_EDITABLE(view.pathField), FALSE);
    gtk_widget_set_hexpand(view.pathField, TRUE);
    gtk_grid_attach(GTK_GRID(grid), view.pathField, 0, 3, 3, 1);
    view.note = leftLabel("");
    gtk_label_set_line_wrap(GTK_LABEL(view.note), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(view.note), 50);
    gtk_widget_set_no_show_all(view.note, TRUE);
    gtk_grid_attach(GTK_GRID(grid), view.note, 0, 4, 3, 1);

    // Row 5-8: the preview, key help, Browse and the contact line.
    view.preview = std::make_unique<PreviewPane>();
    gtk_grid_attach(GTK_GRID(grid), view.preview->widget(), 0, 5, 2, 1);
    gtk_grid_attach(GTK_GRID(grid), buildKeysGroup(), 0, 6, 2, 2);
    // Alt+B reaches it from the keyboard; the caption still reads "Browse...".
    GtkWidget* browse = gtk_button_new_with_mnemonic("_Browse...");
    gtk_widget_set_valign(browse, GTK_ALIGN_START);
    gtk_grid_attach(GTK_GRID(grid), browse, 2, 5, 1, 1);
    // The address is long: centred across the foot, the buttons keep their width.
    GtkWidget* contact = gtk_label_new(kConfigDialogContact);
    gtk_label_set_justify(GTK_LABEL(contact), GTK_JUSTIFY_CENTER);
    gtk_label_set_selectable(GTK_LABEL(contact), TRUE);
    gtk_widget_set_can_focus(contact, FALSE);
    gtk_grid_attach(GTK_GRID(grid), contact, 0, 8, 3, 1);

    g_signal_connect(view.slider, "change-value", G_CALLBACK(onSliderChange), nullptr);
    g_signal_connect(browse, "clicked", G_CALLBACK(onBrowse), nullptr);
    g_signal_connect(ok, "clicked", G_CALLBACK(onButton), GINT_TO_POINTER(GTK_RESPONSE_OK));
    g_signal_connect(cancel, "clicked", G_CALLBACK(onButton), GINT_TO_POINTER(GTK_RESPONSE_CANCEL));

    // OK is the default: Return from anywhere, the slider included, accepts.
    gtk_widget_set_can_default(ok, TRUE);
    gtk_widget_grab_default(ok);
    gtk_widget_show_all(view.window);
    showPath();
    // The slider starts with the focus so arrow keys move it at once.
    gtk_widget_grab_focus(view.slider);
    view.preview->start(view.model.previewPath);
}

}  // namespace

void showConfigDialog() {
    if (!displayNamed() || !gtk_init_check(nullptr, nullptr)) {
        const std::string text = describeSettingsWithoutDisplay(settings, settingsFilePath());
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        return;
    }
    view = ConfigDialogView{};
    // Ended from outside, the dialog still closes as Cancel: the preview goes with it.
    const guint signalSources[] = {g_unix_signal_add(SIGTERM, onTerminate, nullptr),
                                   g_unix_signal_add(SIGINT, onTerminate, nullptr),
                                   g_unix_signal_add(SIGHUP, onTerminate, nullptr)};
    openConfigDialog(view.model, settings, findDefaultPictures());
    buildDialog();

    while (!view.terminated) {
        const gint response = gtk_dialog_run(GTK_DIALOG(view.window));
        if (view.terminated) break;
        // Escape and the close box arrive as a deleted dialog: both cancel.
        const DialogButton button =
            response == GTK_RESPONSE_OK ? DialogButton::ok : DialogButton::cancel;
        if (closeConfigDialog(view.model, button, settings, [] { return saveSettings(); })) break;
        // Not saved: say so, and leave the choice to try again or cancel.
        showMessage();
    }

    view.preview->stop();
    for (const guint source : signalSources) g_source_remove(source);
    gtk_widget_destroy(view.window);
    while (gtk_events_pending()) gtk_main_iteration();
    view = ConfigDialogView{};
}

}  // namespace gx
