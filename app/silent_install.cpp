#include "app/silent_install.h"

#include <optional>

#include "app/browse_rules.h"
#include "app/exit_codes.h"
#include "app/install_start.h"
#include "app/unattended_log.h"
#include "common/text.h"
#include "install/registration.h"

void ApplyUnattendedChoices(InstallerState& state, const CommandLineOptions& options,
                            const std::optional<std::u16string>& registeredFolder) {
    state.unattended = true;
    state.launchAfterInstall = false;
    if (options.noDesktopShortcut) state.createDesktopShortcut = false;
    if (options.installDir) {
        // Browse drops a refused folder and keeps the old one; without a person that would
        // install somewhere nobody asked for. The worker refuses the same text with the same
        // rules instead, so the run ends on the folder message and its exit code.
        std::optional<std::u16string> folder =
            InstallDirForChosenFolder(Utf16ToUtf8(*options.installDir));
        state.installDir = folder ? std::move(*folder) : *options.installDir;
    } else if (registeredFolder) {
        state.installDir = *registeredFolder;
    }
}

int RunSilentInstall(InstallerState& state, const CommandLineOptions& options, UnattendedLog& log) {
    ApplyUnattendedChoices(state, options,
                           options.installDir ? std::nullopt : RegisteredInstallFolder());
    WriteLogLine(log, u"folder: " + state.installDir);
    state.log = &log;
    StartInstall(state);
    // No window takes the worker's messages (the state has none, so none are posted): the end is
    // whatever block the worker published last, once it has returned.
    if (state.worker.joinable()) state.worker.join();
    state.log = nullptr;
    return ExitCodeForInstallEnd(SnapshotProgress(state));
}
