// The system shutdown request. On this platform the program never shuts the
// host down: the host program decides what a request does (flush its stores,
// report it, run a configured command).
#pragma once

#include <functional>

#include "platform/winbase/winbase.h"

// Hands the request to the handler set with setShutdownHandler. Returns TRUE
// when the handler accepted it; FALSE with ERROR_ACCESS_DENIED when there is no
// handler or it refused, as a process without the shutdown privilege gets.
BOOL ExitWindowsEx(UINT flags, DWORD reason);

// The handler gets the flags and the reason and returns whether the request
// was accepted.
void setShutdownHandler(std::function<bool(UINT flags, DWORD reason)> handler);
