// Replacing a file in one atomic step.
#pragma once

#include "platform/win32/windows.h"

// Gives the file `replacement` the name `target`, in place of the file that
// stands there, in one step: at every moment the target is either the old
// file or the new one, also after a crash. The folders of both are flushed to
// the disk afterwards. Returns TRUE; FALSE, with both files as they were, when
// the replacement is missing, the target is a folder or a read-only file
// (ERROR_ACCESS_DENIED, for every user, as Windows will not delete such a
// file), a folder is missing or the host refuses. A symbolic link at the
// target is replaced itself, not followed.
BOOL replaceFileAtomically(LPCSTR replacement, LPCSTR target);
