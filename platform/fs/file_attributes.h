// How the Windows attributes of a file map onto the host. A file is read-only
// when its owner may not write it (no S_IWUSR); the file functions honour that
// themselves, even for root, since Windows refuses to delete or overwrite a
// read-only file whoever asks.
#pragma once

#include <sys/stat.h>

#include "platform/winbase/winbase.h"

bool isReadOnly(const struct stat& st);

// The FILE_ATTRIBUTE_* flags Windows reports for the entry.
DWORD fileAttributesOf(const struct stat& st);

// The host time as Windows counts it: 100-nanosecond ticks since 1601.
FILETIME fileTimeOf(const struct timespec& time);
