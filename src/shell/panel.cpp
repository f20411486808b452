// The control panel: builds the tab strip and the controls of its four pages once, switches pages
// by showing and hiding controls, and filters what can be typed into the margin and scale edits.
#include "shell/panel.h"

#include "core/dispatch.h"
#include "core/settings.h"
#include "messages/texts.h"
#include "shell/window.h"

#include <commctrl.h>

#include <cstring>

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

static void CreateTabControl(HWND window)
{
    hTabControl = CreateControl(window, "SysTabControl32", "", tabStyle, 0, {10, 10, 460, 380}, IDC_TAB);
    SetFont(hTabControl, hFont);
    const char* names[] = {texts->tabRotation, texts->tabErosion, texts->tabMargins, texts->tabScale};
    for (int index = 0; index < 4; ++index) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(names[index]);
        SendMessageA(hTabControl, TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item));
    }
}

// One control of a page. Its text is a member of the active text table, or else `fixedText`.
struct PageControl {
    Page page;
    HWND* handle;
    const char* className;
    const char* LanguageTexts::*text;
    const char* fixedText;
    DWORD style, exStyle;
    Place place;
    int id;
    HFONT* font;
    bool checked = false;           // a radio button that starts checked
    WNDPROC filter = nullptr;       // an edit's character filter, set before its up-down exists
    WNDPROC* editProc = nullptr;    // where the edit's own procedure is kept for the filter
    LPARAM range = 0;               // an up-down: its range; its buddy is the control before it
    int position = 0;
};

static const char* const noText = nullptr;
static const char* LanguageTexts::*const fixed = nullptr;

// Every page control, in creation order. The left rotation button turns clockwise (+90): it carries
// the "rotate right" text. The erosion edit needs no filter of its own: ES_NUMBER lets only digits be
// typed. Both margin edits had the EDIT class's procedure, so one saved procedure serves them both.
// UDS_ALIGNRIGHT moves an up-down into its buddy's rectangle, so it is created empty. The unit labels
// are 50 pixels wide: "0.1mm" needs 37 to 44 in the panel's font, depending on the face the system
// substitutes, and 30 would show "0.1m".
static const PageControl pageControls[] = {
    {RotationPage, &hRadioLeft, "BUTTON", &LanguageTexts::rotateRight, noText, firstRadioStyle, 0, {30, 50, 180, 25},
     IDC_ROTATE_RIGHT, &hFont, true},
    {RotationPage, &hRadioRight, "BUTTON", &LanguageTexts::rotateLeft, noText, radioStyle, 0, {220, 50, 180, 25},
     IDC_ROTATE_LEFT, &hFont},
    {RotationPage, &hDropArea, "STATIC", &LanguageTexts::dropImage, noText, dropAreaStyle, 0, {20, 85, 440, 280},
     IDC_DROP_AREA, &hDropFont},
    {ErosionPage, &hErosionLabel, "STATIC", &LanguageTexts::erosionLabel, noText, plainStyle, 0, {30, 50, 150, 25},
     IDC_EROSION_LABEL, &hFont},
    {ErosionPage, &hErosionEdit, "EDIT", fixed, "1", digitsStyle, WS_EX_CLIENTEDGE, {190, 48, 60, 25}, IDC_EROSION_EDIT,
     &hFont},
    {ErosionPage, &hErosionSpin, "msctls_updown32", fixed, noText, upDownStyle, 0, {0, 0, 0, 0}, IDC_EROSION_SPIN,
     nullptr, false, nullptr, nullptr, MAKELPARAM(50, 1), 1},
    {ErosionPage, &hErosionDropArea, "STATIC", &LanguageTexts::dropMonoBmp, noText, dropAreaStyle, 0,
     {20, 85, 440, 280}, IDC_EROSION_DROP_AREA, &hDropFont},
    {MarginsPage, &hMarginCornerLabel, "STATIC", &LanguageTexts::cornerLabel, noText, plainStyle, 0, {30, 50, 200, 20},
     IDC_CORNER_LABEL, &hFont},
    {MarginsPage, &hMarginCornerTL, "BUTTON", &LanguageTexts::cornerTopLeft, noText, firstRadioStyle, 0,
     {30, 75, 120, 20}, IDC_CORNER_TOP_LEFT, &hFont},
    {MarginsPage, &hMarginCornerTR, "BUTTON", &LanguageTexts::cornerTopRight, noText, radioStyle, 0, {160, 75, 120, 20},
     IDC_CORNER_TOP_RIGHT, &hFont},
    {MarginsPage, &hMarginCornerBL, "BUTTON", &LanguageTexts::cornerBottomLeft, noText, radioStyle, 0,
     {30, 100, 120, 20}, IDC_CORNER_BOTTOM_LEFT, &hFont},
    {MarginsPage, &hMarginCornerBR, "BUTTON", &LanguageTexts::cornerBottomRight, noText, radioStyle, 0,
     {160, 100, 120, 20}, IDC_CORNER_BOTTOM_RIGHT, &hFont, true},
    {MarginsPage, &hMarginHLabel, "STATIC", &LanguageTexts::marginHLabel, noText, plainStyle, 0, {30, 135, 150, 20},
     IDC_MARGIN_H_LABEL, &hFont},
    {MarginsPage, &hMarginHEdit, "EDIT", fixed, "0", plainStyle, WS_EX_CLIENTEDGE, {190, 133, 60, 23},
     IDC_MARGIN_H_EDIT, &hFont, false, SignedNumberEditProc, &oldEditProc},
    {MarginsPage, &hMarginHSpin, "msctls_updown32", fixed, noText, upDownStyle, 0, {0, 0, 0, 0}, IDC_MARGIN_H_SPIN,
     nullptr, false, nullptr, nullptr, MAKELPARAM(500, -500), 0},
    {MarginsPage, &hMarginHUnitLabel, "STATIC", fixed, "0.1mm", plainStyle, 0, {255, 135, 50, 20}, 0, &hFont},
    {MarginsPage, &hMarginVLabel, "STATIC", &LanguageTexts::marginVLabel, noText, plainStyle, 0, {30, 165, 150, 20},
     IDC_MARGIN_V_LABEL, &hFont},
    {MarginsPage, &hMarginVEdit, "EDIT", fixed, "0", plainStyle, WS_EX_CLIENTEDGE, {190, 163, 60, 23},
     IDC_MARGIN_V_EDIT, &hFont, false, SignedNumberEditProc},
    {MarginsPage, &hMarginVSpin, "msctls_updown32", fixed, noText, upDownStyle, 0, {0, 0, 0, 0}, IDC_MARGIN_V_SPIN,
     nullptr, false, nullptr, nullptr, MAKELPARAM(500, -500), 0},
    {MarginsPage, &hMarginVUnitLabel, "STATIC", fixed, "0.1mm", plainStyle, 0, {255, 165, 50, 20}, 0, &hFont},
    {MarginsPage, &hMarginDropArea, "STATIC", &LanguageTexts::dropBmp, noText, dropAreaStyle, 0, {20, 195, 440, 170},
     IDC_MARGIN_DROP_AREA, &hDropFont},
    {ScalePage, &hScaleXLabel, "STATIC", &LanguageTexts::scaleXLabel, noText, plainStyle, 0, {30, 50, 150, 20},
     IDC_SCALE_X_LABEL, &hFont},
    {ScalePage, &hScaleXEdit, "EDIT", fixed, "1.0000", plainStyle, WS_EX_CLIENTEDGE, {190, 48, 80, 23},
     IDC_SCALE_X_EDIT, &hFont, false, DecimalNumberEditProc, &oldScaleEditProc},
    {ScalePage, &hScaleYLabel, "STATIC", &LanguageTexts::scaleYLabel, noText, plainStyle, 0, {30, 80, 150, 20},
     IDC_SCALE_Y_LABEL, &hFont},
    {ScalePage, &hScaleYEdit, "EDIT", fixed, "1.0000", plainStyle, WS_EX_CLIENTEDGE, {190, 78, 80, 23},
     IDC_SCALE_Y_EDIT, &hFont, false, DecimalNumberEditProc},
    {ScalePage, &hScaleDropArea, "STATIC", &LanguageTexts::dropScaleImage, noText, dropAreaStyle, 0,
     {20, 115, 440, 250}, IDC_SCALE_DROP_AREA, &hDropFont},
};

