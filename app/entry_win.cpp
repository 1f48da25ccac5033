#include "app/entry_win.h"

#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <memory>
#include <vector>

#include "app/command_line.h"
#include "app/exit_codes.h"
#include "app/silent_install.h"
#include "app/unattended_log.h"
#include "app/state.h"
#include "app/window_win.h"
#include "common/handles_win.h"
#include "common/own_path.h"
#include "common/system_libraries_win.h"
#include "common/text_win.h"
#include "install/uninstaller.h"
#include "ui/assets.h"

namespace {

std::vector<std::u16string> ReadArguments() {
    int count = 0;
    UniqueArgv argv(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::u16string> args;
    if (argv) {
        for (int i = 0; i < count; ++i) args.push_back(FromWide(argv.get()[i]));
    }
    return args;
}

// A run without a person asked for a record of itself: the file is made before anything else
// is done, and a run that cannot make it does nothing, for it was told to leave a record.
bool StartLog(UnattendedLog& log, const CommandLineOptions& options,
              const std::vector<std::u16string>& args) {
    if (!options.silent || !options.logPath) return true;
    uint32_t error = 0;
    if (!OpenUnattendedLog(log, *options.logPath, error)) return false;
    WriteLogLine(log,
                 u"Varnok Client Setup " + g_ownExecutablePath() + u" " + DescribeArguments(args));
    return true;
}

}  // namespace

int RunInstallerProcess(HINSTANCE instance) {
    // Before anything can load a library by name (COM, GDI+, the shell, the uninstaller's work):
    // a copy of a system library planted in the folder the installer was started from must never
    // be the one loaded. Our own loads name the system folder whatever this returns.
    RestrictLibrarySearchToSystemFolder();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<std::u16string> args = ReadArguments();
    const CommandLineOptions options = ParseCommandLine(args);
    UnattendedLog log;
    const std::optional<int> refused = RefusedRunCode(options);
    if (refused || !StartLog(log, options, args)) {
        CoUninitialize();
        return refused ? *refused : kExitInvalidCommandLine;
    }
    // The last line of a record, whatever the run ends with.
    const auto finish = [&log](int code) {
        WriteLogLine(log, u"exit code: " + FromWide(std::to_wstring(code)));
        CoUninitialize();
        return code;
    };

    if (options.uninstall) return finish(RunUninstaller(options.silent, log));

    // Without a person there is nothing to draw: no GDI+, no logo, no window. A preview asked
    // for beside --silent is still only a preview.
    if (options.silent && options.previewPath.empty()) {
        auto state = std::make_unique<InstallerState>();
        state->instance = reinterpret_cast<InstanceHandle>(instance);
        state->installDir = DefaultInstallDir();
        return finish(RunSilentInstall(*state, options, log));
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
