// Entry point of Lumivex.exe: GDI+ and the language are set up before the main window exists,
// and GDI+ is shut down after the message loop ends.
#include "imaging/gdiplus_api.h"
#include "messages/texts.h"
#include "shell/window.h"

#include <cstdlib>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    hInst = instance;
    Gdiplus::GdiplusStartupInput startupInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &startupInput, nullptr);
    SetupLanguage();
    RegisterMainWindowClass();
    CreateMainWindow(showCommand);

    MSG message{};
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    Gdiplus::GdiplusShutdown(gdiplusToken);
    // WM_QUIT carries the exit code; a failed GetMessageA (-1) left no message to read it from.
    return got == 0 ? static_cast<int>(message.wParam) : EXIT_FAILURE;
}