// Creates one page control with its special steps. An up-down's position writes its buddy's text,
// whose EN_CHANGE already reaches the settings during WM_CREATE.
static void CreatePageControl(HWND window, const PageControl& control, HWND previous)
{
    const char* text = control.text ? texts->*control.text : control.fixedText;
    HWND created = CreateControl(window, control.className, text, control.style, control.exStyle, control.place,
                                 control.id);
    *control.handle = created;
    if (control.font) SetFont(created, *control.font);
    if (control.checked) SendMessageA(created, BM_SETCHECK, BST_CHECKED, 0);
    if (control.filter) {
        auto own = SetWindowLongPtrA(created, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(control.filter));
        if (control.editProc) *control.editProc = reinterpret_cast<WNDPROC>(own);
    }
    if (control.range) {
        SendMessageA(created, UDM_SETBUDDY, reinterpret_cast<WPARAM>(previous), 0);
        SendMessageA(created, UDM_SETRANGE, 0, control.range);
        SendMessageA(created, UDM_SETPOS, 0, control.position);
    }
}

// Shows the controls of page `index` (any index past Margins means Scale) and hides all others.
static void ShowPage(int index)
{
    int shown = (index >= RotationPage && index <= MarginsPage) ? index : ScalePage;
    for (const PageControl& control : pageControls) {
        ShowWindow(*control.handle, control.page == shown ? SW_SHOW : SW_HIDE);
    }
}

void CreatePanel(HWND window)
{
    CreateTabControl(window);
    HWND previous = hTabControl;
    for (const PageControl& control : pageControls) {
        CreatePageControl(window, control, previous);
        previous = *control.handle;
    }
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

// Only typed characters are filtered: pasted text and the up-down's writes pass unchecked. A digit
// or control key goes on to the edit's own procedure `old`, and `sign` only where `fits` lets it in.
static LRESULT FilterTyped(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, unsigned char sign,
                           bool (*fits)(HWND), WNDPROC old)
{
    if (message == WM_CHAR) {
        unsigned char typed = static_cast<unsigned char>(wParam & 0xFF);
        if (!IsDigitOrControl(typed) && !(typed == sign && fits(edit))) {
            return 0;
        }
    }
    return CallWindowProcA(old, edit, message, wParam, lParam);
}

LRESULT CALLBACK SignedNumberEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    return FilterTyped(edit, message, wParam, lParam, '-', MinusFits, oldEditProc);
}

LRESULT CALLBACK DecimalNumberEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    return FilterTyped(edit, message, wParam, lParam, '.', PointFits, oldScaleEditProc);
}
