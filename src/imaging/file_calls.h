// The platform's file calls that the backup and the safe save make, behind one seam, so that a test
// can make any one of them fail at any step, as the message seam lets it take every message box.
#pragma once

#include <windows.h>

struct FileCalls {
    decltype(&CreateFileA) createFile;
    decltype(&ReadFile) readFile;
    decltype(&WriteFile) writeFile;
    decltype(&FlushFileBuffers) flushFile;
    decltype(&MoveFileExA) moveFile;
    decltype(&CreateHardLinkA) linkFile;
    decltype(&ReplaceFileA) replaceFile;
};

// The calls in force: the platform's own unless redirected.
const FileCalls& Files();

// Puts `calls` in force and returns the ones they replace. Not for use while an operation runs.
FileCalls RedirectFileCalls(const FileCalls& calls);
