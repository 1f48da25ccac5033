// Finding the installed game's folder and judging a stored one. Folders are UTF-8 texts, the form
// config.json keeps; every file question goes through the replaceable queries of file_queries.h.
#pragma once

#include <string>
#include <string_view>

// The patch version the client is built for: steam.inf's PatchVersion must start with it.
inline constexpr std::string_view GamePatchPrefix{"1.36.3."};

// The detection test for one candidate: a pure-ASCII folder holding Morvanta.exe or csgo.exe as
// regular files. No size check and no path rules.
bool HasGameExecutable(std::string_view folder);

// The installer's own folder first, then D:, C: and every other fixed drive in letter order with
// three candidates each; when nothing is found, "D:\Games\Morvanta" if D: is a fixed drive, else
// "C:\Games\Morvanta". Never fails.
std::string DetectGameFolder();

// folder\name is a regular file (links followed) of at least one byte. name uses '\'.
bool HasNonEmptyFile(std::u16string_view folder, std::u16string_view name);

// The strict check: an acceptable existing folder, every required file present and non-empty,
// and steam.inf's PatchVersion (when it names one) starting with GamePatchPrefix.
bool IsCompleteGameFolder(std::string_view folder);

// The loose check: an acceptable existing folder holding csgo.exe, Morvanta.exe or
// csgo\pak01_dir.vpk, whatever their size.
bool IsPlausibleGameFolder(std::string_view folder);
