// The process entry of the installer: reads the command line, picks the mode, returns the exit
// code.
#pragma once

#include <windows.h>

int RunInstallerProcess(HINSTANCE instance);
