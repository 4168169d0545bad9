// Stand-in agent: records its run and exits as its plan says.
#include "standin.h"

int main(int argc, char** argv, char** envp) {
  return standin::runStandin(argc, argv, envp);
}
