/* A GTK module that only leaves a trace: it creates the file named by
 * DIALOG_TRACE_FILE when a toolkit loads it. Needs no toolkit headers, so one
 * source serves both toolkits and both architectures. */
#include <stdio.h>
#include <stdlib.h>

void gtk_module_init(int* argc, char*** argv) {
  (void)argc;
  (void)argv;
  const char* path = getenv("DIALOG_TRACE_FILE");
  FILE* trace = path ? fopen(path, "w") : NULL;
  if (trace) fclose(trace);
}
