// Prints the clipboard's Unicode text as UTF-8, as another program pasting it would get it.
// Exit code 3 when the clipboard holds no text.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "common/handles_win.h"
#include "common/text.h"
#include "common/text_win.h"

int wmain() {
    const UniqueClipboard clipboard = OpenClipboardFor(nullptr);
    if (!clipboard) return 2;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (!data) return 3;
    const auto* text = static_cast<const wchar_t*>(GlobalLock(data));
    if (!text) return 3;
    const std::string utf8 = Utf16ToUtf8(FromWide(text));
    GlobalUnlock(data);
    _setmode(_fileno(stdout), _O_BINARY);  // the text's own line ends, untranslated
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return 0;
}
