// Modal message dialogs through GTK 2, or GTK 3 where GTK 2 cannot show one.
// The toolkit is opened with dlopen when the first message is shown: the
// launcher does not link against it, a run that shows nothing never pays for
// loading it, and a machine without either toolkit (or a session without a
// display) still gets the message, on standard error.
#include "uiGTK.h"

#include <dlfcn.h>
#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The few toolkit declarations that the dialog needs, with the values that
// GTK 2 and GTK 3 both document, so that building the launcher needs no GTK
// headers.
typedef void GtkWidget;
enum { GTK_DIALOG_DESTROY_WITH_PARENT = 1 << 1 };
enum { GTK_MESSAGE_INFO = 0, GTK_MESSAGE_WARNING = 1, GTK_MESSAGE_ERROR = 3 };
enum { GTK_BUTTONS_CLOSE = 2 };

const char kGtk2Library[] = "libgtk-x11-2.0.so.0";
const char kGtk3Library[] = "libgtk-3.so.0";
const char kXlibLibrary[] = "libX11.so.6";

// A title that ends in a colon, ASCII or full-width, takes no second one.
const char kFullWidthColon[] = "\xEF\xBC\x9A";

struct Toolkit {
  void (*disable_setlocale)();
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

bool isNamed(const char* variable) {
  const char* value = getenv(variable);
  return value != nullptr && *value != '\0';
}

// GTK 2 draws only on X. Whether its display opens is asked of Xlib, which
// both toolkits load anyway, so that GTK 2 is loaded only where it can show
// the dialog and GTK 3 remains possible everywhere else.
bool xDisplayOpens() {
  if (!isNamed("DISPLAY")) return false;
  void* xlib = dlopen(kXlibLibrary, RTLD_NOW | RTLD_LOCAL);
  if (xlib == nullptr) return false;
  void* (*openDisplay)(const char* name);
  int (*closeDisplay)(void* display);
  if (!resolve(xlib, "XOpenDisplay", &openDisplay) ||
      !resolve(xlib, "XCloseDisplay", &closeDisplay)) {
    return false;
  }
  void* display = openDisplay(nullptr);
  if (display == nullptr) return false;
  closeDisplay(display);
  return true;
}

// Opens the display with a loaded toolkit. The library stays loaded even when
// this fails: its start-up code has run by then and unloading it is not safe.
bool initialise(void* library, char* program) {
  if (!resolve(library, "gtk_disable_setlocale", &gtk.disable_setlocale) ||
      !resolve(library, "gtk_init_check", &gtk.init_check) ||
      !resolve(library, "gtk_message_dialog_new", &gtk.message_dialog_new) ||
      !resolve(library, "gtk_window_set_title", &gtk.window_set_title) ||
      !resolve(library, "gtk_dialog_run", &gtk.dialog_run) ||
      !resolve(library, "gtk_widget_destroy", &gtk.widget_destroy) ||
      !resolve(library, "gtk_events_pending", &gtk.events_pending) ||
      !resolve(library, "gtk_main_iteration", &gtk.main_iteration)) {
    return false;
  }
  // The catalogue has set the locale from the environment already; the
  // toolkit's own attempt would only complain about an uninstalled one.
  gtk.disable_setlocale();
  // The program name alone: the rest of the command line is the caller's,
  // and the toolkit would act on options such as --gtk-module in it, which
  // loads code into the launcher. The toolkit may keep the array.
  static char* toolkitArgv[2];
  toolkitArgv[0] = program;
  toolkitArgv[1] = nullptr;
  int toolkitArgc = program != nullptr ? 1 : 0;
  char** toolkitArgs = toolkitArgv;
  // gtk_init would end the process when no display can be opened; the
  // checking variant lets the message fall back to standard error instead.
  return gtk.init_check(&toolkitArgc, &toolkitArgs) != 0;
}

// The two toolkits must never share a process (GTK 3 aborts beside GTK 2's
// symbols), so the choice is made before either is loaded: GTK 2 where an X
// display opens and the library loads, else GTK 3 where a display is named.
bool startToolkit(char* program) {
  bool onX = xDisplayOpens();
  if (onX) {
    void* gtk2 = dlopen(kGtk2Library, RTLD_NOW | RTLD_LOCAL);
    if (gtk2 != nullptr) return initialise(gtk2, program);
  }
  if (!onX && !isNamed("WAYLAND_DISPLAY")) return false;
  void* gtk3 = dlopen(kGtk3Library, RTLD_NOW | RTLD_LOCAL);
  return gtk3 != nullptr && initialise(gtk3, program);
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

bool endsWith(const char* text, size_t length, const char* end) {
  size_t endLength = strlen(end);
  return length >= endLength &&
         memcmp(text + length - endLength, end, endLength) == 0;
}

bool isAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// The catalogue is UTF-8; a terminal under, say, fr_FR.ISO-8859-1 shows
// those bytes garbled. Characters the locale's set lacks are transliterated.
// The C locale's ASCII is left alone: the catalogue is English there, and
// the only other bytes are the user's own paths, best shown as they are.
// So are bytes that are not UTF-8 at all (a path in the locale's own set).
// The converter's three functions are looked up here, where one is needed:
// imported, they would cost every run their binding at start.
std::string inLocaleCharset(const std::string& text) {
  if (isAscii(text)) return text;
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr || strcmp(codeset, "UTF-8") == 0 ||
      strcmp(codeset, "ANSI_X3.4-1968") == 0) {
    return text;
  }
  iconv_t (*openConverter)(const char* to, const char* from);
  size_t (*convert)(iconv_t converter, char** in, size_t* inLeft, char** out, size_t* outLeft);
  int (*closeConverter)(iconv_t converter);
  if (!resolve(RTLD_DEFAULT, "iconv_open", &openConverter) ||
      !resolve(RTLD_DEFAULT, "iconv", &convert) ||
      !resolve(RTLD_DEFAULT, "iconv_close", &closeConverter)) {
    return text;
  }
  iconv_t converter = openConverter((std::string(codeset) + "//TRANSLIT").c_str(), "UTF-8");
  // Its failure value is (iconv_t)-1.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  if (converter == reinterpret_cast<iconv_t>(-1)) return text;
  std::string result;
  char buffer[256];
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  while (inLeft > 0) {
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    size_t done = convert(converter, &in, &inLeft, &out, &outLeft);
    int error = errno;
    result.append(buffer, sizeof buffer - outLeft);
    if (done != static_cast<size_t>(-1) || error == E2BIG) continue;
    // Not UTF-8 here (EILSEQ, or EINVAL at the end): the byte as it is.
    result.push_back(*in);
    ++in;
    --inLeft;
  }
  // A stateful set (ISO-2022-JP) goes back to its initial state.
  char* out = buffer;
  size_t outLeft = sizeof buffer;
  if (convert(converter, nullptr, nullptr, &out, &outLeft) != static_cast<size_t>(-1)) {
    result.append(buffer, sizeof buffer - outLeft);
  }
  closeConverter(converter);
  return result;
}

// "Title: text", one line end, for a person reading a terminal, in the
// locale's character set.
void printMessage(const char* text, const char* title) {
  size_t titleLength = strlen(title);
  const char* separator = ": ";
  if (titleLength == 0) {
    separator = "";
  } else if (endsWith(title, titleLength, ":") ||
             endsWith(title, titleLength, kFullWidthColon)) {
    separator = " ";
  }
  const char* lineEnd = endsWith(text, strlen(text), "\n") ? "" : "\n";
  std::string line = std::string(title) + separator + text + lineEnd;
  fputs(inLocaleCharset(line).c_str(), stderr);
}

}  // namespace

void displayMessage(const char* text, const char* title, int kind, int argc,
                    char** argv) {
  if (text == nullptr) text = "";
  if (title == nullptr) title = "";
  if (toolkitState == TOOLKIT_UNTRIED) {
    char* program = argc > 0 && argv != nullptr ? argv[0] : nullptr;
    toolkitState =
        startToolkit(program) ? TOOLKIT_READY : TOOLKIT_UNAVAILABLE;
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
    printMessage(text, title);
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
