// Modal message dialogs. A toolkit, GTK 2 or else GTK 3, is loaded only when
// the first dialog is shown; where neither can show it, the message goes to
// standard error. The toolkit gets argv[0] alone of the command line.
#ifndef LAUNCHER_UIGTK_H_
#define LAUNCHER_UIGTK_H_

enum { MSG_KIND_INFO = 1, MSG_KIND_WARNING = 2, MSG_KIND_ERROR = 3 };

void displayMessage(const char* text, const char* title, int kind, int argc,
                    char** argv);
void displayMessage(const char* text, const char* title, int argc, char** argv);

#endif  // LAUNCHER_UIGTK_H_
