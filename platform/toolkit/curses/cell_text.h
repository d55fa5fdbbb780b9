// Texts as the terminal shows them: one cell per character of the system's
// ANSI code page (Windows-1252), with nothing that a terminal would take as a
// control sequence, and word wrapping as a static control does it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace toolkit::curses {

// What the terminal can show: plain ASCII, or any character as UTF-8.
enum class Charset { Ascii, Utf8 };

// The bytes to write for each character of `ansi`, one string per cell.
// Control characters, and the bytes that Windows-1252 leaves undefined, become
// a visible stand-in ("?", or U+FFFD in UTF-8); in ASCII every character
// outside it becomes "?". Nothing of the text reaches the terminal raw.
std::vector<std::string> toCells(std::string_view ansi, Charset charset);

// The cells of `ansi` joined into one string, cut to `width` cells.
std::string displayText(std::string_view ansi, Charset charset, int width);

// Breaks `ansi` into lines of at most `width` characters: at blanks where it
// can, inside a word that is longer than a line. A line break in the text
// ("\n" or "\r\n") starts a new line. The lines keep their ANSI bytes.
std::vector<std::string> wrapText(std::string_view ansi, int width);

}  // namespace toolkit::curses
