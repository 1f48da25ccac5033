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
    std::optional<std::u16string> logPath;  // --log: a record of the unattended run
    // What a run without a person must not guess at: the first argument that was not understood
    // ("unknown_argument"), an option without its value ("missing_value") or with an empty one
    // ("empty_value"); "" when every argument was taken. Only --silent acts on it.
    std::string refusal;
    std::u16string refusedArgument;
};

// Arguments compare as whole strings, exactly and case-sensitively; args[0] is skipped. The value
// after --render-preview, --stage, --install-dir or --log is taken as it stands, even when it
// starts with "--"; any of them as the last argument is ignored, as is every unknown argument,
// and both are noted in `refusal`. A folder or log value that ends in one '"' loses it: that is
// what a quoted path ending in a backslash ("C:\Games\") arrives as.
CommandLineOptions ParseCommandLine(const std::vector<std::u16string>& args);

// Whether the run ends before anything is done, and with which code: an unattended run with a
// command line it did not understand; any run but a preview whose process is the machine's own
// account (LocalSystem), which would install into a profile nobody signs in to.
std::optional<int> RefusedRunCode(const CommandLineOptions& options);

// Whether the process's token user is LocalSystem (S-1-5-18); the host build has no such
// account and answers no. Replaceable, so tests can give the answer.
bool RunsAsLocalSystem();
using LocalSystemQueryFn = bool (*)();
extern LocalSystemQueryFn g_runsAsLocalSystem;

struct InstallerState;

// Fills a freshly initialised state with the preview preset of a stage name: "installing",
// "done" and "error" as spelled; anything else leaves the Ready screen.
void ApplyPreviewPreset(InstallerState& state, const std::u16string& stageName);
