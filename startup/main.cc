// Process entry of the installer. The arguments are not used: the command line is read
// from the process itself, so that every part of the program sees the same one.
#include <windows.h>

#include "startup/entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return installer::RunLiteInstaller(); }
