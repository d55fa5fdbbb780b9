// Reads the REGEDIT4 text that the Windows 95 Registry Editor exports:
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Vesk\KivraQ76]
//   "Title"="Kivra Q76"
//   @="default value"
//   "Flags"=dword:00000001
//   "Blob"=hex:01,02,03,04,05
//   "Paths"=hex(7):61,00,00
//
// Lines end in CR LF or LF. Text is 8-bit and kept byte for byte; in quoted
// names and strings only \\ and \" are escapes. Hex data goes on over the next
// line when its line ends in a backslash after a comma. A section creates its key and
// the keys above it; a section named twice adds to the same key, and a value
// set twice keeps its first place and takes the last data, as an import would.
// Anything else (a line that is not a section, value or blank line, a NUL byte,
// a bad escape or hex byte, regedit's "delete" forms) is refused with the line
// number, because a registry file that is only half understood must not be
// written back.
#pragma once

#include <string_view>

#include "platform/registry/registry_tree.h"
#include "platform/result/result.h"

// Windows limits a key path to 512 levels; deeper sections are refused, which
// also bounds the recursion of every walk over the tree.
inline constexpr std::size_t kMaxKeyDepth = 512;

// `source` names the text in error messages ("/m/registry.reg: line 7: ...").
Result<RegistryTree> parseRegedit4(std::string_view text, std::string_view source);
