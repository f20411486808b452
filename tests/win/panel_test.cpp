// The control panel on the real main window: which controls each page shows, the radio groups,
// the character filters of the number fields, the up-down limits and the settings they feed.
#include "main_window.h"

#include "messages/texts.h"

#include <algorithm>
#include <cstring>
#include <vector>

using Panel = MainWindowTest;

static const int rotationPage[] = {IDC_ROTATE_RIGHT, IDC_ROTATE_LEFT, IDC_DROP_AREA};
static const int erosionPage[] = {IDC_EROSION_LABEL, IDC_EROSION_EDIT, IDC_EROSION_SPIN, IDC_EROSION_DROP_AREA};
static const int marginsPage[] = {IDC_CORNER_LABEL,       IDC_CORNER_TOP_LEFT,     IDC_CORNER_TOP_RIGHT,
                                  IDC_CORNER_BOTTOM_LEFT, IDC_CORNER_BOTTOM_RIGHT, IDC_MARGIN_H_LABEL,
                                  IDC_MARGIN_H_EDIT,      IDC_MARGIN_H_SPIN,       IDC_MARGIN_V_LABEL,
                                  IDC_MARGIN_V_EDIT,      IDC_MARGIN_V_SPIN,       IDC_MARGIN_DROP_AREA};
static const int scalePage[] = {IDC_SCALE_X_LABEL, IDC_SCALE_X_EDIT, IDC_SCALE_Y_LABEL, IDC_SCALE_Y_EDIT,
                                IDC_SCALE_DROP_AREA};

// The tab strip plus the given page's controls.
template <size_t N>
static std::set<HWND> PageWithTabs(const Panel& panel, const int (&ids)[N])
{
    std::set<HWND> controls{panel.Control(IDC_TAB)};
    for (int id : ids) {
        HWND control = panel.Control(id);
        EXPECT_NE(control, nullptr) << id;
        controls.insert(control);
    }
    return controls;
}

