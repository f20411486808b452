// The one seam between the program and MessageBoxA, and the operations' reports through it.
#include "messages/report.h"

#include "messages/texts.h"

#include <cstdio>

static MessageBoxFunction showMessage = MessageBoxA;

int ShowMessage(HWND owner, const char* text, const char* caption, UINT type)
{
    return showMessage(owner, text, caption, type);
}

MessageBoxFunction RedirectMessages(MessageBoxFunction function)
{
    MessageBoxFunction previous = showMessage;
    showMessage = function ? function : MessageBoxA;
    return previous;
}

void ReportFailure(const char* text)
{
    ShowMessage(nullptr, text, texts->errorTitle, MB_ICONERROR);
}

void ReportSaveStatus(int status)
{
    char message[256];
    std::snprintf(message, sizeof message, "Failed to save image. Status: %d", status);
    ReportFailure(message);
}

void ReportSucceeded(const char* text)
{
    ShowMessage(nullptr, text, texts->successTitle, MB_ICONINFORMATION);
}

void ReportSaved(const char* format, const char* backupName)
{
    char message[512];
    std::snprintf(message, sizeof message, format, backupName);
    ReportSucceeded(message);
}
