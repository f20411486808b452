// The batch tool's lines on standard output and standard error.
#pragma once

#include <string>

enum class Stream { Output, Error };

// Writes `text` (line breaks inside allowed) and a line break. A console gets UTF-16, so every
// character of a name shows; a file or pipe gets the ANSI code page and CRLF line breaks.
void WriteLine(Stream stream, const std::wstring& text);

// The UTF-16 form of an ANSI string (the texts and paths the operations use).
std::wstring Widen(const std::string& ansi);
