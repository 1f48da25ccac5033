// The installer's run modes, read from the arguments after the executable's path.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct CommandLineOptions {
    bool uninstall = false;
    std::u16string previewPath;  // empty: window mode
    std::u16string stageName = u"ready";
    // No person there: the install (or with --uninstall, the removal) runs without showing
    // anything and reports only through the exit code. The two choices below count only with it;
    // the window keeps its own defaults and controls.
    bool silent = false;
    std::optional<std::u16string> installDir;  // the folder as given, before Browse's rules
    bool noDesktopShortcut = false;
};

// Arguments compare as whole strings, exactly and case-sensitively; args[0] is skipped. The value
// after --render-preview, --stage or --install-dir is taken as it stands, even when it starts
// with "--"; any of the three as the last argument is ignored, as is every unknown argument.
CommandLineOptions ParseCommandLine(const std::vector<std::u16string>& args);

struct InstallerState;

// Fills a freshly initialised state with the preview preset of a stage name: "installing",
// "done" and "error" as spelled; anything else leaves the Ready screen.
void ApplyPreviewPreset(InstallerState& state, const std::u16string& stageName);
