#include "check.h"

int main(int argc, char** argv) { return launcherCheckMain(argc, argv); }
