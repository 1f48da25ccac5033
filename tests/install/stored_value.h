// Reads back what registration stored, through the platform's own store (the registry on
// Windows, the stand-in files elsewhere), and clears both registration trees.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct StoredValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

std::optional<StoredValue> ReadStoredValue(std::u16string_view key, std::u16string_view name);
void DeleteRegistrationTrees();
