// The Win32 file functions of this platform, on the drive folders of the
// machine directory (see drives.h).
#pragma once

#include "platform/fs/drives.h"
#include "platform/fs/file_ops.h"
#include "platform/fs/find_file.h"
#include "platform/fs/profile.h"
#include "platform/fs/windows_directory.h"
