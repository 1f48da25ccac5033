// The install folder that a folder chosen with Browse becomes, and the few Windows path rules
// behind it. Portable: the rules are those of Windows paths whatever the build's own path type.
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr char16_t kInstallFolderName[] = u"VarnokClient";

// Windows path pieces on UTF-16 text, as std::filesystem::path answers them on Windows: a root
// name is a drive ("D:") or a network host ("\\host"), and both '\' and '/' separate.
std::u16string_view WindowsPathFilename(std::u16string_view path);
// path /= name for a relative name: one '\' between them unless the path has no filename (empty,
// a bare root name, or ending in a separator).
std::u16string WindowsPathAppend(std::u16string_view path, std::u16string_view name);

// The folder chosen in the picker (UTF-8) as the new install folder, or nothing when the folder
// rules refuse it. The "VarnokClient" component is appended unless the last component already
// is exactly that.
std::optional<std::u16string> InstallDirForChosenFolder(std::string_view chosenUtf8);
