// The platform's file calls that the backup, the safe save, the sweep of leftovers and the mapped read
// make, behind one seam, so that a test can make any one of them fail at any step, as the message seam
// lets it take every message box. Calls made through it also leave the error of the last one that
// failed on the calling thread, for a report that says why.
#pragma once

#include <windows.h>

struct FileCalls {
    decltype(&CreateFileA) createFile;
    decltype(&ReadFile) readFile;
    decltype(&WriteFile) writeFile;
    decltype(&FlushFileBuffers) flushFile;
    decltype(&SetFileTime) setFileTime;
    decltype(&SetFileAttributesA) setAttributes;
    decltype(&CreateHardLinkA) linkFile;
    decltype(&MoveFileExA) moveFile;
    decltype(&ReplaceFileA) replaceFile;
    decltype(&DeleteFileA) deleteFile;
    decltype(&FindFirstFileA) findFirstFile;
    decltype(&FindNextFileA) findNextFile;
    decltype(&GetDriveTypeA) driveType;
    decltype(&CreateFileMappingA) mapFile;
    decltype(&MapViewOfFile) mapView;
};

// The calls in force (the platform's own unless redirected), each noting its error when it fails.
const FileCalls& Files();

// The platform's own calls, for a redirection to start from.
FileCalls PlatformFileCalls();
// Puts `calls` in force and returns the ones they replace. Not for use while an operation runs.
FileCalls RedirectFileCalls(const FileCalls& calls);

// The error of the last call through Files() that failed on this thread since ForgetFileError: why a
// file could not be read or written. 0 when none failed.
DWORD LastFileError();
// Forgets it: before each page, and where a failure was expected and the work went on without harm.
void ForgetFileError();
