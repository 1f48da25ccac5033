// Real folders for the folder and game rules on both builds. The Windows build hands them over
// as they are; the host build names them the way Wine shows a Linux path, on drive Z:.
#pragma once

#include <filesystem>
#include <string>

// The folder text the rules take for a real path.
std::string FolderText(const std::filesystem::path& path);

// Makes `link` a directory link to its sibling `targetName`, keeping the link inside the test's own
// folder. Answers false with a reason when this system cannot make one.
bool MakeDirectoryLink(const std::filesystem::path& link, const std::string& targetName,
                       std::string& reason);

// Fills `folder` with every file the strict game check wants, one byte each, and a steam.inf with
// the expected patch version.
void MakeCompleteGame(const std::filesystem::path& folder);
