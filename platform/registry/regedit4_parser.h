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

#include <functional>
#include <string_view>

#include "platform/registry/regedit4_layout.h"
#include "platform/registry/registry_tree.h"
#include "platform/result/result.h"

// `source` names the text in error messages ("/m/registry.reg: line 7: ...").
// With `layout`, it also receives how the text laid out its roots.
Result<RegistryTree> parseRegedit4(std::string_view text, std::string_view source,
                                   Regedit4Layout* layout = nullptr);

// Reads up to `room` bytes of a text into `into`: how many it read, 0 at the
// end of the text, or why it could not read.
using ReadBlock = std::function<Result<std::size_t>(char* into, std::size_t room)>;

// The same for a text of about `expected_size` bytes that `read` hands over a
// block at a time, so that a large file is never held whole in memory. The
// result, errors included, is the same as for the whole text at once; an error
// of `read` comes before any other.
Result<RegistryTree> parseRegedit4(const ReadBlock& read, std::size_t expected_size,
                                   std::string_view source, Regedit4Layout* layout = nullptr);
