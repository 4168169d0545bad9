// Modal message dialogs through GTK 2. The toolkit is opened with dlopen when
// the first message is shown: the launcher does not link against it, a run
// that shows nothing never pays for loading it, and a machine without it (or
// a session without a display) still gets the message, on standard error.
#include "uiGTK.h"

#include <dlfcn.h>

#include <cstdio>
#include <vector>

namespace {

// The few toolkit declarations that the dialog needs, with the values GTK 2
// documents, so that building the launcher needs no GTK headers.
typedef void GtkWidget;
enum { GTK_DIALOG_DESTROY_WITH_PARENT = 1 << 1 };
enum { GTK_MESSAGE_INFO = 0, GTK_MESSAGE_WARNING = 1, GTK_MESSAGE_ERROR = 3 };
enum { GTK_BUTTONS_CLOSE = 2 };

const char kToolkitLibrary[] = "libgtk-x11-2.0.so.0";

struct Toolkit {
  int (*init_check)(int* argc, char*** argv);
  GtkWidget* (*message_dialog_new)(GtkWidget* parent, int flags, int type,
                                   int buttons, const char* format, ...);
  void (*window_set_title)(GtkWidget* window, const char* title);
  int (*dialog_run)(GtkWidget* dialog);
  void (*widget_destroy)(GtkWidget* widget);
  int (*events_pending)();
  int (*main_iteration)();
};

enum ToolkitState { TOOLKIT_UNTRIED, TOOLKIT_READY, TOOLKIT_UNAVAILABLE };

ToolkitState toolkitState = TOOLKIT_UNTRIED;
Toolkit gtk;

template <typename Function>
bool resolve(void* library, const char* name, Function* function) {
  void* symbol = dlsym(library, name);
  *function = reinterpret_cast<Function>(symbol);
  return symbol != nullptr;
}

// Loads the toolkit and opens the display. The library stays loaded even when
// this fails: its start-up code has run by then and unloading it is not safe.
bool startToolkit(int argc, char** argv) {
  void* library = dlopen(kToolkitLibrary, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  if (!resolve(library, "gtk_init_check", &gtk.init_check) ||
      !resolve(library, "gtk_message_dialog_new", &gtk.message_dialog_new) ||
      !resolve(library, "gtk_window_set_title", &gtk.window_set_title) ||
      !resolve(library, "gtk_dialog_run", &gtk.dialog_run) ||
      !resolve(library, "gtk_widget_destroy", &gtk.widget_destroy) ||
      !resolve(library, "gtk_events_pending", &gtk.events_pending) ||
      !resolve(library, "gtk_main_iteration", &gtk.main_iteration)) {
    return false;
  }
  // The toolkit takes the options it understands out of the array it is
  // given; a copy keeps the caller's saved command line matching its count.
  // The toolkit may hold on to the array, so the copy is never released.
  static std::vector<char*> toolkitArgs;
  if (argv != nullptr) {
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
      toolkitArgs.push_back(argv[i]);
    }
  }
  int toolkitArgc = static_cast<int>(toolkitArgs.size());
  toolkitArgs.push_back(nullptr);
  char** toolkitArgv = toolkitArgs.data();
  // gtk_init would end the process when no display can be opened; the
  // checking variant lets the message fall back to standard error instead.
  return gtk.init_check(&toolkitArgc, &toolkitArgv) != 0;
}

int messageType(int kind) {
  switch (kind) {
    case MSG_KIND_WARNING:
      return GTK_MESSAGE_WARNING;
    case MSG_KIND_ERROR:
      return GTK_MESSAGE_ERROR;
    default:
      return GTK_MESSAGE_INFO;
  }
}

}  // namespace

void displayMessage(const char* text, const char* title, int kind, int argc,
                    char** argv) {
  if (text == nullptr) text = "";
  if (title == nullptr) title = "";
  if (toolkitState == TOOLKIT_UNTRIED) {
    toolkitState =
        startToolkit(argc, argv) ? TOOLKIT_READY : TOOLKIT_UNAVAILABLE;
  }
  GtkWidget* dialog = nullptr;
  if (toolkitState == TOOLKIT_READY) {
    // The text goes in as an argument, never as the format: a "%" in an
    // installer path is shown as it is.
    dialog = gtk.message_dialog_new(nullptr, GTK_DIALOG_DESTROY_WITH_PARENT,
                                    messageType(kind), GTK_BUTTONS_CLOSE, "%s",
                                    text);
  }
  if (dialog == nullptr) {
    fprintf(stderr, "%s: %s\n", title, text);
    return;
  }
  gtk.window_set_title(dialog, title);
  gtk.dialog_run(dialog);
  gtk.widget_destroy(dialog);
  // The destroyed window leaves the screen only once the toolkit has talked
  // to the display again; no main loop runs after this to do it.
  while (gtk.events_pending()) gtk.main_iteration();
}

void displayMessage(const char* text, const char* title, int argc,
                    char** argv) {
  displayMessage(text, title, MSG_KIND_INFO, argc, argv);
}
