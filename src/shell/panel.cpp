// The control panel: builds the tab strip and the controls of its four pages once, switches pages
// by showing and hiding controls, and filters what can be typed into the margin and scale edits.
#include "shell/panel.h"

#include "core/settings.h"
#include "messages/texts.h"
#include "shell/window.h"

#include <commctrl.h>

#include <cstring>
#include <vector>

WNDPROC oldEditProc = nullptr;
WNDPROC oldScaleEditProc = nullptr;

static HFONT hFont;
static HFONT hDropFont;

// Every page control is a sibling of the tab control, laid over its display area.
static HWND hTabControl;
static HWND hRadioLeft, hRadioRight, hDropArea;
static HWND hErosionLabel, hErosionEdit, hErosionSpin, hErosionDropArea;
static HWND hMarginCornerLabel, hMarginCornerTL, hMarginCornerTR, hMarginCornerBL, hMarginCornerBR;
static HWND hMarginHLabel, hMarginHEdit, hMarginHSpin, hMarginHUnitLabel;
static HWND hMarginVLabel, hMarginVEdit, hMarginVSpin, hMarginVUnitLabel, hMarginDropArea;
static HWND hScaleXLabel, hScaleXEdit, hScaleYLabel, hScaleYEdit, hScaleDropArea;

// The controls of each page, in the order of currentTab: Rotation, Erosion, Margins, Scale.
static const std::vector<HWND*> pages[] = {
    {&hRadioLeft, &hRadioRight, &hDropArea},
    {&hErosionLabel, &hErosionEdit, &hErosionSpin, &hErosionDropArea},
    {&hMarginCornerLabel, &hMarginCornerTL, &hMarginCornerTR, &hMarginCornerBL, &hMarginCornerBR, &hMarginHLabel,
     &hMarginHEdit, &hMarginHSpin, &hMarginHUnitLabel, &hMarginVLabel, &hMarginVEdit, &hMarginVSpin,
     &hMarginVUnitLabel, &hMarginDropArea},
    {&hScaleXLabel, &hScaleXEdit, &hScaleYLabel, &hScaleYEdit, &hScaleDropArea},
};

// Only the tab control starts visible, and no control is a tab stop: the loop does no dialog navigation.
static const DWORD tabStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
// WS_GROUP on the first button of each group keeps the rotation and corner choices apart.
static const DWORD firstRadioStyle = WS_CHILD | WS_GROUP | BS_AUTORADIOBUTTON;
static const DWORD radioStyle = WS_CHILD | BS_AUTORADIOBUTTON;
// No ES_AUTOHSCROLL: typing stops when the text fills the edit.
static const DWORD plainStyle = WS_CHILD;
static const DWORD digitsStyle = WS_CHILD | ES_NUMBER;
// UDS_NOTHOUSANDS: Wine would write -500 as "-,500", which the settings read as 0. No UDS_WRAP.
static const DWORD upDownStyle = WS_CHILD | UDS_ARROWKEYS | UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_NOTHOUSANDS;
static const DWORD dropAreaStyle = WS_CHILD | WS_BORDER | SS_CENTERIMAGE | SS_CENTER;

struct Place {
    int x, y, width, height;  // client pixels of the main window
};

static HFONT MakeFont(int height)
{
    return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Segoe UI");
}

void InitPanel()
{
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&classes);
    hFont = MakeFont(16);
    hDropFont = MakeFont(18);
}

static HWND CreateControl(HWND window, const char* className, const char* text, DWORD style, DWORD exStyle,
                          Place place, int id)
{
    return CreateWindowExA(exStyle, className, text, style, place.x, place.y, place.width, place.height, window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), hInst, nullptr);
}

static void SetFont(HWND control, HFONT font)
{
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

static HWND CreateWithFont(HWND window, const char* className, const char* text, DWORD style, DWORD exStyle,
                           Place place, int id, HFONT font)
{
    HWND control = CreateControl(window, className, text, style, exStyle, place, id);
    SetFont(control, font);
    return control;
}

// UDS_ALIGNRIGHT moves the up-down into its buddy's rectangle, so it is created empty. Setting the
// position writes the buddy's text, whose EN_CHANGE already reaches the settings during WM_CREATE.
static HWND CreateUpDown(HWND window, int id, HWND buddy, LPARAM range, LPARAM position)
{
    HWND upDown = CreateControl(window, "msctls_updown32", nullptr, upDownStyle, 0, {0, 0, 0, 0}, id);
    SendMessageA(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
    SendMessageA(upDown, UDM_SETRANGE, 0, range);
    SendMessageA(upDown, UDM_SETPOS, 0, position);
    return upDown;
}

// Returns the edit's previous window procedure.
static WNDPROC Subclass(HWND edit, WNDPROC filter)
{
    return reinterpret_cast<WNDPROC>(SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(filter)));
}

static void CreateTabControl(HWND window)
{
    hTabControl = CreateWithFont(window, "SysTabControl32", "", tabStyle, 0, {10, 10, 460, 380}, IDC_TAB, hFont);
    const char* names[] = {texts->tabRotation, texts->tabErosion, texts->tabMargins, texts->tabScale};
    for (int index = 0; index < 4; ++index) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(names[index]);
        SendMessageA(hTabControl, TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item));
    }
}

