// The one seam between the program and MessageBoxA.
#include "core/report.h"

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
