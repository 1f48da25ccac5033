// Path joining with the Windows rules: one backslash between folder and name, unless the folder
// already ends in a backslash or a slash.
#pragma once

#include <string>
#include <string_view>

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);
