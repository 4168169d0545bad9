/* Test-only GTK module, built once against GTK 2 and once against GTK 3,
 * loaded into the process under test through GTK_MODULES. When a message dialog is mapped it reads the dialog back as
 * the user would see it, appends that to the file named by
 * DIALOG_PROBE_REPORT, optionally saves a picture of it to the PNG file named
 * by DIALOG_PROBE_SHOT, and then presses the dialog's Close button.
 *
 * Report, one record per dialog, values escaped (\\ and \n): "dialog", then
 * "toolkit=" (the GTK major version that shows the dialog), "title=" (absent when the window has none), "type=" (info, warning,
 * question, error or other), "label=" for each visible label of the message
 * area, "button=" for each button of the action area, and "end".
 */
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Long enough for the window to have been drawn before a picture is taken. */
#define SHOT_DELAY_MS 400

static void put_value(FILE* out, const char* key, const char* value) {
  fprintf(out, "%s=", key);
  for (const char* p = value; *p; ++p) {
    if (*p == '\\') fputs("\\\\", out);
    else if (*p == '\n') fputs("\\n", out);
    else fputc(*p, out);
  }
  fputc('\n', out);
}

struct walk {
  FILE* out;
  GtkWidget* skip;
};

static void put_labels(GtkWidget* widget, gpointer data) {
  struct walk* walk = data;
  if (widget == walk->skip || !gtk_widget_get_visible(widget)) return;
  if (GTK_IS_LABEL(widget)) {
    put_value(walk->out, "label", gtk_label_get_text(GTK_LABEL(widget)));
  } else if (GTK_IS_CONTAINER(widget)) {
    gtk_container_forall(GTK_CONTAINER(widget), put_labels, walk);
  }
}

/* A stock button holds its text in a label somewhere below it. */
static void find_label(GtkWidget* widget, gpointer data) {
  const char** text = data;
  if (*text) return;
  if (GTK_IS_LABEL(widget)) *text = gtk_label_get_text(GTK_LABEL(widget));
  else if (GTK_IS_CONTAINER(widget))
    gtk_container_forall(GTK_CONTAINER(widget), find_label, data);
}

static void save_picture(GtkWidget* dialog, const char* path) {
  GdkWindow* window = gtk_widget_get_window(dialog);
  gdk_window_process_all_updates();
  gdk_flush();
#if GTK_CHECK_VERSION(3, 0, 0)
  GdkPixbuf* picture = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                  gdk_window_get_height(window));
#else
  int width = 0, height = 0;
  gdk_drawable_get_size(window, &width, &height);
  GdkPixbuf* picture = gdk_pixbuf_get_from_drawable(NULL, window, NULL, 0, 0, 0, 0, width, height);
#endif
  if (!picture || !gdk_pixbuf_save(picture, path, "png", NULL, NULL))
    fprintf(stderr, "dialog_probe: cannot save %s\n", path);
  if (picture) g_object_unref(picture);
}

static gboolean read_back(gpointer data) {
  GtkWidget* dialog = data;
  const char* report = getenv("DIALOG_PROBE_REPORT");
  FILE* out = report ? fopen(report, "a") : NULL;
  if (!out) {
    fprintf(stderr, "dialog_probe: cannot write the report %s\n",
            report ? report : "(DIALOG_PROBE_REPORT unset)");
    out = stderr;
  }

  fputs("dialog\n", out);
  fprintf(out, "toolkit=%d\n", GTK_MAJOR_VERSION);
  const char* title = gtk_window_get_title(GTK_WINDOW(dialog));
  if (title) put_value(out, "title", title);
  GtkMessageType type = GTK_MESSAGE_OTHER;
  g_object_get(dialog, "message-type", &type, NULL);
  GEnumValue* type_value =
      g_enum_get_value(g_type_class_ref(GTK_TYPE_MESSAGE_TYPE), type);
  fprintf(out, "type=%s\n", type_value ? type_value->value_nick : "?");

  GtkWidget* actions = gtk_dialog_get_action_area(GTK_DIALOG(dialog));
  struct walk walk = {out, actions};
  put_labels(gtk_dialog_get_content_area(GTK_DIALOG(dialog)), &walk);

  GtkWidget* close_button = NULL;
  GList* buttons = gtk_container_get_children(GTK_CONTAINER(actions));
  for (GList* item = buttons; item; item = item->next) {
    const char* text = NULL;
    find_label(item->data, &text);
    put_value(out, "button", text ? text : "");
    if (!close_button && gtk_dialog_get_response_for_widget(
                             GTK_DIALOG(dialog), item->data) ==
                             GTK_RESPONSE_CLOSE)
      close_button = item->data;
  }
  g_list_free(buttons);
  fputs("end\n", out);
  if (out != stderr) fclose(out);

  const char* shot = getenv("DIALOG_PROBE_SHOT");
  if (shot && *shot) save_picture(dialog, shot);

  /* Press Close as a user would; a dialog without it is still ended, so a
   * broken dialog fails the test instead of hanging it. */
  if (close_button) gtk_button_clicked(GTK_BUTTON(close_button));
  else gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
  g_object_unref(dialog);
  return FALSE;
}

static gboolean on_map(GSignalInvocationHint* hint, guint n_values, const GValue* values,
                       gpointer data) {
  (void)hint, (void)n_values, (void)data;
  GObject* widget = g_value_get_object(&values[0]);
  if (GTK_IS_MESSAGE_DIALOG(widget)) {
    const char* shot = getenv("DIALOG_PROBE_SHOT");
    g_timeout_add(shot && *shot ? SHOT_DELAY_MS : 0, read_back,
                  g_object_ref(widget));
  }
  return TRUE;
}

G_MODULE_EXPORT void gtk_module_init(gint* argc, gchar*** argv) {
  (void)argc, (void)argv;
  /* Signals exist only once their class does. */
  g_type_class_ref(GTK_TYPE_WIDGET);
  g_signal_add_emission_hook(g_signal_lookup("map", GTK_TYPE_WIDGET), 0,
                             on_map, NULL, NULL);
}
