/* A native installer for the benchmark: it does the least a real one must
 * for the launcher to find the agent afterwards, and no more. The agent
 * program is already in place; this records it:
 *   $HOME/.bench-agent/location                 location=$HOME/agent
 *   $HOME/agent/eclipse/configuration/config.ini zel.appDataLocation=$HOME/data
 *   $HOME/data/installed.xml                     the agent package line
 * The directories exist already. Options are accepted and ignored. */
#include <stdio.h>
#include <stdlib.h>

static int writeFile(const char* home, const char* name, const char* format,
                     const char* value) {
  char path[4096];
  if (snprintf(path, sizeof path, "%s/%s", home, name) >= (int)sizeof path) return 1;
  FILE* file = fopen(path, "w");
  if (file == NULL) {
    perror(path);
    return 1;
  }
  fprintf(file, format, value);
  return fclose(file) != 0;
}

int main(void) {
  const char* home = getenv("HOME");
  if (home == NULL || *home == '\0') return 1;
  char dir[4096];
  if (snprintf(dir, sizeof dir, "%s/agent", home) >= (int)sizeof dir) return 1;
  if (writeFile(home, ".bench-agent/location", "location=%s\n", dir)) return 1;
  if (snprintf(dir, sizeof dir, "%s/data", home) >= (int)sizeof dir) return 1;
  if (writeFile(home, "agent/eclipse/configuration/config.ini",
                "zel.appDataLocation=%s\n", dir)) return 1;
  return writeFile(home, "data/installed.xml",
                   "<installed>\n"
                   "  <package id='%s' version='1.0.0'/>\n"
                   "</installed>\n",
                   "com.telvane.quorvin.agent");
}
