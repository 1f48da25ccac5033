#include "install/uninstaller.h"

int RunUninstaller() {
    // The removal steps land with the uninstaller; until then the mode only ends cleanly.
    return 0;
}
