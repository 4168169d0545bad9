// Modal message dialogs. GTK 2 is loaded only when the first dialog is
// shown; without it, or without a display, the message goes to stderr.
#ifndef LAUNCHER_UIGTK_H_
#define LAUNCHER_UIGTK_H_

enum { MSG_KIND_INFO = 1, MSG_KIND_WARNING = 2, MSG_KIND_ERROR = 3 };

void displayMessage(const char* text, const char* title, int kind, int argc,
                    char** argv);
void displayMessage(const char* text, const char* title, int argc, char** argv);

#endif  // LAUNCHER_UIGTK_H_
