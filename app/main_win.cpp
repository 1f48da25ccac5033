#include <windows.h>

#include "app/entry_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return RunInstallerProcess(instance);
}
