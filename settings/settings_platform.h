// The two system services the settings file needs, each a replaceable function with the system's
// answer as its default.
#pragma once

#include <filesystem>

#include "common/known_folders.h"

// Puts `from` in the place of `to` in one step, replacing an existing `to`; false on failure, with
// `from` left where it was.
using ReplaceFileFn = bool (*)(const std::filesystem::path& from, const std::filesystem::path& to);
extern ReplaceFileFn g_replaceFile;
