// The first uninstall step: the card's device nodes, its class key, the media
// entries of its drivers and the driver files' registrations.
#pragma once

#include "progress/uninstall_progress.h"

// Runs the step's 35 removals in their fixed order, each once and whatever
// became of the ones before, then advances `progress` by three steps and
// checks the hardware item.
void RemoveHardwareNodes(UninstallProgress& progress);
