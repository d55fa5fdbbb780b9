// Removal of the product's setup-information files.
#pragma once

// Deletes every file OEM*.INF in the INF folder of the Windows directory whose
// section [Strings] gives the key KivraKey a value that holds the product's
// marker text (string IDS_INF_MARKER, letter case counting). Other files stay;
// failures are passed over silently and the remaining files still visited.
void RemoveOemInfFiles();
