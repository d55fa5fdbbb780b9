// The second uninstall step: the product's uninstall registration and its own
// registry key.
#pragma once

#include "progress/uninstall_progress.h"

// Removes, each with its subtree, the uninstall registration named
// `product_title` and the key SOFTWARE\Vesk\<product_key_name> below
// HKEY_LOCAL_MACHINE, then advances `progress` by one step and checks the
// registry item. An empty title removes no registration; the keys above the
// two stay.
void RemoveProgramRegistration(UninstallProgress& progress, const char* product_title,
                               const char* product_key_name);
