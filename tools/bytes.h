// Small text and byte helpers the tools share: ASCII case folding and trimming for header
// names and values, bytes as hex, and a string that held a secret wiped before its memory is
// given back. Host only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// ASCII lower case; other bytes as they are.
std::string Lower(std::string_view text);

// Without leading spaces and tabs, and without trailing spaces, tabs and line ends.
std::string_view Trim(std::string_view text);

// Lower-case hex of `count` bytes.
std::string HexOf(const unsigned char* bytes, size_t count);

// Overwrites every byte the string owns, its whole capacity (a short string's inline buffer or
// the heap block), then empties it. The wipe cannot be optimised away.
void WipeSecret(std::string& text);
