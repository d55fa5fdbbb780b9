// Letter case and blanks of ASCII text, the same whatever the system's
// language: only a-z and A-Z have a case, and bytes of 128 and above are
// left as they are. (Registry names fold the Windows-1252 letters too; that
// is name_fold.h.)
#pragma once

#include <string>
#include <string_view>

namespace ascii {

constexpr bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool isLower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool isLetter(char c) { return isUpper(c) || isLower(c); }

constexpr char toUpper(char c) { return isLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char toLower(char c) { return isUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }

std::string toUpper(std::string_view text);
std::string toLower(std::string_view text);

// Whether the two texts are the same but for the case of a-z.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The text without the characters of `blanks` at its start, its end or both.
std::string_view trimLeft(std::string_view text, std::string_view blanks);
std::string_view trimRight(std::string_view text, std::string_view blanks);
std::string_view trim(std::string_view text, std::string_view blanks);

}  // namespace ascii
