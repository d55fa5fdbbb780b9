// File-name patterns as FindFirstFileA reads them.
#pragma once

#include <string_view>

// True when the pattern has a '*' or a '?'.
bool hasWildcard(std::string_view pattern);

// Matches a name against a pattern without regard to the case of a to z, in
// the DOS dialect that Windows' FindFirstFile uses: '*' is any run of
// characters; '?' is one character, or none before a '.' or at the end of the
// name ("OEM?.INF" finds OEM.INF); "*." before an extension stops at the last
// '.' of the name; a '.' before a wildcard or at the end of the pattern also
// matches the end of a name without one ("*.*" and "OEM*." find names without
// an extension, the latter only those).
bool matchesWildcard(std::string_view pattern, std::string_view name);
