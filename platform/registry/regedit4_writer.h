// Writes the registry as REGEDIT4 text in the store's canonical layout, the
// layout of a Windows 95 Registry Editor export:
//
//   "REGEDIT4" CR LF, a blank line, then for every key, depth first with the
//   subkeys in their order, "[ROOT\path]" CR LF, its values one per line in
//   their order, and a blank line. Roots come as the layout read with the
//   file lays them out (regedit4_layout.h): in the order in which the file
//   first named them, then any other root holding keys or values; a root gets
//   a section of its own only when the file gave it one or it holds values.
//
// Every key below a root gets its own section, also a key that the file only
// implied by a deeper section; a canonical file therefore names each of its
// keys, and such a file comes back byte for byte.
//
// Values: @= for the default value; "text" for a REG_SZ whose bytes end in
// their only zero and hold no line feed; dword:%08x for a four-byte REG_DWORD;
// hex: for REG_BINARY and hex(%x): for any other type or data, wrapped as
// regedit wraps it: after the comma that takes a line to 77 columns or more,
// a "\" ends the line and the next one starts with two spaces.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/registry/regedit4_layout.h"
#include "platform/registry/registry_tree.h"

// Receives the text piece by piece, in order; returns false to stop the
// writing. A piece's bytes last until the sink returns.
using TextSink = std::function<bool(std::string_view piece)>;

// Hands the text to `emit` in pieces of a few hundred kilobytes, so that the
// text of a large registry is never held whole. Returns false as soon as emit
// does.
bool writeRegedit4(const RegistryTree& tree, const TextSink& emit,
                   const Regedit4Layout& layout = {});

std::string writeRegedit4(const RegistryTree& tree, const Regedit4Layout& layout = {});
