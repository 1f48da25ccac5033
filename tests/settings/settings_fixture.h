// Points the settings folder at a scratch folder and the installer's own path at a folder of the
// test's choosing, so that the detected game folder is known.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/own_path.h"
#include "common/scoped_override.h"
#include "settings/launcher_config.h"
#include "settings/settings_platform.h"
#include "tests/support/scratch.h"

class SettingsFileTest : public ::testing::Test {
protected:
    SettingsFileTest();

    const std::filesystem::path& Base() const { return base_; }
    std::filesystem::path ConfigFile() const { return base_ / "MorvantaLauncher" / "config.json"; }
    std::filesystem::path TemporaryFile() const {
        return base_ / "MorvantaLauncher" / "config.json.tmp";
    }
    // Writes config.json with a modification time an hour in the past, so that any rewrite shows.
    void WriteConfig(const std::string& bytes) const;
    // Puts a complete game beside the installer, which makes it the detected folder.
    std::string InstallDetectedGame() const;

    ScratchDir scratch_;
    std::filesystem::path base_;
    ScopedOverride<LocalAppDataFolderFn> folder_;
    ScopedOverride<OwnExecutablePathFn> own_;
};

// The bytes and modification time of a file, to show that nothing touched it.
struct FileSnapshot {
    std::string bytes;
    std::filesystem::file_time_type time;
    bool operator==(const FileSnapshot&) const = default;
};
FileSnapshot Snapshot(const std::filesystem::path& file);

// A string as a JSON string literal, the way the settings file writes it.
std::string Quoted(const std::string& text);
