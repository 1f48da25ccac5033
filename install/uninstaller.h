// The --uninstall mode: removes what an install created. Returns the process exit code.
#pragma once

int RunUninstaller();