// The left button turns clockwise (+90): it carries the "rotate right" text.
static void CreateRotationPage(HWND window)
{
    hRadioLeft = CreateControl(window, "BUTTON", texts->rotateRight, firstRadioStyle, 0, {30, 50, 180, 25},
                               IDC_ROTATE_RIGHT);
    hRadioRight = CreateControl(window, "BUTTON", texts->rotateLeft, radioStyle, 0, {220, 50, 180, 25},
                                IDC_ROTATE_LEFT);
    SetFont(hRadioLeft, hFont);
    SetFont(hRadioRight, hFont);
    SendMessageA(hRadioLeft, BM_SETCHECK, BST_CHECKED, 0);
    hDropArea = CreateWithFont(window, "STATIC", texts->dropImage, dropAreaStyle, 0, {20, 85, 440, 280},
                               IDC_DROP_AREA, hDropFont);
}

// The erosion edit needs no filter of its own: ES_NUMBER lets only digits be typed.
static void CreateErosionPage(HWND window)
{
    hErosionLabel = CreateWithFont(window, "STATIC", texts->erosionLabel, plainStyle, 0, {30, 50, 150, 25},
                                   IDC_EROSION_LABEL, hFont);
    hErosionEdit = CreateWithFont(window, "EDIT", "1", digitsStyle, WS_EX_CLIENTEDGE, {190, 48, 60, 25},
                                  IDC_EROSION_EDIT, hFont);
    hErosionSpin = CreateUpDown(window, IDC_EROSION_SPIN, hErosionEdit, MAKELPARAM(50, 1), 1);
    hErosionDropArea = CreateWithFont(window, "STATIC", texts->dropMonoBmp, dropAreaStyle, 0, {20, 85, 440, 280},
                                      IDC_EROSION_DROP_AREA, hDropFont);
}

static void CreateCornerChoice(HWND window)
{
    hMarginCornerLabel = CreateWithFont(window, "STATIC", texts->cornerLabel, plainStyle, 0, {30, 50, 200, 20},
                                        IDC_CORNER_LABEL, hFont);
    hMarginCornerTL = CreateWithFont(window, "BUTTON", texts->cornerTopLeft, firstRadioStyle, 0, {30, 75, 120, 20},
                                     IDC_CORNER_TOP_LEFT, hFont);
    hMarginCornerTR = CreateWithFont(window, "BUTTON", texts->cornerTopRight, radioStyle, 0, {160, 75, 120, 20},
                                     IDC_CORNER_TOP_RIGHT, hFont);
    hMarginCornerBL = CreateWithFont(window, "BUTTON", texts->cornerBottomLeft, radioStyle, 0, {30, 100, 120, 20},
                                     IDC_CORNER_BOTTOM_LEFT, hFont);
    hMarginCornerBR = CreateWithFont(window, "BUTTON", texts->cornerBottomRight, radioStyle, 0,
                                     {160, 100, 120, 20}, IDC_CORNER_BOTTOM_RIGHT, hFont);
    SendMessageA(hMarginCornerBR, BM_SETCHECK, BST_CHECKED, 0);
}

// Each edit is filtered before its up-down exists. Both edits had the EDIT class's procedure, so one
// saved procedure serves them both.
static void CreateMarginFields(HWND window)
{
    const LPARAM range = MAKELPARAM(500, -500);
    hMarginHLabel = CreateWithFont(window, "STATIC", texts->marginHLabel, plainStyle, 0, {30, 135, 150, 20},
                                   IDC_MARGIN_H_LABEL, hFont);
    hMarginHEdit = CreateWithFont(window, "EDIT", "0", plainStyle, WS_EX_CLIENTEDGE, {190, 133, 60, 23},
                                  IDC_MARGIN_H_EDIT, hFont);
    oldEditProc = Subclass(hMarginHEdit, SignedNumberEditProc);
    hMarginHSpin = CreateUpDown(window, IDC_MARGIN_H_SPIN, hMarginHEdit, range, 0);
    // The panel's font, and 50 pixels: "0.1mm" needs 37 to 44 in it, depending on the face the
    // system substitutes, and 30 would show "0.1m".
    hMarginHUnitLabel = CreateWithFont(window, "STATIC", "0.1mm", plainStyle, 0, {255, 135, 50, 20}, 0, hFont);
    hMarginVLabel = CreateWithFont(window, "STATIC", texts->marginVLabel, plainStyle, 0, {30, 165, 150, 20},
                                   IDC_MARGIN_V_LABEL, hFont);
    hMarginVEdit = CreateWithFont(window, "EDIT", "0", plainStyle, WS_EX_CLIENTEDGE, {190, 163, 60, 23},
                                  IDC_MARGIN_V_EDIT, hFont);
    Subclass(hMarginVEdit, SignedNumberEditProc);
    hMarginVSpin = CreateUpDown(window, IDC_MARGIN_V_SPIN, hMarginVEdit, range, 0);
    hMarginVUnitLabel = CreateWithFont(window, "STATIC", "0.1mm", plainStyle, 0, {255, 165, 50, 20}, 0, hFont);
    hMarginDropArea = CreateWithFont(window, "STATIC", texts->dropBmp, dropAreaStyle, 0, {20, 195, 440, 170},
                                     IDC_MARGIN_DROP_AREA, hDropFont);
}

