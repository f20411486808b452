// Entry point of Lumivex.exe (the window comes with the control panel).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
