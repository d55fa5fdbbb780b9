// Putting a finished copy of a file in the file's place.
#pragma once

#include "platform/winbase/winbase.h"

// Gives the file `replacement` the name `target`, in place of the file that
// stands there. Returns TRUE; FALSE with the last error set when the
// replacement is missing or a folder, the target is a folder or a read-only
// file (ERROR_ACCESS_DENIED, for every user, as Windows will not delete such a
// file), a folder is missing or the system refuses.
//
// On Linux the replace is one atomic step: at every moment the target is
// either the old file or the new one, also after a crash, and the folders of
// both are flushed to the disk afterwards. A failure leaves both files as they
// were. A symbolic link at the target is replaced itself, not followed.
//
// Windows 95 has no atomic replace, so on Windows the old file is deleted and
// the replacement then renamed (DeleteFileA, MoveFileA). Everything that can
// be checked beforehand is: a failure up to the delete leaves both files as
// they were. Between the delete and the rename the target's name is free; if
// the rename fails, or the machine stops at that moment, the replacement still
// holds the whole new text under its own name.
BOOL replaceFileWithCopy(LPCSTR replacement, LPCSTR target);
