// Holds one file open for another test process: file_holder <path> <share mode> <ready event>
// <release event>. Opens the file for reading and writing with the given share mode, signals the
// ready event, and keeps the handle until the release event (or a minute) has passed.
#include <windows.h>

#include <cwchar>

#include "common/handles_win.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 2;
    const DWORD share = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    UniqueFile file(CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 3;
    UniqueHandleKernel ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]));
    UniqueHandleKernel release(OpenEventW(SYNCHRONIZE, FALSE, argv[4]));
    if (!ready || !release) return 4;
    SetEvent(ready.get());
    WaitForSingleObject(release.get(), 60000);
    return 0;
}
