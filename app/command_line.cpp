#include "app/command_line.h"

#include "app/exit_codes.h"
#include "app/state.h"

namespace {

void Refuse(CommandLineOptions& options, const char* code, const std::u16string& argument) {
    if (!options.refusal.empty()) return;  // the first one is the one to fix first
    options.refusal = code;
    options.refusedArgument = argument;
}

// CommandLineToArgvW reads `\"` as an escaped quote, so the quoted "C:\Games\" that winget
// makes of an install path arrives as `C:\Games"`.
std::u16string WithoutQuoteLeftByQuoting(std::u16string value) {
    if (!value.empty() && value.back() == u'"' &&
        (value.size() < 2 || value[value.size() - 2] != u'"'))
        value.pop_back();
    return value;
}

}  // namespace

LocalSystemQueryFn g_runsAsLocalSystem = &RunsAsLocalSystem;

CommandLineOptions ParseCommandLine(const std::vector<std::u16string>& args) {
    CommandLineOptions options;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::u16string& arg = args[i];
        const bool valued = arg == u"--render-preview" || arg == u"--stage" ||
                            arg == u"--install-dir" || arg == u"--log";
        if (valued && i + 1 == args.size()) {
            Refuse(options, "missing_value", arg);
        } else if (valued) {
            std::u16string value = args[++i];
            if (arg == u"--install-dir" || arg == u"--log")
                value = WithoutQuoteLeftByQuoting(value);
            if (value.empty()) Refuse(options, "empty_value", arg);
            if (arg == u"--render-preview")
                options.previewPath = std::move(value);
            else if (arg == u"--stage")
                options.stageName = std::move(value);
            else if (arg == u"--install-dir")
                options.installDir = std::move(value);
            else
                options.logPath = std::move(value);
        } else if (arg == u"--uninstall") {
            options.uninstall = true;
        } else if (arg == u"--silent") {
            options.silent = true;
        } else if (arg == u"--no-desktop-shortcut") {
            options.noDesktopShortcut = true;
        } else {
            Refuse(options, "unknown_argument", arg);
        }
    }
    return options;
}

std::optional<int> RefusedRunCode(const CommandLineOptions& options) {
    if (options.silent && !options.refusal.empty()) return kExitInvalidCommandLine;
    const bool preview = !options.previewPath.empty() && !options.uninstall;
    if (!preview && g_runsAsLocalSystem()) return kExitRunAsSystem;
    return std::nullopt;
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
