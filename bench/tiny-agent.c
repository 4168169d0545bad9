/* An agent that exits at once, so that what the benchmark times is process
 * start-up, not a shell's. */
int main(void) { return 0; }