TEST_F(Panel, StartsOnTheRotationPageWithTheDefaultsShown)
{
    EXPECT_EQ(VisibleChildren(), PageWithTabs(*this, rotationPage));
    EXPECT_EQ(SendMessageA(Control(IDC_TAB), TCM_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(SendMessageA(Control(IDC_TAB), TCM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_TRUE(Checked(IDC_ROTATE_RIGHT));
    EXPECT_FALSE(Checked(IDC_ROTATE_LEFT));
    EXPECT_EQ(Text(IDC_ROTATE_RIGHT), texts->rotateRight);
    EXPECT_TRUE(Checked(IDC_CORNER_BOTTOM_RIGHT));
    EXPECT_EQ(Text(IDC_EROSION_EDIT), "1");
    EXPECT_EQ(Text(IDC_MARGIN_H_EDIT), "0");
    EXPECT_EQ(Text(IDC_MARGIN_V_EDIT), "0");
    EXPECT_EQ(Text(IDC_SCALE_X_EDIT), "1.0000");
    EXPECT_EQ(Text(IDC_SCALE_Y_EDIT), "1.0000");
    // Building the panel writes the edits through their up-downs; the settings must not move.
    EXPECT_EQ(erosionPixels, 1);
    EXPECT_EQ(horizontalMarginMM, 0);
    EXPECT_EQ(verticalMarginMM, 0);
}

TEST_F(Panel, EachTabShowsExactlyItsOwnControls)
{
    PickTab(1);
    EXPECT_EQ(currentTab, 1);
    EXPECT_EQ(VisibleChildren(), PageWithTabs(*this, erosionPage));

    PickTab(2);
    EXPECT_EQ(currentTab, 2);
    std::set<HWND> margins = PageWithTabs(*this, marginsPage);
    std::set<HWND> units = UnitLabels();
    EXPECT_EQ(units.size(), 2u);
    margins.insert(units.begin(), units.end());
    EXPECT_EQ(margins.size(), 15u);  // fourteen page controls and the tab strip
    EXPECT_EQ(VisibleChildren(), margins);
    EXPECT_TRUE(Checked(IDC_CORNER_BOTTOM_RIGHT));

    PickTab(3);
    EXPECT_EQ(currentTab, 3);
    EXPECT_EQ(VisibleChildren(), PageWithTabs(*this, scalePage));

    PickTab(0);
    EXPECT_EQ(currentTab, 0);
    EXPECT_EQ(VisibleChildren(), PageWithTabs(*this, rotationPage));
}

TEST_F(Panel, OnlyASelectionChangeFromTheTabControlSwitchesPages)
{
    PickTab(2, IDC_ROTATE_RIGHT);
    PickTab(2, IDC_TAB, TCN_SELCHANGING);
    PickTab(2, IDC_TAB, NM_CLICK);
    EXPECT_EQ(currentTab, 0);
    EXPECT_EQ(VisibleChildren(), PageWithTabs(*this, rotationPage));
}

// Both choices are radio groups of their own: a click in one leaves the other as it was.
TEST_F(Panel, CornerAndRotationChoicesAreIndependent)
{
    PickTab(2);
    SendMessageA(Control(IDC_CORNER_BOTTOM_LEFT), BM_CLICK, 0, 0);
    EXPECT_EQ(selectedCorner, BottomLeft);
    EXPECT_TRUE(Checked(IDC_CORNER_BOTTOM_LEFT));
    EXPECT_FALSE(Checked(IDC_CORNER_BOTTOM_RIGHT));
    EXPECT_TRUE(Checked(IDC_ROTATE_RIGHT));
    EXPECT_EQ(rotationAngle, 90);

    PickTab(0);
    SendMessageA(Control(IDC_ROTATE_LEFT), BM_CLICK, 0, 0);
    EXPECT_EQ(rotationAngle, -90);
    EXPECT_TRUE(Checked(IDC_ROTATE_LEFT));
    EXPECT_FALSE(Checked(IDC_ROTATE_RIGHT));
    EXPECT_TRUE(Checked(IDC_CORNER_BOTTOM_LEFT));
    EXPECT_EQ(selectedCorner, BottomLeft);
}

// Puts `text` in the edit, selects [start, end) and types one character.
static std::string TypeInto(HWND edit, const char* text, int start, int end, char typed)
{
    SetWindowTextA(edit, text);
    SendMessageA(edit, EM_SETSEL, start, end);
    SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(typed), 1);
    char result[64] = "";
    GetWindowTextA(edit, result, sizeof result);
    return result;
}

struct Keystroke {
    const char* text;
    int start, end;
    char typed;
    const char* expected;
};

static const Keystroke marginKeystrokes[] = {
    {"12", 0, 0, '-', "-12"},   {"-12", 0, 0, '-', "-12"}, {"-12", 1, 1, '-', "-12"}, {"-12", 3, 3, '-', "-12"},
    {"12", 1, 1, '-', "12"},    {"12", 2, 2, '-', "12"},   {"-12", 0, 3, '-', "-"},   {"-12", 0, 1, '-', "-12"},
    {"", 0, 0, '-', "-"},       {"12", 2, 2, '7', "127"},  {"12", 0, 0, '0', "012"},  {"12", 2, 2, '\b', "1"},
    {"12", 2, 2, 'a', "12"},    {"12", 2, 2, 'Z', "12"},   {"12", 2, 2, ' ', "12"},   {"12", 2, 2, '+', "12"},
    {"12", 2, 2, '.', "12"},    {"12", 2, 2, ',', "12"},   {"12", 0, 2, 'x', "12"},   {"12", 2, 2, '\xE9', "12"},
};

static const Keystroke scaleKeystrokes[] = {
    {"1.0000", 6, 6, '.', "1.0000"}, {"1.0000", 0, 6, '.', "1.0000"}, {"1.0000", 1, 2, '.', "1.0000"},
    {"10000", 1, 1, '.', "1.0000"},  {"10000", 0, 0, '.', ".10000"},  {"1000", 4, 4, '.', "1000."},
    {"10000", 0, 5, '.', "."},       {"1.5", 3, 3, '2', "1.52"},      {"1.5", 3, 3, '\b', "1."},
    {"1.5", 0, 0, '-', "1.5"},       {"1.5", 3, 3, 'e', "1.5"},       {"1.5", 3, 3, ' ', "1.5"},
    {"1.5", 3, 3, ',', "1.5"},       {"1.5", 3, 3, '+', "1.5"},       {"1.5", 0, 3, 'q', "1.5"},
};

TEST_F(Panel, MarginEditsTakeDigitsAndOneLeadingMinus)
{
    for (int id : {IDC_MARGIN_H_EDIT, IDC_MARGIN_V_EDIT}) {
        for (const Keystroke& k : marginKeystrokes) {
            EXPECT_EQ(TypeInto(Control(id), k.text, k.start, k.end, k.typed), k.expected)
                << "edit " << id << ": '" << k.typed << "' into \"" << k.text << "\" at " << k.start << ".." << k.end;
        }
    }
}

TEST_F(Panel, ScaleEditsTakeDigitsAndOnePointAnywhere)
{
    for (int id : {IDC_SCALE_X_EDIT, IDC_SCALE_Y_EDIT}) {
        for (const Keystroke& k : scaleKeystrokes) {
            EXPECT_EQ(TypeInto(Control(id), k.text, k.start, k.end, k.typed), k.expected)
                << "edit " << id << ": '" << k.typed << "' into \"" << k.text << "\" at " << k.start << ".." << k.end;
        }
    }
}

TEST_F(Panel, ErosionEditTakesDigitsOnly)
{
    HWND edit = Control(IDC_EROSION_EDIT);
    EXPECT_EQ(TypeInto(edit, "1", 1, 1, '2'), "12");
    for (char typed : {'-', '.', 'a', ' '}) {
        EXPECT_EQ(TypeInto(edit, "1", 1, 1, typed), "1") << typed;
    }
}

static void PutOnClipboard(const char* text)
{
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, std::strlen(text) + 1);
    std::memcpy(GlobalLock(memory), text, std::strlen(text) + 1);
    GlobalUnlock(memory);
    SetClipboardData(CF_TEXT, memory);
    CloseClipboard();
}

static std::string ClipboardText()
{
    std::string text;
    if (!OpenClipboard(nullptr)) return text;
    HANDLE data = GetClipboardData(CF_TEXT);
    if (data) {
        text = static_cast<const char*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

// Ctrl+C, Ctrl+X and Ctrl+V arrive as WM_CHAR 3, 24 and 22; pasted text itself is not filtered.
TEST_F(Panel, FilteredEditsLetClipboardKeysThrough)
{
    for (int id : {IDC_MARGIN_H_EDIT, IDC_MARGIN_V_EDIT, IDC_SCALE_X_EDIT, IDC_SCALE_Y_EDIT}) {
        HWND edit = Control(id);
        PutOnClipboard("");
        EXPECT_EQ(TypeInto(edit, "42", 0, 2, 3), "42") << id;
        EXPECT_EQ(ClipboardText(), "42") << id;
        EXPECT_EQ(TypeInto(edit, "42", 0, 2, 24), "") << id;
        PutOnClipboard("a-.");
        EXPECT_EQ(TypeInto(edit, "4", 1, 1, 22), "4a-.") << id;
    }
}

// Arrow keys on an edit step its up-down, as they do while the edit has the focus.
static std::string PressArrow(HWND edit, UINT key, int times)
{
    for (int i = 0; i < times; ++i) {
        SendMessageA(edit, WM_KEYDOWN, key, 1);
        SendMessageA(edit, WM_KEYUP, key, 0xC0000001);
    }
    char text[32] = "";
    GetWindowTextA(edit, text, sizeof text);
    return text;
}

TEST_F(Panel, ErosionUpDownStepsFrom1To50WithoutWrapping)
{
    PickTab(1);
    HWND spin = Control(IDC_EROSION_SPIN);
    HWND edit = Control(IDC_EROSION_EDIT);
    int lowest = 0, highest = 0;
    SendMessageA(spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lowest), reinterpret_cast<LPARAM>(&highest));
    EXPECT_EQ(lowest, 1);
    EXPECT_EQ(highest, 50);

    EXPECT_EQ(PressArrow(edit, VK_UP, 2), "3");
    EXPECT_EQ(erosionPixels, 3);
    SendMessageA(spin, UDM_SETPOS32, 0, 49);
    EXPECT_EQ(PressArrow(edit, VK_UP, 3), "50");
    EXPECT_EQ(erosionPixels, 50);
    SendMessageA(spin, UDM_SETPOS32, 0, 2);
    EXPECT_EQ(PressArrow(edit, VK_DOWN, 3), "1");
    EXPECT_EQ(erosionPixels, 1);
}

TEST_F(Panel, MarginUpDownsStepFromMinus500To500WithoutSeparators)
{
    PickTab(2);
    struct Pair { int spin, edit; int* setting; };
    for (Pair pair : {Pair{IDC_MARGIN_H_SPIN, IDC_MARGIN_H_EDIT, &horizontalMarginMM},
                      Pair{IDC_MARGIN_V_SPIN, IDC_MARGIN_V_EDIT, &verticalMarginMM}}) {
        HWND spin = Control(pair.spin);
        HWND edit = Control(pair.edit);
        int lowest = 0, highest = 0;
        SendMessageA(spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lowest), reinterpret_cast<LPARAM>(&highest));
        EXPECT_EQ(lowest, -500);
        EXPECT_EQ(highest, 500);

        EXPECT_EQ(PressArrow(edit, VK_DOWN, 1), "-1");
        EXPECT_EQ(*pair.setting, -1);
        SendMessageA(spin, UDM_SETPOS32, 0, 498);
        EXPECT_EQ(PressArrow(edit, VK_UP, 4), "500");
        EXPECT_EQ(*pair.setting, 500);
        SendMessageA(spin, UDM_SETPOS32, 0, -498);
        EXPECT_EQ(PressArrow(edit, VK_DOWN, 4), "-500");
        EXPECT_EQ(*pair.setting, -500);
    }
}

TEST_F(Panel, TypingIntoTheEditsUpdatesTheSettings)
{
    HWND margin = Control(IDC_MARGIN_H_EDIT);
    TypeInto(margin, "", 0, 0, '-');
    EXPECT_EQ(horizontalMarginMM, 0);  // a lone minus reads as 0
    SendMessageA(margin, WM_CHAR, '4', 1);
    SendMessageA(margin, WM_CHAR, '2', 1);
    EXPECT_EQ(horizontalMarginMM, -42);
    TypeInto(Control(IDC_MARGIN_V_EDIT), "60", 2, 2, '0');
    EXPECT_EQ(verticalMarginMM, 500);

    HWND scale = Control(IDC_SCALE_X_EDIT);
    TypeInto(scale, "1.0000", 0, 6, '0');
    SendMessageA(scale, WM_CHAR, '.', 1);
    SendMessageA(scale, WM_CHAR, '5', 1);
    EXPECT_EQ(Text(scale), "0.5");
    EXPECT_DOUBLE_EQ(scaleFactorX, 0.5);
    TypeInto(Control(IDC_SCALE_Y_EDIT), "1.0000", 0, 6, '\b');
    EXPECT_DOUBLE_EQ(scaleFactorY, 0.0001);

    TypeInto(Control(IDC_EROSION_EDIT), "1", 0, 1, '7');
    EXPECT_EQ(erosionPixels, 7);
}

static RECT ChildRect(HWND window, HWND child)
{
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

static HFONT FontOf(HWND control)
{
    return reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
}

static bool IsDropArea(const Panel& panel, HWND control)
{
    for (int id : {IDC_DROP_AREA, IDC_EROSION_DROP_AREA, IDC_MARGIN_DROP_AREA, IDC_SCALE_DROP_AREA}) {
        if (control == panel.Control(id)) return true;
    }
    return false;
}

TEST_F(Panel, ControlsLieOnTheTabControlWithoutTabStopsInThePanelsFonts)
{
    RECT tab = ChildRect(window, Control(IDC_TAB));
    EXPECT_EQ(tab.left, 10);
    EXPECT_EQ(tab.top, 10);
    EXPECT_EQ(tab.right, 470);
    EXPECT_EQ(tab.bottom, 390);
    HFONT panelFont = FontOf(Control(IDC_TAB)), dropFont = FontOf(Control(IDC_DROP_AREA));
    ASSERT_NE(panelFont, nullptr);
    ASSERT_NE(dropFont, nullptr);
    EXPECT_NE(panelFont, dropFont);
    int children = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT), ++children) {
        RECT rect = ChildRect(window, child);
        EXPECT_TRUE(rect.left >= 10 && rect.top >= 10 && rect.right <= 470 && rect.bottom <= 390) << Text(child);
        // Every control with a text has one of the panel's fonts; the up-downs show none.
        char className[32] = "";
        GetClassNameA(child, className, sizeof className);
        if (std::strcmp(className, "msctls_updown32") != 0) {
            EXPECT_EQ(FontOf(child), IsDropArea(*this, child) ? dropFont : panelFont) << Text(child);
        }
        LONG style = GetWindowLongA(child, GWL_STYLE);
        // Checking a radio button makes it a tab stop by itself, so the two checked ones are left out.
        bool checkedRadio = SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED;
        EXPECT_EQ((style & WS_TABSTOP) != 0, checkedRadio) << Text(child);
        bool startsGroup = child == Control(IDC_ROTATE_RIGHT) || child == Control(IDC_CORNER_TOP_LEFT);
        EXPECT_EQ((style & WS_GROUP) != 0, startsGroup) << Text(child);
    }
    EXPECT_EQ(children, 27);
    // The unit labels sit right of the margin edits, wide enough for "0.1mm" in their font.
    std::vector<RECT> units;
    for (HWND unit : UnitLabels()) units.push_back(ChildRect(window, unit));
    std::sort(units.begin(), units.end(), [](const RECT& a, const RECT& b) { return a.top < b.top; });
    ASSERT_EQ(units.size(), 2u);
    HDC screen = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(screen, panelFont);
    SIZE text{};
    GetTextExtentPoint32A(screen, "0.1mm", 5, &text);
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    ASSERT_GT(text.cx, 0);
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(units[row].left, 255);
        EXPECT_EQ(units[row].top, 135 + 30 * row);
        EXPECT_GE(units[row].right - units[row].left, text.cx);
        EXPECT_LE(units[row].right, 460);
        EXPECT_EQ(units[row].bottom - units[row].top, 20);
    }
    for (int id : {IDC_DROP_AREA, IDC_EROSION_DROP_AREA, IDC_MARGIN_DROP_AREA, IDC_SCALE_DROP_AREA}) {
        RECT rect = ChildRect(window, Control(id));
        EXPECT_EQ(rect.left, 20) << id;
        EXPECT_EQ(rect.right, 460) << id;
        EXPECT_EQ(rect.bottom, 365) << id;
    }
}
