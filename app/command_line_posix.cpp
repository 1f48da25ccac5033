#include "app/command_line.h"

bool RunsAsLocalSystem() {
    return false;
}
