// Registry names compare without regard to letter case, as Windows compares
// them. Texts are Windows-1252, so besides a-z the accented Latin letters of
// that code page have a capital form too (é/É, š/Š, ÿ/Ÿ, ...).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The name with every letter in its capital form: the key under which a name
// is looked up.
std::string foldName(std::string_view name);

bool namesEqual(std::string_view a, std::string_view b);

// Orders names by their capital forms, byte by byte, a shorter name before a
// longer one that starts with it: below 0, 0 (exactly when namesEqual) or
// above 0.
int compareNames(std::string_view a, std::string_view b);

// A hash of the name's capital form: names that are equal above hash alike.
std::uint32_t foldedNameHash(std::string_view name);
