// The main window: its class, its procedure and its creation, shared by WinMain and the tests.
#pragma once

#include <windows.h>

extern HINSTANCE hInst;

// Registers "LumivexClass" for hInst.
void RegisterMainWindowClass();
// Creates the centred fixed-size main window (client 480 x 410) and shows it with `showCommand`.
HWND CreateMainWindow(int showCommand);
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
