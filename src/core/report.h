// Every message box of the program goes through ShowMessage, so tests can record
// what would be shown instead of blocking on a box.
#pragma once

#include <windows.h>

using MessageBoxFunction = int (*)(HWND owner, const char* text, const char* caption, UINT type);

// Shows a message box (MessageBoxA unless redirected) and returns the button pressed.
int ShowMessage(HWND owner, const char* text, const char* caption, UINT type);

// Replaces the function behind ShowMessage; returns the one it replaced. nullptr restores MessageBoxA.
MessageBoxFunction RedirectMessages(MessageBoxFunction function);
