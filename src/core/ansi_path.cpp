// Conversion of UTF-16 paths to the ANSI paths the operations take, refusing what would change.
#include "core/ansi_path.h"

#include <windows.h>

bool ToAnsiPath(const std::wstring& wide, std::string& ansi)
{
    BOOL lossy = FALSE;
    bool utf8 = GetACP() == CP_UTF8;  // which takes no best-fit flag and loses nothing
    DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int size = WideCharToMultiByte(CP_ACP, flags, wide.c_str(), -1, nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
    if (size <= 0 || size > MAX_PATH || lossy) return false;
    ansi.assign(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, flags, wide.c_str(), -1, &ansi[0], size, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(size - 1));
    return true;
}
