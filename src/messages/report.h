// Every message box of the program goes through ShowMessage, so tests and the batch tool can take
// what would be shown instead of a box. The Report* helpers fix caption, icon and owner of the
// operations' reports.
#pragma once

#include <windows.h>

using MessageBoxFunction = int (*)(HWND owner, const char* text, const char* caption, UINT type);

// Shows a message box (MessageBoxA unless redirected) and returns the button pressed.
int ShowMessage(HWND owner, const char* text, const char* caption, UINT type);

// Replaces the function behind ShowMessage; returns the one it replaced. nullptr restores MessageBoxA.
MessageBoxFunction RedirectMessages(MessageBoxFunction function);

// Error box: caption errorTitle, error icon, no owner.
void ReportFailure(const char* text);
// "Failed to save image. Status: %d" as an error box.
void ReportSaveStatus(int status);
// Success box: `text`, caption successTitle, information icon, no owner.
void ReportSucceeded(const char* text);
// ReportSucceeded with `format` (one %s) filled with the backup name.
void ReportSaved(const char* format, const char* backupName);
