// The file-call seam: the platform's functions unless a test put others in their place, each call
// noting the error of a failure for the report of the page in progress.
#include "imaging/file_calls.h"

#include <type_traits>

static const FileCalls platform = {CreateFileA,    ReadFile,      WriteFile,          FlushFileBuffers,
                                   SetFileTime,    SetFileAttributesA, CreateHardLinkA, MoveFileExA,
                                   ReplaceFileA,   DeleteFileA,   FindFirstFileA,     FindNextFileA,
                                   GetDriveTypeA,  CreateFileMappingA, MapViewOfFile};
static FileCalls inForce = platform;

static thread_local DWORD lastError = 0;

// Whether a call's result says it failed: FALSE, a null or invalid handle, a null view. A drive type
// is no failure.
template <class Result> static bool Failed(Result result)
{
    if constexpr (std::is_pointer_v<Result>) return result == nullptr || result == INVALID_HANDLE_VALUE;
    else if constexpr (std::is_same_v<Result, BOOL>) return !result;
    else return false;
}

// A listing that finds nothing, or nothing more, has answered rather than failed.
template <auto call> constexpr bool kListing = false;
template <> constexpr bool kListing<&FileCalls::findFirstFile> = true;
template <> constexpr bool kListing<&FileCalls::findNextFile> = true;

template <auto call> static bool IsAnswer(DWORD error)
{
    return error == ERROR_SUCCESS ||
           (kListing<call> && (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES));
}

template <auto call> struct Noted;
template <class Result, class... Arguments, Result (*FileCalls::*call)(Arguments...)>
struct Noted<call> {
    static Result WINAPI Call(Arguments... arguments)
    {
        Result result = (inForce.*call)(arguments...);
        if (Failed(result)) {
            DWORD error = GetLastError();
            if (!IsAnswer<call>(error)) lastError = error;
            SetLastError(error);
        }
        return result;
    }
};

static const FileCalls noted = {
    Noted<&FileCalls::createFile>::Call,  Noted<&FileCalls::readFile>::Call,      Noted<&FileCalls::writeFile>::Call,
    Noted<&FileCalls::flushFile>::Call,   Noted<&FileCalls::setFileTime>::Call,   Noted<&FileCalls::setAttributes>::Call,
    Noted<&FileCalls::linkFile>::Call,    Noted<&FileCalls::moveFile>::Call,      Noted<&FileCalls::replaceFile>::Call,
    Noted<&FileCalls::deleteFile>::Call,  Noted<&FileCalls::findFirstFile>::Call, Noted<&FileCalls::findNextFile>::Call,
    Noted<&FileCalls::driveType>::Call,   Noted<&FileCalls::mapFile>::Call,       Noted<&FileCalls::mapView>::Call};

const FileCalls& Files()
{
    return noted;
}

FileCalls PlatformFileCalls()
{
    return platform;
}

FileCalls RedirectFileCalls(const FileCalls& calls)
{
    FileCalls previous = inForce;
    inForce = calls;
    return previous;
}

DWORD LastFileError()
{
    return lastError;
}

void ForgetFileError()
{
    lastError = 0;
}
