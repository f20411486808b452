// Keeps the settings in step with the controls and routes a dropped file to the selected mode's operation.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "core/settings.h"

// A WM_COMMAND from a control: its identifier, notification code and window (edits are read through it).
void OnSettingCommand(int id, int code, HWND control);

// A WM_DROPFILES: processes the first file with the selected page's operation, or warns
// (owned by `owner`). Always releases the drop handle.
void OnDropFiles(HDROP drop, HWND owner);

// Extension tests, ignoring letter case: .png .jpg .jpeg .gif .bmp, and .bmp alone.
bool IsValidImage(const char* path);
bool IsValidBMP(const char* path);
// The pages of the tab strip, in its order (the values of currentTab).
enum Page { RotationPage, ErosionPage, MarginsPage, ScalePage };

// The extension test of page `tab` (a Page; any other value means Scale): nullptr when `path` passes
// it, otherwise the page's warning text.
const char* PageWarning(int tab, const char* path);

// The operations a drop is handed to; tests put recorders in their place.
struct Operations {
    void (*rotate)(char const* path, int angle);
    void (*erode)(char const* path, int passes);
    void (*adjustMargins)(char const* path, Corner corner, int horizontalMarginMM, int verticalMarginMM);
    void (*scale)(char const* path, double factorX, double factorY);
};
extern Operations operations;
