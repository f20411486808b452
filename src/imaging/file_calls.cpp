// The file-call seam: the platform's functions unless a test put others in their place.
#include "imaging/file_calls.h"

static FileCalls inForce = {CreateFileA,  ReadFile,        WriteFile,   FlushFileBuffers,
                             MoveFileExA, CreateHardLinkA, ReplaceFileA};

const FileCalls& Files()
{
    return inForce;
}

FileCalls RedirectFileCalls(const FileCalls& calls)
{
    FileCalls previous = inForce;
    inForce = calls;
    return previous;
}
