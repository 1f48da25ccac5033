// What the file key and the token key code both need: bytes as hex, and a string that held a
// secret wiped before its memory is given back. Host only.
#pragma once

#include <cstddef>
#include <string>

// Lower-case hex of `count` bytes.
std::string HexOf(const unsigned char* bytes, size_t count);

// Overwrites every byte the string owns, its whole capacity (a short string's inline buffer or
// the heap block), then empties it. The wipe cannot be optimised away.
void WipeSecret(std::string& text);
