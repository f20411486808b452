// Entry point of Lumivex.exe: GDI+ and the language are set up before the main window exists,
// and GDI+ is shut down after the message loop ends.
#include "messages/texts.h"
#include "imaging/gdiplus_api.h"
#include "shell/window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    hInst = instance;
    Gdiplus::GdiplusStartupInput startupInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &startupInput, nullptr);
    SetupLanguage();
    RegisterMainWindowClass();
    CreateMainWindow(showCommand);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    Gdiplus::GdiplusShutdown(gdiplusToken);
    return static_cast<int>(message.wParam);
}
