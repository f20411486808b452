// Helper of the desktop drop test and the package check, run under Wine beside Lumivex.exe: waits
// for a message box, prints its caption and text, then closes it with its OK button; or, given a
// window class, waits for a window of it, prints its title and closes it. Exits 1 when none shows up.
// Usage: read_message_box [TIMEOUT_MS [CLASS]]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static const char* wantedClass = "#32770";  // message boxes

static BOOL CALLBACK FindWindowOfClass(HWND window, LPARAM found)
{
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, wantedClass) != 0 || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The text is the one static control with text (the icon is another, without); its identifier
// differs between Windows and Wine, so it is found by class.
static BOOL CALLBACK AppendStaticText(HWND control, LPARAM text)
{
    char className[16] = "", buffer[1024] = "";
    GetClassNameA(control, className, sizeof className);
    if (_stricmp(className, "Static") == 0 && GetWindowTextA(control, buffer, sizeof buffer) > 0) {
        *reinterpret_cast<std::string*>(text) += buffer;
    }
    return TRUE;
}

int main(int argc, char** argv)
{
    int timeoutMs = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (argc > 2) wantedClass = argv[2];
    HWND box = nullptr;
    for (int waited = 0; box == nullptr && waited <= timeoutMs; waited += 50) {
        EnumWindows(FindWindowOfClass, reinterpret_cast<LPARAM>(&box));
        if (box == nullptr) Sleep(50);
    }
    if (box == nullptr) {
        std::fprintf(stderr, "no window of class %s within %d ms\n", wantedClass, timeoutMs);
        return 1;
    }
    char caption[256] = "";
    GetWindowTextA(box, caption, sizeof caption);
    std::string text;
    EnumChildWindows(box, AppendStaticText, reinterpret_cast<LPARAM>(&text));
    std::printf("%s\n%s\n", caption, text.c_str());
    std::fflush(stdout);
    if (argc > 2) {
        PostMessageA(box, WM_CLOSE, 0, 0);
    } else {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    }
    // Gone means destroyed, so the next drop cannot land on the box.
    for (int waited = 0; IsWindow(box) && waited <= timeoutMs; waited += 50) Sleep(50);
    if (IsWindow(box)) {
        std::fprintf(stderr, "the window did not close within %d ms\n", timeoutMs);
        return 1;
    }
    return 0;
}
