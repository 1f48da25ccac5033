#include "app/folder_picker_win.h"

#include <shobjidl.h>

#include "common/handles_win.h"
#include "common/text.h"
#include "common/text_win.h"

std::optional<std::string> PickFolder(HWND owner, std::u16string_view title) {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(dialog.put()))))
        return std::nullopt;

    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    const std::u16string titleText(title);
    dialog->SetTitle(Wz(titleText));
    if (FAILED(dialog->Show(owner))) return std::nullopt;  // includes the user's cancel

    ComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(item.put())) || !item) return std::nullopt;
    UniqueCoTaskString name;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, name.put())) || !name) return std::nullopt;
    return Utf16ToUtf8(FromWide(name.get()));
}
