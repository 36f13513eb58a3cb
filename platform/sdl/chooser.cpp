// Resolution chooser as a small GTK 3 window.
#include <gtk/gtk.h>

#include <vector>

#include "platform/platform.h"

namespace {

struct Chooser {
    std::vector<GtkWidget*> radios;
    GtkWidget* cancel;
    int32_t* choice;
    int result;
};

void finish(Chooser* c, int result) {
    if (c->result)
        return;
    c->result = result;
    if (result == 1) {
        for (size_t i = 0; i < c->radios.size(); ++i)
            if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->radios[i])))
                *c->choice = static_cast<int32_t>(i) + 1;
    }
    gtk_main_quit();
}

void onOk(GtkButton*, gpointer data) { finish(static_cast<Chooser*>(data), 1); }
void onCancel(GtkButton*, gpointer data) { finish(static_cast<Chooser*>(data), 2); }

void onRadio(GtkToggleButton* button, gpointer data) {
    Chooser* c = static_cast<Chooser*>(data);
    if (!gtk_toggle_button_get_active(button))
        return;
    for (size_t i = 0; i < c->radios.size(); ++i)
        if (GTK_WIDGET(button) == c->radios[i])
            *c->choice = static_cast<int32_t>(i) + 1;
}

gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data) {
    finish(static_cast<Chooser*>(data), 2);
    return TRUE;
}

gboolean onKey(GtkWidget* widget, GdkEventKey* event, gpointer data) {
    Chooser* c = static_cast<Chooser*>(data);
    if (event->keyval == GDK_KEY_Escape) {
        finish(c, 2);
        return TRUE;
    }
    if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) {
        // Enter presses the focused button; on a radio button, the default one.
        finish(c, gtk_window_get_focus(GTK_WINDOW(widget)) == c->cancel ? 2 : 1);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int32_t platRunChooser(const PlatChooserRow* rows, int32_t count, int32_t* choice) {
    const bool hasDisplay = g_getenv("DISPLAY") || g_getenv("WAYLAND_DISPLAY");
    if (!hasDisplay || !gtk_init_check(nullptr, nullptr)) {
        platLog("tumble: no display: set DISPLAY or WAYLAND_DISPLAY");
        fatalError("Cant do createwindow 1");
    }

    Chooser c{};
    c.choice = choice;

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Select your resolution");
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_move(GTK_WINDOW(window), 300, 200);
    gtk_container_set_border_width(GTK_CONTAINER(window), 10);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_container_add(GTK_CONTAINER(window), box);
    GSList* group = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        GtkWidget* radio = gtk_radio_button_new_with_label(group, rows[i].label);
        c.radios.push_back(radio);
        group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(radio));
        gtk_box_pack_start(GTK_BOX(box), radio, FALSE, FALSE, 0);
        // A radio group always has one active button: start on the default row.
        if (rows[i].isDefault)
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(radio), TRUE);
    }
    for (GtkWidget* radio : c.radios)
        g_signal_connect(radio, "toggled", G_CALLBACK(onRadio), &c);

    GtkWidget* ok = gtk_button_new_with_label("Ok, let's go!");
    GtkWidget* cancel = gtk_button_new_with_label("Cancel");
    c.cancel = cancel;
    gtk_box_pack_start(GTK_BOX(box), ok, FALSE, FALSE, 4);
    gtk_box_pack_start(GTK_BOX(box), cancel, FALSE, FALSE, 0);
    gtk_widget_set_can_default(ok, TRUE);
    gtk_window_set_default(GTK_WINDOW(window), ok);
    g_signal_connect(ok, "clicked", G_CALLBACK(onOk), &c);
    g_signal_connect(cancel, "clicked", G_CALLBACK(onCancel), &c);
    g_signal_connect(window, "delete-event", G_CALLBACK(onDelete), &c);
    g_signal_connect(window, "key-press-event", G_CALLBACK(onKey), &c);

    gtk_widget_show_all(window);
    gtk_widget_grab_focus(ok);
    gtk_main();

    gtk_widget_destroy(window);
    while (gtk_events_pending())
        gtk_main_iteration();
    return c.result == 1 ? PLAT_CHOOSER_CONFIRMED : PLAT_CHOOSER_CANCELLED;
}
