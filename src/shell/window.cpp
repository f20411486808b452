// The main window: its class, its centred fixed-size frame with the About menu, and the window
// procedure that hands tab changes to the panel and commands and drops to the settings.
#include "shell/window.h"

#include "core/dispatch.h"
#include "messages/report.h"
#include "messages/texts.h"
#include "res/resource.h"
#include "shell/panel.h"

HINSTANCE hInst;

static const char className[] = "LumivexClass";
// No sizing border and no maximise box: the panel is laid out for a fixed client area.
static const DWORD mainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
static const int clientWidth = 480;
static const int clientHeight = 410;

void RegisterMainWindowClass()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = hInst;
    windowClass.hIcon = LoadIconA(hInst, MAKEINTRESOURCEA(IDI_LUMIVEX));
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
}

HWND CreateMainWindow(int showCommand)
{
    // The menu bar lies outside the client area, so it is counted into the outer size.
    RECT outer = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&outer, mainWindowStyle, TRUE);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    HWND window = CreateWindowExA(0, className, texts->appTitle, mainWindowStyle, x, y, width, height, nullptr,
                                  nullptr, hInst, nullptr);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return window;
}

static void CreateMenuBar(HWND window)
{
    HMENU menu = CreateMenu();
    AppendMenuA(menu, MF_STRING, IDM_ABOUT, texts->menuAbout);
    SetMenu(window, menu);
}

static LRESULT OnCreate(HWND window)
{
    InitPanel();
    CreateMenuBar(window);
    CreatePanel(window);
    // Last, so that no file can arrive before the panel and its settings are in place.
    DragAcceptFiles(window, TRUE);
    return 0;
}

static LRESULT OnDestroy()
{
    PostQuitMessage(0);
    return 0;
}

// Every notification is answered 0: it lets TCN_SELCHANGING and UDN_DELTAPOS go ahead.
static LRESULT OnNotify(LPARAM lParam)
{
    OnPanelNotify(reinterpret_cast<const NMHDR*>(lParam));
    return 0;
}

static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (LOWORD(wParam) == IDM_ABOUT) {
        ShowMessage(window, texts->aboutText, texts->aboutTitle, MB_ICONINFORMATION | MB_OK);
    } else {
        OnSettingCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    }
    return 0;
}

static LRESULT OnDropFilesMessage(HWND window, WPARAM wParam)
{
    OnDropFiles(reinterpret_cast<HDROP>(wParam), window);
    return 0;
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_DESTROY: return OnDestroy();
    case WM_NOTIFY: return OnNotify(lParam);
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_DROPFILES: return OnDropFilesMessage(window, wParam);
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}
