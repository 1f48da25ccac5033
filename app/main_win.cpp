#include <windows.h>

#include <cstdlib>

#include "app/entry_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return RunInstallerProcess(instance);
}

// libstdc++'s default terminate handler writes the uncaught exception's demangled type to
// standard error, which a GUI program does not have, and brings the whole demangler with it
// (about 45 KB, a tenth of the installer). Defined here, it ends the process the same way, with
// abort, and the library's version and the demangler are never linked.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx
