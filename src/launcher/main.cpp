#include "install.h"

// Generated with the build's version (cmake/versionString.cpp.in); only the
// programs link it, not the units their tests share.
extern const char kLauncherVersion[];

int main(int argc, char** argv) { return launcherMain(argc, argv, kLauncherVersion); }
