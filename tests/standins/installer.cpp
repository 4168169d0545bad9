// Stand-in installer: records its run, installs an agent when its plan says
// so, and exits as its plan says.
#include "standin.h"

int main(int argc, char** argv, char** envp) {
  return standin::runStandin(argc, argv, envp);
}
