/* Stands in for a toolkit library that lacks most of what the dialog needs:
 * it exports only the initialisation entry point. */
int gtk_init_check(int* argc, char*** argv) {
  (void)argc;
  (void)argv;
  return 1;
}
