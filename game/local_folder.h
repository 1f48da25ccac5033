// The one rule set every local folder passes before the installer uses or stores it: an absolute
// path on a local drive letter, printable, without parent steps, not itself a link; with
// mustExist, also an existing directory.
#pragma once

#include <string_view>

// text: the folder as UTF-8. Answers only yes or no and never throws.
bool IsAcceptableLocalFolder(std::string_view text, bool mustExist);
