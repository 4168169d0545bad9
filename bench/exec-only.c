/* The least any launcher must do: be started, then replace itself with the
 * agent. Timing it against the agent alone shows the floor that a launcher
 * which is a process of its own cannot go below. */
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  execv(argv[1], argv + 1);
  return 255;
}
