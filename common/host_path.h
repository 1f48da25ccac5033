// Host build only: a Windows-form path as the Linux path Wine would show under it. "Z:\tmp\x" is
// "/tmp/x", a text without a drive letter is taken as it is (backslashes become slashes), and any
// other drive letter names nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

std::optional<std::string> HostPathFromWindows(std::u16string_view path);
