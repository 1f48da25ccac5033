// The system service the settings file needs beyond plain file calls, replaceable in tests with
// the system's answer as its default.
#pragma once

#include <string>

#include "common/known_folders.h"

// Puts `from` in the place of `to` in one step, replacing an existing `to`; false on failure, with
// `from` left where it was.
using ReplaceFileFn = bool (*)(const std::u16string& from, const std::u16string& to);
extern ReplaceFileFn g_replaceFile;
