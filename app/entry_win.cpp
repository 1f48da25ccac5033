#include "app/entry_win.h"

#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <memory>
#include <vector>

#include "app/command_line.h"
#include "app/silent_install.h"
#include "app/state.h"
#include "app/window_win.h"
#include "common/handles_win.h"
#include "common/system_libraries_win.h"
#include "common/text_win.h"
#include "install/uninstaller.h"
#include "ui/assets.h"

namespace {

CommandLineOptions ReadCommandLine() {
    int count = 0;
    UniqueArgv argv(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::u16string> args;
    if (argv) {
        for (int i = 0; i < count; ++i) args.push_back(FromWide(argv.get()[i]));
    }
    return ParseCommandLine(args);
}

}  // namespace

int RunInstallerProcess(HINSTANCE instance) {
    // Before anything can load a library by name (COM, GDI+, the shell, the uninstaller's work):
    // a copy of a system library planted in the folder the installer was started from must never
    // be the one loaded. Our own loads name the system folder whatever this returns.
    RestrictLibrarySearchToSystemFolder();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const CommandLineOptions options = ReadCommandLine();

    if (options.uninstall) {
        const int code = RunUninstaller(options.silent);
        CoUninitialize();
        return code;
    }

    // Without a person there is nothing to draw: no GDI+, no logo, no window. A preview asked
    // for beside --silent is still only a preview.
    if (options.silent && options.previewPath.empty()) {
        auto state = std::make_unique<InstallerState>();
        state->instance = reinterpret_cast<InstanceHandle>(instance);
        state->installDir = DefaultInstallDir();
        const int code = RunSilentInstall(*state, options);
        CoUninitialize();
        return code;
    }

    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartupInput input;  // version 1, no callback, background thread, codecs on
    if (Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr) != Gdiplus::Ok) {
        CoUninitialize();
        return 1;
    }

    // The state outlives the window and the joined worker; it lives on the heap because it is
    // large and the worker holds a pointer to it.
    auto state = std::make_unique<InstallerState>();
    state->instance = reinterpret_cast<InstanceHandle>(instance);
    LoadInstallerAssets(*state);

    int exitCode = 0;
    if (!options.previewPath.empty()) {
        ApplyPreviewPreset(*state, options.stageName);
        exitCode = RenderPreview(*state, options.previewPath) ? 0 : 2;
    } else {
        exitCode = RunWindowMode(*state);
    }

    state->logo.reset();
    Gdiplus::GdiplusShutdown(gdiplusToken);
    CoUninitialize();
    state->cancelRequested.exchange(true);
    if (state->worker.joinable()) state->worker.join();
    return exitCode;
}
