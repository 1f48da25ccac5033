// Prints a folder's access list as SDDL, read back the way Windows answers any program
// (GetNamedSecurityInfoW): who may write into what an install made. Exit code 3 when it cannot
// be read.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

#include "common/handles_win.h"
#include "common/text.h"
#include "common/text_win.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(argv[1], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return 3;
    const UniqueLocalMemory ownedDescriptor(descriptor);
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return 3;
    const UniqueLocalMemory ownedText(text);
    std::printf("%s\n", Utf16ToUtf8(FromWide(text)).c_str());
    return 0;
}
