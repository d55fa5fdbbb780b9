// The one place where a host error number becomes a Win32 error code, so every
// file function reports the same code for the same host failure.
#pragma once

#include "platform/winbase/winbase.h"

// The Win32 code for an errno value; unknown values become
// ERROR_ACCESS_DENIED, which is what Windows reports for most refusals.
DWORD win32ErrorFromErrno(int error_number);

// Sets the thread's last error from an errno value.
void setLastErrorFromErrno(int error_number);
