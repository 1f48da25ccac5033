// Starts one command line the way winget and other deployment tools start an installer or a
// QuietUninstallString (CreateProcessW with the whole line), waits for that process alone and
// prints its exit code as "exit <code>": all 32 bits, which a Unix exit status cannot carry
// (1618 would arrive as 82). Exit code 3 when the process cannot be started.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/handles_win.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    std::wstring line = argv[1];  // CreateProcessW may write into the line it is given
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return 3;
    const UniqueHandleKernel thread(started.hThread);
    const UniqueHandleKernel process(started.hProcess);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code)) return 3;
    std::printf("exit %lu\n", static_cast<unsigned long>(code));
    return 0;
}
