// The installer's start-up assets and the headless preview.
#pragma once

#include <string>

struct InstallerState;

// The install folder the window starts with: "VarnokClient" in the user's local application data.
std::u16string DefaultInstallDir();

// Sets the default install folder and loads the wordmark logo from the executable's resources.
void LoadInstallerAssets(InstallerState& state);

// Paints the window at scale 2 into an 880 by 672 bitmap and saves it as PNG; true when written.
bool RenderPreview(InstallerState& state, const std::u16string& pngPath);