static void CreateScalePage(HWND window)
{
    hScaleXLabel = CreateWithFont(window, "STATIC", texts->scaleXLabel, plainStyle, 0, {30, 50, 150, 20},
                                  IDC_SCALE_X_LABEL, hFont);
    hScaleXEdit = CreateWithFont(window, "EDIT", "1.0000", plainStyle, WS_EX_CLIENTEDGE, {190, 48, 80, 23},
                                 IDC_SCALE_X_EDIT, hFont);
    oldScaleEditProc = Subclass(hScaleXEdit, DecimalNumberEditProc);
    hScaleYLabel = CreateWithFont(window, "STATIC", texts->scaleYLabel, plainStyle, 0, {30, 80, 150, 20},
                                  IDC_SCALE_Y_LABEL, hFont);
    hScaleYEdit = CreateWithFont(window, "EDIT", "1.0000", plainStyle, WS_EX_CLIENTEDGE, {190, 78, 80, 23},
                                 IDC_SCALE_Y_EDIT, hFont);
    Subclass(hScaleYEdit, DecimalNumberEditProc);
    hScaleDropArea = CreateWithFont(window, "STATIC", texts->dropScaleImage, dropAreaStyle, 0, {20, 115, 440, 250},
                                    IDC_SCALE_DROP_AREA, hDropFont);
}

// Shows the controls of page `index` (any index past Margins means Scale) and hides all others.
static void ShowPage(int index)
{
    int shown = (index >= 0 && index <= 2) ? index : 3;
    for (int page = 0; page < 4; ++page) {
        for (HWND* control : pages[page]) {
            ShowWindow(*control, page == shown ? SW_SHOW : SW_HIDE);
        }
    }
}

void CreatePanel(HWND window)
{
    CreateTabControl(window);
    CreateRotationPage(window);
    CreateErosionPage(window);
    CreateCornerChoice(window);
    CreateMarginFields(window);
    CreateScalePage(window);
    ShowPage(0);
}

void OnPanelNotify(const NMHDR* header)
{
    if (header->idFrom != IDC_TAB || header->code != TCN_SELCHANGE) {
        return;
    }
    currentTab = static_cast<int>(SendMessageA(hTabControl, TCM_GETCURSEL, 0, 0));
    ShowPage(currentTab);
}

static bool IsDigitOrControl(unsigned char typed)
{
    return typed < 32 || (typed >= '0' && typed <= '9');
}

// A minus sign can only be the first character, and only once: it passes with the caret at the
// start of a text without one, or over a selection from the start that covers the one there.
static bool MinusFits(HWND edit)
{
    char text[16] = "";
    GetWindowTextA(edit, text, sizeof text);
    DWORD start = 0;
    DWORD end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    if (start != 0) {
        return false;
    }
    return !(text[0] == '-' && end == 0);
}

// One point per text, wherever it stands; a selection over the point does not make room for another.
static bool PointFits(HWND edit)
{
    char text[16] = "";
    GetWindowTextA(edit, text, sizeof text);
    return std::strchr(text, '.') == nullptr;
}

// Only typed characters are filtered: pasted text and the up-down's writes pass unchecked.
LRESULT CALLBACK SignedNumberEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHAR) {
        unsigned char typed = static_cast<unsigned char>(wParam & 0xFF);
        if (!IsDigitOrControl(typed) && !(typed == '-' && MinusFits(edit))) {
            return 0;
        }
    }
    return CallWindowProcA(oldEditProc, edit, message, wParam, lParam);
}

LRESULT CALLBACK DecimalNumberEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHAR) {
        unsigned char typed = static_cast<unsigned char>(wParam & 0xFF);
        if (!IsDigitOrControl(typed) && !(typed == '.' && PointFits(edit))) {
            return 0;
        }
    }
    return CallWindowProcA(oldScaleEditProc, edit, message, wParam, lParam);
}
