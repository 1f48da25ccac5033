// The few path operations the folder rules need, with the Windows rules of the standard path
// type (either slash separates, a drive letter and colon form the root name) on every build. The
// host build's std::filesystem follows POSIX rules, so these are done by hand on UTF-16 text.
// Root names other than a drive letter with its colon (UNC servers, \\?\ prefixes) are not
// recognised: the folder rules refuse such paths before asking.
#pragma once

#include <string>
#include <string_view>
#include <vector>

bool IsWindowsSeparator(char16_t c);

// The elements in the order the path type iterates them: the root name ("C:"), the root
// directory (one separator, as written), then every name between runs of separators; a trailing
// separator gives an empty last element.
std::vector<std::u16string> WindowsPathElements(std::u16string_view path);

// lexically_normal with Windows rules: separators become '\', runs collapse, "." elements go,
// "name\.." pairs cancel, ".." straight after the root directory goes. A trailing separator (or a
// trailing "." or cancelled "..") stays as one trailing '\'. An empty relative result is ".".
std::u16string WindowsLexicallyNormal(std::u16string_view path);

// parent_path with Windows rules: the last name and the separators before it removed; a root
// keeps its separator ("C:\x.exe" gives "C:\"), and a path that is only a root is returned as is.
std::u16string WindowsParentPath(std::u16string_view path);
