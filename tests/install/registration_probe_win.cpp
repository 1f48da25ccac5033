// Test helper: `register <install folder> <version> <download bytes>` registers the client as an
// install into that folder would; `unregister` removes both registration trees.
#include <windows.h>

#include <cwchar>
#include <string>

#include "common/text.h"
#include "common/text_win.h"
#include "install/registration.h"

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wstring(argv[1]) == L"register") {
        const std::u16string folder = FromWide(argv[2]);
        RegisterClient(folder, folder + u"\\VarnokClient.exe", folder + u"\\Uninstall.exe",
                       Utf16ToUtf8(FromWide(argv[3])), std::wcstoull(argv[4], nullptr, 10));
        return 0;
    }
    if (argc == 2 && std::wstring(argv[1]) == L"unregister") {
        RegDeleteTreeW(HKEY_CURRENT_USER, Wz(std::u16string(kUninstallEntryKey)));
        RegDeleteTreeW(HKEY_CURRENT_USER, Wz(std::u16string(kUrlProtocolKey)));
        return 0;
    }
    return 2;
}
