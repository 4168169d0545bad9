// Shows messages through displayMessage the way the launcher does, for the
// dialog tests:
//   dialog_driver show KIND TITLE TEXT [ARG...]  one message; the saved
//                                                command line is setup ARG...
//   dialog_driver short TITLE TEXT               the form without a kind
//   dialog_driver retry KIND TITLE TEXT          one message with DISPLAY
//                                                unset, then one with it back
// Afterwards prints the saved command line, one entry a line, so that a test
// can tell whether the toolkit changed it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "uiGTK.h"

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  std::vector<char*> saved = {const_cast<char*>("setup")};
  for (int i = 5; mode == "show" && i < argc; ++i) saved.push_back(argv[i]);
  int savedArgc = static_cast<int>(saved.size());
  saved.push_back(nullptr);
  if (mode == "short" && argc == 4) {
    displayMessage(argv[3], argv[2], savedArgc, saved.data());
  } else if (mode == "show" && argc >= 5) {
    displayMessage(argv[4], argv[3], atoi(argv[2]), savedArgc, saved.data());
  } else if (mode == "retry" && argc == 5) {
    std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
    unsetenv("DISPLAY");
    displayMessage(argv[4], argv[3], atoi(argv[2]), savedArgc, saved.data());
    setenv("DISPLAY", display.c_str(), 1);
    displayMessage(argv[4], argv[3], atoi(argv[2]), savedArgc, saved.data());
  } else {
    fprintf(stderr, "usage: dialog_driver show|short|retry ...\n");
    return 2;
  }
  for (int i = 0; i < savedArgc; ++i) printf("%s\n", saved[i] ? saved[i] : "(null)");
  return 0;
}
