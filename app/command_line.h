// The installer's three run modes, read from the arguments after the executable's path.
#pragma once

#include <string>
#include <vector>

struct CommandLineOptions {
    bool uninstall = false;
    std::u16string previewPath;  // empty: window mode
    std::u16string stageName = u"ready";
};

// Arguments compare as whole strings, exactly and case-sensitively; args[0] is skipped. The value
// after --render-preview or --stage is taken as it stands, even when it starts with "--".
CommandLineOptions ParseCommandLine(const std::vector<std::u16string>& args);

struct InstallerState;

// Fills a freshly initialised state with the preview preset of a stage name: "installing",
// "done" and "error" as spelled; anything else leaves the Ready screen.
void ApplyPreviewPreset(InstallerState& state, const std::u16string& stageName);
