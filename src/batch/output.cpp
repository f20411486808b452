// Writing the batch tool's lines: UTF-16 to a console, ANSI bytes to files and pipes.
#include "batch/output.h"

#include <windows.h>

std::wstring Widen(const std::string& ansi)
{
    int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], units);
    return wide;
}

// Characters the code page lacks become "?": a best-fit "z" for "ż" would name another file.
static std::string ToAnsiOrQuestionMarks(const std::wstring& wide)
{
    DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int length = static_cast<int>(wide.size());
    int size = WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, flags, wide.data(), length, &ansi[0], size, nullptr, nullptr);
    return ansi;
}

void WriteLine(Stream stream, const std::wstring& text)
{
    HANDLE handle = GetStdHandle(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(handle, &mode)) {
        std::wstring line = text + L"\n";
        WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    std::string line;
    for (char c : ToAnsiOrQuestionMarks(text) + "\n") {
        if (c == '\n') line += '\r';
        line += c;
    }
    WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
