#include "app/command_line.h"

#include "app/state.h"

CommandLineOptions ParseCommandLine(const std::vector<std::u16string>& args) {
    CommandLineOptions options;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::u16string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == u"--uninstall") {
            options.uninstall = true;
        } else if (arg == u"--render-preview" && hasValue) {
            options.previewPath = args[++i];
        } else if (arg == u"--stage" && hasValue) {
            options.stageName = args[++i];
        } else if (arg == u"--silent") {
            options.silent = true;
        } else if (arg == u"--install-dir" && hasValue) {
            options.installDir = args[++i];
        } else if (arg == u"--no-desktop-shortcut") {
            options.noDesktopShortcut = true;
        }
    }
    return options;
}

void ApplyPreviewPreset(InstallerState& state, const std::u16string& stageName) {
    InstallProgress& p = state.progress;  // no worker exists in preview mode
    if (stageName == u"installing") {
        p.stage = InstallStage::Installing;
        p.statusText = u"Downloading";
        p.bytesDone = 1850000;
        p.bytesTotal = 3000000;
        p.bytesPerSecond = 14889779.2;
    } else if (stageName == u"done") {
        p.stage = InstallStage::Done;
        p.version = "1.0.1";
    } else if (stageName == u"error") {
        p.stage = InstallStage::Error;
        p.errorText = u"Could not connect to server. Check your internet.";
    }
}
