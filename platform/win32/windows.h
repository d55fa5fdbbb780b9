// The program's one header of the Win32 API. On Windows it is <windows.h>
// itself, with <commctrl.h> for the progress bar. Elsewhere it is the base
// types and constants (platform/winbase) and the stand-in services built on
// them: the registry, files, resources and the shutdown request. The program
// logic includes this header and nothing below it, so it is the same source
// on both.
#pragma once

#include "platform/winbase/winbase.h"

#ifndef _WIN32
#include "platform/fs/win_files.h"
#include "platform/registry/registry_api.h"
#include "platform/resources/resources.h"
#include "platform/system/shutdown.h"
#endif
