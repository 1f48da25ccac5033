#include "ui/assets.h"

#include <windows.h>
#include <shlobj.h>

#include "app/state.h"
#include "common/handles_win.h"
#include "common/path.h"
#include "common/text_win.h"

void LoadInstallerAssets(InstallerState& state) {
    UniqueCoTaskString localAppData;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, localAppData.put())) &&
        localAppData) {
        state.installDir = JoinPath(FromWide(localAppData.get()), u"VarnokClient");
    } else {
        state.installDir = u"C:\\Games\\VarnokClient";
    }
    // The logo is loaded by the painter's asset loader once the window is drawn.
}

bool RenderPreview(InstallerState&, const std::u16string&) {
    // No painter yet: nothing can be written, which the entry point reports as exit code 2.
    return false;
}
