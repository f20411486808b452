// Paths as the operations take them: narrow strings in the system ANSI code page that fit a
// 260-character buffer.
#pragma once

#include <string>

// The ANSI form of `wide` when the code page holds every one of its characters and it fits the
// operations' 260-character buffer, terminator included; false otherwise. Never a best-fit mapping:
// "ż.png" must not quietly become "z.png", which may be another file that exists.
bool ToAnsiPath(const std::wstring& wide, std::string& ansi);
