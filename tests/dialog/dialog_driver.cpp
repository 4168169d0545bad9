// Shows messages through displayMessage the way the launcher does, for the
// dialog tests:
//   dialog_driver show KIND TITLE TEXT [ARG...]  one message; the saved
//                                                command line is setup ARG...
//   dialog_driver short TITLE TEXT               the form without a kind
//   dialog_driver retry KIND TITLE TEXT          one message with DISPLAY
//                                                unset, then one with the
//                                                DISPLAY the driver was given
// Afterwards prints the saved command line, one entry a line, so that a test
// can tell whether the toolkit changed it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "uiGTK.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: dialog_driver show|short|retry ...\n");
    return 2;
  }
  const char* mode = argv[1];
  int savedArgc = 1;
  char* saved[64] = {const_cast<char*>("setup")};
  if (strcmp(mode, "short") == 0) {
    displayMessage(argv[3], argv[2], savedArgc, saved);
  } else if (argc >= 5 && strcmp(mode, "show") == 0) {
    for (int i = 5; i < argc && savedArgc < 63; ++i) saved[savedArgc++] = argv[i];
    displayMessage(argv[4], argv[3], atoi(argv[2]), savedArgc, saved);
  } else if (argc >= 5 && strcmp(mode, "retry") == 0) {
    const char* display = getenv("DISPLAY");
    std::string kept = display ? display : "";
    unsetenv("DISPLAY");
    displayMessage(argv[4], argv[3], atoi(argv[2]), savedArgc, saved);
    setenv("DISPLAY", kept.c_str(), 1);
    displayMessage(argv[4], argv[3], atoi(argv[2]), savedArgc, saved);
  } else {
    fprintf(stderr, "dialog_driver: unknown mode %s\n", mode);
    return 2;
  }
  for (int i = 0; i < savedArgc; ++i) printf("%s\n", saved[i] ? saved[i] : "(null)");
  return 0;
}
